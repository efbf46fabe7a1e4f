// Reader commands: information, settings, the tag buffer, what the reader
// sends by itself, and the transparent pass-through.
#include <cstdio>
#include <iostream>

#include "cli/tags.h"
#include "cli/target.h"
#include "commands.h"
#include "context.h"
#include "morvent.h"

namespace morvent_cli {
namespace {

std::string hex_byte(std::uint8_t value) { return "0x" + to_hex(&value, 1); }

// ---- reader information ------------------------------------------------

struct ReaderInfo {
    std::uint8_t address = 0;
    std::uint8_t bytes[11] = {};  // infoPair, info2..info6, scanTime, info8..info10
};

ReaderInfo read_info(Context& context) {
    ReaderInfo info;
    std::uint8_t* b = info.bytes;
    info.address = *context.address();
    context.check(GetReaderInformation(&info.address, b, b + 2, b + 3, b + 4, b + 5, b + 6, b + 7, b + 8, b + 9,
                                       b + 10, context.handle()));
    return info;
}

int run_info(Context& context, const Arguments&) {
    ReaderInfo info = read_info(context);
    Document document;
    document.status = MORVENT_OK;
    document.add("reader_address", Value::text(hex_byte(info.address)));
    document.add("port_index", Value::number(context.handle()));
    document.add("information", Value::text(to_hex(info.bytes, 11, " ")));
    document.add("scan_time_ms", Value::number(info.bytes[7] * 100));
    context.emit(document);
    return 0;
}

// ---- settings ----------------------------------------------------------

using Values = std::vector<std::string>;
using Parser = Bytes (*)(const Values& values, const std::string& name);
using Setter = int (*)(std::uint8_t* address, const Bytes& value, int port);
using Getter = void (*)(Context& context, Document& document);

struct Setting {
    const char* name;
    const char* value_help;
    const char* help;
    Parser parse;
    Setter set;    // nullptr: read only
    Getter get;    // nullptr: write only
};

std::string joined(const Values& values) {
    std::string text;
    for (const std::string& value : values) text += (text.empty() ? "" : " ") + value;
    return text;
}

template <std::size_t N>
Bytes byte_values(const Values& values, const std::string& name) {
    return parse_byte_list(joined(values), N, name);
}

Bytes baud_value(const Values& values, const std::string& name) {
    if (values.size() != 1) throw UsageError(name + ": needs one rate or code");
    return {parse_baud(values[0])};
}

Bytes serial_value(const Values& values, const std::string& name) {
    if (values.size() != 1) throw UsageError(name + ": needs one number");
    auto number = static_cast<unsigned long>(parse_number(values[0], name, 0, 0xFFFFFFFFL));
    return {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
}

// HEX [BANK [BIT [BITS]]], or "none": bank, two address bytes, bit count, mask.
Bytes mask_value(const Values& values, const std::string& name) {
    if (values.size() == 1 && values[0] == "none") return {1, 0, 32, 0};
    if (values.empty() || values.size() > 4) throw UsageError(name + ": needs HEX [BANK [BIT [BITS]]] or none");
    Arguments arguments;
    const char* keys[] = {"mask", "mask-bank", "mask-addr", "mask-bits"};
    for (std::size_t i = 0; i < values.size(); ++i) arguments.set_value(keys[i], values[i]);
    Selection selection;
    parse_selection(arguments, selection);
    Bytes value{selection.bank, selection.address[0], selection.address[1], selection.bits};
    value.insert(value.end(), selection.mask.begin(), selection.mask.end());
    return value;
}

Bytes no_value(const Values& values, const std::string& name) {
    if (!values.empty()) throw UsageError(name + " takes no value");
    return {};
}

int set_mask(std::uint8_t* address, const Bytes& v, int port) {
    std::uint8_t mask_address[2] = {v[1], v[2]};
    std::uint8_t mask[32] = {};
    std::copy(v.begin() + 4, v.end(), mask);
    return SetMask(address, v[0], mask_address, v[3], mask, port);
}

int set_serial(std::uint8_t* address, const Bytes& v, int port) {
    int number = static_cast<int>(static_cast<unsigned>(v[0]) | static_cast<unsigned>(v[1]) << 8 |
                                  static_cast<unsigned>(v[2]) << 16 | static_cast<unsigned>(v[3]) << 24);
    return SetSeriaNo(address, &number, port);
}

int set_clock(std::uint8_t* address, const Bytes& v, int port) {
    std::uint8_t clock[6];
    std::copy(v.begin(), v.end(), clock);
    return SetReal_timeClock(address, clock, port);
}

void get_address(Context& context, Document& document) {
    document.add("address", Value::text(hex_byte(read_info(context).address)));
}

void get_scan_time(Context& context, Document& document) {
    document.add("scan_time", Value::number(read_info(context).bytes[7]));
}

// A getter reading one byte through `read`.
template <int (*Read)(unsigned char*, unsigned char*, int)>
void get_byte(Context& context, Document& document, const char* key) {
    std::uint8_t value = 0;
    context.check(Read(context.address(), &value, context.handle()));
    document.add(key, Value::number(value));
}

void get_rev_delay(Context& context, Document& document) { get_byte<GetRevDelay>(context, document, "rev_delay"); }
void get_gpio(Context& context, Document& document) { get_byte<GetGPIOStatus>(context, document, "gpio"); }

void get_clock(Context& context, Document& document) {
    std::uint8_t clock[6] = {};
    context.check(GetTime(context.address(), clock, context.handle()));
    std::string text;
    for (std::uint8_t b : clock) text += (text.empty() ? "" : ",") + std::to_string(b);
    document.add("clock", Value::text(text));
}

void get_serial(Context& context, Document& document) {
    int number = 0;
    context.check(GetSeriaNo(context.address(), &number, context.handle()));
    document.add("serial", Value::number(static_cast<unsigned>(number)));
}

void get_system(Context& context, Document& document) {
    std::uint8_t p[6] = {}, bank = 0, mask_address[2] = {}, bits = 0, mask[32] = {}, ext[3] = {};
    context.check(GetSystemParameter(context.address(), p, p + 1, p + 2, p + 3, p + 4, p + 5, &bank, mask_address, &bits,
                                     mask, ext, ext + 1, ext + 2, context.handle()));
    document.add("system_parameters", Value::text(to_hex(p, 6, " ")));
    document.add("auto_mask_bank", Value::number(bank));
    document.add("auto_mask_address", Value::number(mask_address[0] << 8 | mask_address[1]));
    document.add("auto_mask_bits", Value::number(bits));
    document.add("auto_mask", Value::text(to_hex(mask, (bits + 7u) / 8u)));
    document.add("extension", Value::text(to_hex(ext, 3, " ")));
}

#define SET1(call) [](std::uint8_t* a, const Bytes& v, int port) { return call(a, v[0], port); }
#define SET2(call) [](std::uint8_t* a, const Bytes& v, int port) { return call(a, v[0], v[1], port); }

const Setting kSettings[] = {
    {"power", "P", "RF output power (reader units)", byte_values<1>, SET1(SetRfPower), nullptr},
    {"region", "HIGH,LOW", "the two region bytes", byte_values<2>, SET2(SetRegion), nullptr},
    {"scan-time", "T", "inventory scan time in 100 ms units", byte_values<1>, SET1(SetInventoryScanTime),
     get_scan_time},
    {"address", "A", "the reader's address", byte_values<1>, SET1(SetAddress), get_address},
    {"baud", "RATE", "serial rate: 9600, 19200, 38400, 57600, 115200 (or code 0,1,2,5,6)", baud_value,
     SET1(SetBaudRate), nullptr},
    {"work-mode", "M", "work mode byte (answer mode or active mode)", byte_values<1>, SET1(SetWorkMode), nullptr},
    {"eas-sensitivity", "S", "EAS sensitivity", byte_values<1>, SET1(SetEASSensitivity), nullptr},
    {"auto-mask", "HEX [BANK [BIT [BITS]]]|none", "selection mask of the active mode", mask_value, set_mask,
     nullptr},
    {"auto-response", "R1,R2", "the two response parameters of the active mode", byte_values<2>,
     SET2(SetResponsePamametersofAuto_runningMode), nullptr},
    {"interval", "I", "inventory interval of the active mode", byte_values<1>, SET1(SetInventoryInterval), nullptr},
    {"tag-type", "T", "tag type of the active mode", byte_values<1>, SET1(SelectTagType), nullptr},
    {"antenna", "A", "antenna multiplexing", byte_values<1>, SET1(SetAntennaMultiplexing), nullptr},
    {"beep", "B", "beep on a tag in the active mode", byte_values<1>, SET1(SetBeepNotification), nullptr},
    {"trigger-time", "T", "trigger time", byte_values<1>, SET1(SetTriggerTime), nullptr},
    {"tid", "ADDR,LEN", "TID address and length of the active mode", byte_values<2>, SET2(SetTIDParameter),
     nullptr},
    {"buzzer-led", "C1,C2,C3", "drive the buzzer and LED with three control bytes", byte_values<3>,
     [](std::uint8_t* a, const Bytes& v, int port) { return BuzzerAndLEDControl(a, v[0], v[1], v[2], port); },
     nullptr},
    {"relay", "R", "relay setting", byte_values<1>, SET1(SetRelay), nullptr},
    {"gpio", "OUT", "GPIO outputs (get: the GPIO status byte)", byte_values<1>, SET1(SetGPIO), get_gpio},
    {"pulse", "P", "notification pulse output", byte_values<1>, SET1(SetNotificationPulseOutput), nullptr},
    {"rev-delay", "D", "the reader's delay setting", byte_values<1>, SET1(SetRevDelay), get_rev_delay},
    {"clock", "B0,..,B5", "real-time clock, six bytes in the reader's order", byte_values<6>, set_clock, get_clock},
    {"serial", "N", "the reader's serial number", serial_value, set_serial, get_serial},
    {"system", "", "the system parameters: work mode bytes, active-mode mask, extension bytes", no_value, nullptr,
     get_system},
};

#undef SET1
#undef SET2

const Setting& find_setting(const std::string& name) {
    for (const Setting& setting : kSettings) {
        if (name == setting.name) return setting;
    }
    std::string names;
    for (const Setting& setting : kSettings) names += std::string(names.empty() ? "" : ", ") + setting.name;
    throw UsageError("unknown setting '" + name + "'; settings are: " + names);
}

int run_config_list(Context& context, const Arguments&) {
    Document document;
    document.table_key = "settings";
    document.table = Table{{"setting", "value", "get", "set", "meaning"}, {}};
    for (const Setting& s : kSettings) {
        document.table->rows.push_back({Value::text(s.name), Value::text(s.value_help), Value::boolean(s.get != nullptr),
                                        Value::boolean(s.set != nullptr), Value::text(s.help)});
    }
    context.emit(document);
    return 0;
}

int run_config_get(Context& context, const Arguments& arguments) {
    std::vector<const Setting*> chosen;
    for (const std::string& name : arguments.operands()) {
        const Setting& setting = find_setting(name);
        if (!setting.get) throw UsageError("setting '" + name + "' cannot be read back; the reader only takes it");
        chosen.push_back(&setting);
    }
    if (chosen.empty()) {
        for (const Setting& setting : kSettings) {
            if (setting.get) chosen.push_back(&setting);
        }
    }
    Document document;
    for (const Setting* setting : chosen) setting->get(context, document);
    context.emit(document);
    return 0;
}

int run_config_set(Context& context, const Arguments& arguments) {
    const Values& operands = arguments.operands();
    if (operands.empty()) throw UsageError("needs a setting name and its value (see morvent config list)");
    const Setting& setting = find_setting(operands[0]);
    if (!setting.set) throw UsageError("setting '" + operands[0] + "' is read only");
    Bytes value = setting.parse(Values(operands.begin() + 1, operands.end()), operands[0]);
    std::uint8_t* address = context.address();
    context.check(setting.set(address, value, context.handle()), "config set " + operands[0]);
    Document document;
    document.status = MORVENT_OK;
    document.add("setting", Value::text(setting.name)).add("value", Value::text(joined(Values(operands.begin() + 1, operands.end()))));
    context.emit(document);
    return 0;
}

// ---- tag buffer --------------------------------------------------------

int run_buffer_read(Context& context, const Arguments&) {
    std::uint8_t records[5000];
    int count = 0;
    context.check(GetTagBufferInfo(context.address(), records, &count, context.handle()));
    if (count < 0 || count > static_cast<int>(sizeof records)) count = 0;
    BufferWalk walk = split_buffer_records(records, static_cast<std::size_t>(count));
    Document document;
    document.add("record_count", Value::number(static_cast<long long>(walk.records.size())));
    document.table_key = "records";
    document.table = Table{{"record", "head", "data"}, {}};
    for (std::size_t i = 0; i < walk.records.size(); ++i) {
        document.table->rows.push_back({Value::number(static_cast<long long>(i + 1)),
                                        Value::text(to_hex(walk.records[i].head)),
                                        Value::text(to_hex(walk.records[i].tail))});
    }
    context.emit(document);
    return 0;
}

int run_buffer_clear(Context& context, const Arguments&) {
    context.check(ClearTagBuffer(context.address(), context.handle()));
    Document document;
    document.status = MORVENT_OK;
    context.emit(document);
    return 0;
}

// ---- active mode -------------------------------------------------------

void print_frame(const Context& context, const Bytes& frame) {
    std::string time = clock_text(std::chrono::system_clock::now());
    if (context.json) {
        std::cout << "{\"time\": " << json_quote(time) << ", \"frame\": " << json_quote(to_hex(frame)) << "}\n";
    } else {
        std::cout << time << "  " << to_hex(frame, " ") << "\n";
    }
    std::cout << std::flush;
}

int run_active(Context& context, const Arguments& arguments) {
    long seconds = arguments.has("seconds") ? parse_number(*arguments.value("seconds"), "--seconds", 1, 86400) : 0;
    long frames_wanted = arguments.has("frames") ? parse_number(*arguments.value("frames"), "--frames", 1, 1000000) : 0;
    int port = context.handle();
    FrameSplitter splitter;
    long frames_seen = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    catch_interrupts(true);
    context.note("showing what the reader sends by itself; Ctrl-C stops");
    while (!interrupted() && (seconds == 0 || std::chrono::steady_clock::now() < end) &&
           (frames_wanted == 0 || frames_seen < frames_wanted)) {
        std::uint8_t data[MORVENT_RECEIVE_BUFFER];
        int count = 0;
        int status = ReadActiveModeData(data, &count, port);
        // Nothing waiting (serial) or nothing within a second (TCP): poll again.
        if (status == MORVENT_NO_DATA || (status == MORVENT_COMM_ERROR && context.network)) {
            if (!context.network) pause_unless_interrupted(20);
            continue;
        }
        context.check(status);
        if (count < 0 || count > static_cast<int>(sizeof data)) count = 0;
        for (const Bytes& frame : splitter.feed(data, static_cast<std::size_t>(count))) {
            print_frame(context, frame);
            ++frames_seen;
        }
    }
    catch_interrupts(false);
    return 0;
}

// ---- transparent command -----------------------------------------------

int run_raw(Context& context, const Arguments& arguments) {
    if (arguments.operands().size() != 1) throw UsageError("needs exactly one HEX operand");
    Bytes data = parse_hex(arguments.operands()[0], "HEX");
    if (data.size() > 250) throw UsageError("HEX: at most 250 bytes, got " + std::to_string(data.size()));
    std::uint8_t parameter = parse_byte(arguments.value("param").value_or("0"), "--param");
    std::uint8_t length = 0;
    std::uint8_t answer[256] = {};
    std::uint8_t* address = context.address();
    context.check(TransparentCMD(address, parameter, static_cast<std::uint8_t>(data.size()), data.data(), &length,
                                 answer, context.handle()));
    Document document;
    document.status = MORVENT_OK;
    document.add("answer", Value::text(to_hex(answer, length, " "))).add("answer_length", Value::number(length));
    context.emit(document);
    return 0;
}

std::string settings_help() {
    std::string text = "Settings:\n";
    for (const Setting& s : kSettings) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-16s %-28s %s%s\n", s.name, s.value_help, s.help,
                      s.get ? "" : " (set only)");
        text += line;
    }
    return text;
}

}  // namespace

const std::vector<CommandSpec>& reader_commands() {
    static const std::string settings = settings_help();
    static const std::vector<CommandSpec> commands = {
        {"info", "", "show the reader's address and information bytes", {}, "", run_info},
        {"config list", "", "list every setting, its value form and whether it can be read back", {}, "",
         run_config_list},
        {"config get", "[SETTING...]", "read settings back from the reader (all readable ones by default)", {},
         settings.c_str(), run_config_get},
        {"config set", "SETTING VALUE...", "change a setting", {},
         settings.c_str(), run_config_set},
        {"buffer read", "", "show the records in the reader's tag buffer", {}, "", run_buffer_read},
        {"buffer clear", "", "empty the reader's tag buffer", {}, "", run_buffer_clear},
        {"active", "", "print the frames the reader sends by itself (active mode), until Ctrl-C",
         {{"seconds", "S", "stop after S seconds"}, {"frames", "N", "stop after N frames"}},
         "Frames are cut by their length byte; each is printed with the time it arrived.\n"
         "With --json, one JSON object per line.",
         run_active},
        {"raw", "HEX", "pass bytes to the reader (transparent command) and print its answer",
         {{"param", "P", "the parameter byte sent before the bytes (default 0)"}}, "", run_raw},
    };
    return commands;
}

}  // namespace morvent_cli

// Reader commands: information, settings, the tag buffer, what the reader
// sends by itself, and the transparent pass-through.
#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <iostream>

#include "cli/tags.h"
#include "cli/target.h"
#include "commands.h"
#include "context.h"
#include "morvent.hpp"

namespace morvent_cli {
namespace {

std::string hex_byte(std::uint8_t value) { return "0x" + to_hex(&value, 1); }

// ---- reader information ------------------------------------------------

// The answers the settings are read back from, each fetched once per run.
struct Readings {
    Context& context;
    std::optional<std::array<std::uint8_t, 12>> info;    // address, then the 11 information bytes
    std::optional<std::array<std::uint8_t, 45>> system;  // the system parameters' bytes in answer order

    const std::array<std::uint8_t, 12>& information() {
        if (!info) {
            morvent::ReaderInfo answer = context.reader().info();
            std::array<std::uint8_t, 12> v{};
            v[0] = answer.address;
            std::copy(answer.raw.begin(), answer.raw.end(), v.begin() + 1);
            info = v;
        }
        return *info;
    }

    const std::array<std::uint8_t, 45>& system_parameters() {
        if (!system) {
            morvent::SystemParameters p = context.reader().systemParameters();
            std::array<std::uint8_t, 45> v{};
            v[0] = p.workMode;
            v[1] = p.easSensitivity;
            v[2] = p.triggerTime;
            v[3] = p.response[0];
            v[4] = p.response[1];
            v[5] = p.inventoryInterval;
            v[6] = static_cast<std::uint8_t>(p.mask.bank);
            v[7] = static_cast<std::uint8_t>(p.mask.bitAddress >> 8);
            v[8] = static_cast<std::uint8_t>(p.mask.bitAddress);
            v[9] = static_cast<std::uint8_t>(p.mask.bitLength);
            std::copy_n(p.mask.bits.begin(), std::min<std::size_t>(p.mask.bits.size(), 32), v.begin() + 10);
            v[42] = p.tagType;
            v[43] = p.antenna;
            v[44] = p.beep;
            system = v;
        }
        return *system;
    }
};

// Where each information byte sits (after the address at 0) and what it is.
struct InfoField {
    const char* key;
    int at;
    int count;
};
const InfoField kInfoFields[] = {
    {"version", 1, 2}, {"reader_type", 3, 1}, {"protocols", 4, 1}, {"region", 5, 2},
    {"power", 7, 1},   {"scan_time", 8, 1},   {"baud_code", 9, 1},  {"tid_parameter", 10, 2},
};

std::string byte_list(const std::uint8_t* bytes, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(bytes[i]);
    return text;
}

Value bytes_value(const std::uint8_t* bytes, int count) {
    return count == 1 ? Value::number(bytes[0]) : Value::numbers(bytes, static_cast<std::size_t>(count));
}

// The two region bytes as the reader reports them: the top two bits of each
// byte together give the band, the low six bits the highest and the lowest
// frequency point used.
Value region_value(const std::uint8_t* bytes) {
    int band = (bytes[0] >> 6) << 2 | bytes[1] >> 6;
    int high = bytes[0] & 0x3F, low = bytes[1] & 0x3F;
    Json json{{"bytes", {bytes[0], bytes[1]}}, {"band", band}, {"low_point", low}, {"high_point", high}};
    return Value::custom(json, "band " + std::to_string(band) + ", points " + std::to_string(low) + ".." +
                                   std::to_string(high) + " (bytes " + byte_list(bytes, 2) + ")");
}

int run_info(Context& context, const Arguments&) {
    Readings readings{context, {}, {}};
    const auto& info = readings.information();
    Document document;
    document.status = MORVENT_OK;
    document.add("reader_address", Value::custom(Json(info[0]), hex_byte(info[0])));
    document.add("port_index", Value::number(context.reader().port()));
    document.add("link", Value::text(context.link));
    for (const InfoField& field : kInfoFields) {
        if (std::string(field.key) == "region") document.add("region", region_value(&info[field.at]));
        else document.add(field.key, bytes_value(&info[field.at], field.count));
    }
    document.add("scan_time_ms", Value::number(info[8] * 100));
    document.add("baud", Value::number(baud_rate_of_code(info[9])));
    document.add("information", Value::text(to_hex(info.data() + 1, 11, " ")));
    context.emit(document);
    return 0;
}

// ---- settings ----------------------------------------------------------

using Values = std::vector<std::string>;
using Parser = Bytes (*)(const Values& values, const std::string& name);
using Setter = void (*)(morvent::Reader& reader, const Bytes& value);
using Query = Value (*)(Context& context);

// Where a setting is read back from: bytes of the reader information, bytes
// of the system parameters, the mask in them, a query of its own, or nowhere.
enum class Source { None, Info, System, Mask, Query };

struct Setting {
    const char* name;
    const char* value_help;
    const char* help;
    Parser parse;
    Setter set;  // nullptr: read only
    Source source;
    int at;      // first byte in the information or system parameters
    int count;
    Query query = nullptr;
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
    if (values.size() == 1 && values[0] == "none") return {1, 0, 0, 0};
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

void set_mask(morvent::Reader& reader, const Bytes& v) {
    morvent::Mask mask;
    mask.bank = static_cast<morvent::Bank>(v[0]);
    mask.bitAddress = static_cast<std::uint16_t>(v[1] << 8 | v[2]);
    mask.bitLength = v[3];
    mask.bits.assign(v.begin() + 4, v.end());
    reader.setMask(mask);
}

// Leaving the active mode: frames the reader sends by itself may spoil the
// answer, so drain what has arrived and ask again, a few times at most.
void set_work_mode(morvent::Reader& reader, const Bytes& v) {
    for (int attempt = 0;; ++attempt) {
        try {
            reader.setWorkMode(v[0]);
            return;
        } catch (const morvent::Error& error) {
            const int status = error.status();
            const bool spoiled =
                status == MORVENT_COMM_ERROR || status == MORVENT_CRC_ERROR || status == MORVENT_CMD_MISMATCH;
            if (!spoiled || attempt == 3) throw;
        }
        try {
            reader.readActiveModeData();
        } catch (const morvent::Error&) {
            // Nothing to drain is as good as drained.
        }
    }
}

void set_serial(morvent::Reader& reader, const Bytes& v) {
    reader.setSerialNumber(static_cast<std::uint32_t>(v[0]) | static_cast<std::uint32_t>(v[1]) << 8 |
                           static_cast<std::uint32_t>(v[2]) << 16 | static_cast<std::uint32_t>(v[3]) << 24);
}

void set_clock(morvent::Reader& reader, const Bytes& v) {
    morvent::Clock clock{};
    std::copy_n(v.begin(), clock.size(), clock.begin());
    reader.setClock(clock);
}

void set_baud(morvent::Reader& reader, const Bytes& v) {
    reader.setBaudRate(static_cast<int>(baud_rate_of_code(v[0])));
}

Value query_gpio(Context& context) { return Value::number(context.reader().gpio()); }
Value query_rev_delay(Context& context) { return Value::number(context.reader().revDelay()); }

Value query_clock(Context& context) {
    morvent::Clock clock = context.reader().clock();
    return Value::numbers(clock.data(), clock.size());
}

Value query_serial(Context& context) { return Value::number(context.reader().serialNumber()); }

// The auto-mask as it is set: HEX BANK BIT BITS.
Value read_mask(Readings& readings) {
    const auto& p = readings.system_parameters();
    std::uint8_t bits = p[9];
    if (bits == 0) return Value::custom(Json(nullptr), "none");
    std::string mask = to_hex(&p[10], (bits + 7u) / 8u);
    int bit = p[7] << 8 | p[8];
    Json json{{"mask", mask}, {"bank", {{"code", p[6]}, {"name", bank_name(p[6])}}}, {"bit", bit}, {"bits", bits}};
    return Value::custom(json, mask + " " + std::to_string(p[6]) + " " + std::to_string(bit) + " " + std::to_string(bits));
}

Value read_setting(const Setting& setting, Readings& readings) {
    switch (setting.source) {
        case Source::Info:
            if (std::string(setting.name) == "region") return region_value(&readings.information()[setting.at]);
            return bytes_value(&readings.information()[setting.at], setting.count);
        case Source::System: return bytes_value(&readings.system_parameters()[setting.at], setting.count);
        case Source::Mask: return read_mask(readings);
        case Source::Query: return setting.query(readings.context);
        case Source::None: break;
    }
    return Value::null();
}

#define SET1(method) [](morvent::Reader& r, const Bytes& v) { r.method(v[0]); }
#define SET2(method) [](morvent::Reader& r, const Bytes& v) { r.method(v[0], v[1]); }

// System parameter bytes: 0 work mode, 1 EAS sensitivity, 2 trigger time,
// 3-4 auto response, 5 interval, 6-41 mask, 42 tag type, 43 antenna, 44 beep.
const Setting kSettings[] = {
    {"power", "P", "RF output power", byte_values<1>, SET1(setPower), Source::Info, 7, 1},
    {"region", "B1,B2", "the two region bytes", byte_values<2>, SET2(setRegion), Source::Info, 5, 2},
    {"scan-time", "T", "inventory scan time in 100 ms units", byte_values<1>, SET1(setScanTime),
     Source::Info, 8, 1},
    {"address", "A", "the reader's address", byte_values<1>, SET1(setAddress), Source::Info, 0, 1},
    {"baud", "RATE", "serial rate 9600..115200 (or code 0,1,2,5,6), read back as its code; reopen with --baud", baud_value,
     set_baud, Source::Info, 9, 1},
    {"work-mode", "M", "work mode: 0 answer mode, 1 active mode, 2 trigger mode", byte_values<1>,
     set_work_mode, Source::System, 0, 1},
    {"eas-sensitivity", "S", "EAS sensitivity", byte_values<1>, SET1(setEasSensitivity), Source::System, 1, 1},
    {"trigger-time", "T", "trigger time", byte_values<1>, SET1(setTriggerTime), Source::System, 2, 1},
    {"auto-response", "R1,R2", "the two response parameters of the active mode", byte_values<2>,
     SET2(setAutoResponse), Source::System, 3, 2},
    {"interval", "I", "active-mode inventory interval", byte_values<1>, SET1(setInventoryInterval), Source::System,
     5, 1},
    {"auto-mask", "HEX [BANK [BIT [BITS]]]|none", "selection mask of the active mode", mask_value, set_mask,
     Source::Mask, 0, 0},
    {"tag-type", "T", "active-mode tag type: 0 Gen2, 1 ISO 18000-6B", byte_values<1>, SET1(setTagType),
     Source::System, 42, 1},
    {"antenna", "A", "antenna multiplexing", byte_values<1>, SET1(setAntenna), Source::System, 43, 1},
    {"beep", "B", "beep on a tag in the active mode", byte_values<1>, SET1(setBeep), Source::System, 44,
     1},
    {"tid", "ADDR,LEN", "active-mode TID word address and word count", byte_values<2>, SET2(setTidParameters),
     Source::Info, 10, 2},
    {"buzzer-led", "C1,C2,C3", "drive the buzzer and LED with three control bytes", byte_values<3>,
     [](morvent::Reader& r, const Bytes& v) { r.buzzerAndLed(v[0], v[1], v[2]); },
     Source::None, 0, 0},
    {"relay", "R", "relay setting", byte_values<1>, SET1(setRelay), Source::None, 0, 0},
    {"gpio", "OUT", "GPIO outputs (read back: the GPIO status byte)", byte_values<1>, SET1(setGpio), Source::Query,
     0, 1, query_gpio},
    {"pulse", "P", "notification pulse output", byte_values<1>, SET1(setNotificationPulse), Source::None, 0,
     0},
    {"rev-delay", "D", "the reader's delay setting", byte_values<1>, SET1(setRevDelay), Source::Query, 0, 1,
     query_rev_delay},
    {"clock", "Y,M,D,h,m,s", "real-time clock, six bytes (year - 2000 first)", byte_values<6>, set_clock,
     Source::Query, 0, 6, query_clock},
    {"serial", "N", "the reader's serial number", serial_value, set_serial, Source::Query, 0, 4, query_serial},
};

#undef SET1
#undef SET2

// The JSON key of a setting: "scan-time" -> "scan_time".
std::string setting_key(const char* name) {
    std::string key = name;
    std::replace(key.begin(), key.end(), '-', '_');
    return key;
}

// Names are taken as listed or in their snake_case JSON spelling.
const Setting& find_setting(const std::string& name) {
    for (const Setting& setting : kSettings) {
        if (name == setting.name || name == setting_key(setting.name)) return setting;
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
        document.table->rows.push_back({Value::text(s.name), Value::text(s.value_help), Value::boolean(s.source != Source::None),
                                        Value::boolean(s.set != nullptr), Value::text(s.help)});
    }
    context.emit(document);
    return 0;
}

int run_config_get(Context& context, const Arguments& arguments) {
    std::vector<const Setting*> chosen;
    for (const std::string& name : arguments.operands()) {
        const Setting& setting = find_setting(name);
        if (setting.source == Source::None) throw UsageError("setting '" + name + "' cannot be read back; the reader only takes it");
        chosen.push_back(&setting);
    }
    if (chosen.empty()) {
        for (const Setting& setting : kSettings) {
            if (setting.source != Source::None) chosen.push_back(&setting);
        }
    }
    Readings readings{context, {}, {}};
    Document document;
    for (const Setting* setting : chosen) document.add(setting_key(setting->name), read_setting(*setting, readings));
    context.emit(document);
    return 0;
}

int run_config_set(Context& context, const Arguments& arguments) {
    const Values& operands = arguments.operands();
    if (operands.empty()) throw UsageError("needs a setting name and its value (see morvent config list)");
    const Setting& setting = find_setting(operands[0]);
    if (!setting.set) throw UsageError("setting '" + operands[0] + "' is read only");
    Bytes value = setting.parse(Values(operands.begin() + 1, operands.end()), operands[0]);
    morvent::Reader& reader = context.reader();
    try {
        setting.set(reader, value);
    } catch (const morvent::Error& error) {
        throw context.failure(error, "config set " + operands[0]);
    }
    Document document;
    document.status = MORVENT_OK;
    document.add("setting", Value::text(setting.name)).add("value", Value::text(joined(Values(operands.begin() + 1, operands.end()))));
    context.emit(document);
    return 0;
}

// ---- tag buffer --------------------------------------------------------

int run_buffer_read(Context& context, const Arguments&) {
    std::vector<morvent::BufferRecord> records = context.reader().tagBuffer();
    Document document;
    document.add("record_count", Value::number(static_cast<long long>(records.size())));
    document.table_key = "records";
    document.table = Table{{"record", "id", "type", "antenna", "count", "last_seen"}, {}};
    for (std::size_t i = 0; i < records.size(); ++i) {
        const morvent::BufferRecord& r = records[i];
        document.table->rows.push_back({Value::number(static_cast<long long>(i + 1)), Value::text(to_hex(r.id)),
                                        Value::coded(r.tagType, r.tagType == 0 ? "gen2" : r.tagType == 1 ? "6b" : "type"),
                                        Value::number(r.antenna), Value::number(r.readCount),
                                        Value::numbers(r.lastSeen.data(), r.lastSeen.size())});
    }
    context.emit(document);
    return 0;
}

int run_buffer_clear(Context& context, const Arguments&) {
    context.reader().clearTagBuffer();
    Document document;
    document.status = MORVENT_OK;
    context.emit(document);
    return 0;
}

// ---- active mode -------------------------------------------------------

bool frame_intact(const std::uint8_t* frame, std::size_t size) { return morvent::frameIntact(frame, size); }

// The EPC a Gen2 tag frame of the active mode carries: its data is one
// inventory record (length byte, EPC, maybe a TID). Empty when it is not.
std::string frame_epc(const Bytes& frame) {
    if (frame.size() < 7) return {};
    const std::uint8_t* data = frame.data() + 4;
    std::size_t size = frame.size() - 6;
    for (bool with_tid : {false, true}) {
        RecordWalk walk = split_tag_records(data, size, with_tid);
        if (walk.tags.size() == 1 && walk.rest.empty()) return to_hex(walk.tags[0].epc);
    }
    return {};
}

const std::vector<std::string> kFrameColumns{"time", "frame", "epc"};

void print_frame(const Context& context, const Bytes& frame) {
    std::vector<Value> row{Value::time(std::chrono::system_clock::now()), Value::text(to_hex(frame)),
                           Value::text(frame_epc(frame))};
    if (context.json) std::cout << row_json(kFrameColumns, row).dump() << "\n";
    else if (context.format == Format::Csv) std::cout << csv_row(row);
    else std::cout << row[0].as_text() << "  " << to_hex(frame, " ") << "\n";
    std::cout << std::flush;
}

// Serial reads in one turn at most: enough to empty a full driver queue,
// few enough that a reader that never pauses still lets the frames show.
constexpr int kSerialReadsPerTurn = 160;

// One turn of reading what the reader sent by itself: MORVENT_OK with bytes,
// MORVENT_NO_DATA for silence, else the link's failure.
// Serial: a read takes what is queued, at most 50 bytes, and leaves the rest
// queued in order; so a turn reads until the queue is empty (MORVENT_NO_DATA)
// and the next turn follows at most 1 ms later (50 bytes take 4.3 ms at
// 115200 bit/s). Network: a read waits up to a second; a time-out is
// silence, while a closed connection reads as nothing at once.
int read_active(Context& context, Bytes& data) {
    data.clear();
    bool drained = false;
    try {
        for (int read = 0; read < kSerialReadsPerTurn && !drained; ++read) {
            const Bytes got = context.reader().readActiveModeData();
            data.insert(data.end(), got.begin(), got.end());
            drained = got.empty() || context.network;
        }
    } catch (const morvent::Error& error) {
        if (!data.empty()) return MORVENT_OK;  // shown first; the failure comes back with the next read
        if (context.network && error.status() == MORVENT_COMM_ERROR) return MORVENT_NO_DATA;
        return error.status();
    }
    if (context.network) return data.empty() ? MORVENT_COMM_ERROR : MORVENT_OK;
    if (drained) pause_one_millisecond();
    return data.empty() ? MORVENT_NO_DATA : MORVENT_OK;
}

int run_active(Context& context, const Arguments& arguments) {
    long seconds = arguments.has("seconds") ? parse_number(*arguments.value("seconds"), "--seconds", 1, 86400) : 0;
    long frames_wanted = arguments.has("frames") ? parse_number(*arguments.value("frames"), "--frames", 1, 1000000) : 0;
    context.reader();
    FrameSplitter splitter(frame_intact);
    long frames_seen = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    catch_interrupts(true);
    context.note("showing what the reader sends by itself; Ctrl-C stops");
    Bytes data;
    FineTimer fine_timer;  // 1 ms pauses between serial reads
    if (context.format == Format::Csv) std::cout << csv_line(kFrameColumns) << std::flush;
    while (!interrupted() && (seconds == 0 || std::chrono::steady_clock::now() < end) &&
           (frames_wanted == 0 || frames_seen < frames_wanted)) {
        int status = read_active(context, data);
        if (status == MORVENT_NO_DATA) continue;
        if (is_link_failure(status)) {
            if (!context.reconnect(status)) break;
            continue;
        }
        context.check(status);
        for (const Bytes& frame : splitter.feed(data.data(), data.size())) {
            if (frames_wanted != 0 && frames_seen == frames_wanted) break;
            print_frame(context, frame);
            ++frames_seen;
        }
    }
    catch_interrupts(false);
    if (splitter.discarded() > 0) {
        context.warn(std::to_string(splitter.discarded()) + " byte(s) that formed no intact frame were skipped");
    }
    if (context.reconnects > 0) context.warn("the link was reopened " + std::to_string(context.reconnects) + " time(s)");
    return 0;
}

// ---- transparent command -----------------------------------------------

int run_raw(Context& context, const Arguments& arguments) {
    if (arguments.operands().size() != 1) throw UsageError("needs exactly one HEX operand");
    Bytes data = parse_hex(arguments.operands()[0], "HEX");
    if (data.size() > 250) throw UsageError("HEX: at most 250 bytes, got " + std::to_string(data.size()));
    std::uint8_t parameter = parse_byte(arguments.value("param").value_or("0"), "--param");
    Bytes answer = context.reader().transparent(parameter, data);
    Document document;
    document.status = MORVENT_OK;
    document.add("answer", Value::text(to_hex(answer, " ")))
        .add("answer_length", Value::number(static_cast<long long>(answer.size())));
    context.emit(document);
    return 0;
}

std::string settings_help() {
    std::string text = "Settings:\n";
    for (const Setting& s : kSettings) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-16s %-28s %s%s\n", s.name, s.value_help, s.help,
                      s.source != Source::None ? "" : " (set only)");
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
         "Frames are cut by their length byte; each is printed with the time it arrived\n"
         "and, for a Gen2 tag, its EPC. With --json one JSON object per line, with\n"
         "--csv one CSV row. A link that fails is reopened and the command goes on.",
         run_active, ""},
        {"raw", "HEX", "pass bytes to the reader (transparent command) and print its answer",
         {{"param", "P", "the parameter byte sent before the bytes (default 0)"}}, "", run_raw},
    };
    return commands;
}

}  // namespace morvent_cli

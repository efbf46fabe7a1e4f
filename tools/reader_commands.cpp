// Reader commands: information, settings, the tag buffer, what the reader
// sends by itself, and the transparent pass-through.
#include <algorithm>
#include <array>
#include <cstdio>
#include <iostream>
#include <optional>

#include "cli/tags.h"
#include "cli/target.h"
#include "commands.h"
#include "context.h"
#include "morvent.hpp"

namespace morvent_cli {
namespace {

std::string hexByte(std::uint8_t value) { return "0x" + toHex(&value, 1); }

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

    const std::array<std::uint8_t, 45>& systemParameters() {
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
    {"power", 7, 1},   {"scan_time", 8, 1},   {"baud_code", 9, 1}, {"tid_parameter", 10, 2},
};

std::string byteList(const std::uint8_t* bytes, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(bytes[i]);
    return text;
}

Value bytesValue(const std::uint8_t* bytes, int count) {
    return count == 1 ? Value::number(bytes[0]) : Value::numbers(bytes, static_cast<std::size_t>(count));
}

// The two region bytes as the reader reports them: the top two bits of each
// byte together give the band, the low six bits the highest and the lowest
// frequency point used.
Value regionValue(const std::uint8_t* bytes) {
    int band = (bytes[0] >> 6) << 2 | bytes[1] >> 6;
    int high = bytes[0] & 0x3F, low = bytes[1] & 0x3F;
    Json json{{"bytes", {bytes[0], bytes[1]}}, {"band", band}, {"low_point", low}, {"high_point", high}};
    return Value::custom(json, "band " + std::to_string(band) + ", points " + std::to_string(low) + ".." +
                                   std::to_string(high) + " (bytes " + byteList(bytes, 2) + ")");
}

int runInfo(Context& context, const Arguments&) {
    Readings readings{context, {}, {}};
    const auto& info = readings.information();
    Document document;
    document.status = MORVENT_OK;
    document.add("reader_address", Value::custom(Json(info[0]), hexByte(info[0])));
    document.add("port_index", Value::number(context.reader().port()));
    document.add("link", Value::text(context.link));
    for (const InfoField& field : kInfoFields) {
        if (std::string(field.key) == "region") document.add("region", regionValue(&info[field.at]));
        else document.add(field.key, bytesValue(&info[field.at], field.count));
    }
    document.add("scan_time_ms", Value::number(info[8] * 100));
    document.add("baud", Value::number(baudRateOfCode(info[9])));
    document.add("information", Value::text(toHex(info.data() + 1, 11, " ")));
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
    int at;  // first byte in the information or system parameters
    int count;
    Query query = nullptr;
};

std::string joined(const Values& values) {
    std::string text;
    for (const std::string& value : values) text += (text.empty() ? "" : " ") + value;
    return text;
}

template <std::size_t N>
Bytes byteValues(const Values& values, const std::string& name) {
    return parseByteList(joined(values), N, name);
}

Bytes baudValue(const Values& values, const std::string& name) {
    if (values.size() != 1) throw UsageError(name + ": needs one rate or code");
    return {parseBaud(values[0])};
}

Bytes serialValue(const Values& values, const std::string& name) {
    if (values.size() != 1) throw UsageError(name + ": needs one number");
    auto number = static_cast<unsigned long>(parseNumber(values[0], name, 0, 0xFFFFFFFFL));
    return {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
}

// HEX [BANK [BIT [BITS]]], or "none": bank, two address bytes, bit count, mask.
Bytes maskValue(const Values& values, const std::string& name) {
    if (values.size() == 1 && values[0] == "none") return {1, 0, 0, 0};
    if (values.empty() || values.size() > 4) throw UsageError(name + ": needs HEX [BANK [BIT [BITS]]] or none");
    Arguments arguments;
    const char* keys[] = {"mask", "mask-bank", "mask-addr", "mask-bits"};
    for (std::size_t i = 0; i < values.size(); ++i) arguments.setValue(keys[i], values[i]);
    Selection selection;
    parseSelection(arguments, selection);
    Bytes value{selection.bank, selection.address[0], selection.address[1], selection.bits};
    value.insert(value.end(), selection.mask.begin(), selection.mask.end());
    return value;
}

void setMask(morvent::Reader& reader, const Bytes& v) {
    morvent::Mask mask;
    mask.bank = static_cast<morvent::Bank>(v[0]);
    mask.bitAddress = static_cast<std::uint16_t>(v[1] << 8 | v[2]);
    mask.bitLength = v[3];
    mask.bits.assign(v.begin() + 4, v.end());
    reader.setMask(mask);
}

// Leaving the active mode: frames the reader sends by itself may spoil the
// answer, so drain what has arrived and ask again, a few times at most.
void setWorkMode(morvent::Reader& reader, const Bytes& v) {
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

void setSerial(morvent::Reader& reader, const Bytes& v) {
    reader.setSerialNumber(static_cast<std::uint32_t>(v[0]) | static_cast<std::uint32_t>(v[1]) << 8 |
                           static_cast<std::uint32_t>(v[2]) << 16 | static_cast<std::uint32_t>(v[3]) << 24);
}

void setClock(morvent::Reader& reader, const Bytes& v) {
    morvent::Clock clock{};
    std::copy_n(v.begin(), clock.size(), clock.begin());
    reader.setClock(clock);
}

void setBaud(morvent::Reader& reader, const Bytes& v) { reader.setBaudRate(static_cast<int>(baudRateOfCode(v[0]))); }

Value queryGpio(Context& context) { return Value::number(context.reader().gpio()); }
Value queryRevDelay(Context& context) { return Value::number(context.reader().revDelay()); }

Value queryClock(Context& context) {
    morvent::Clock clock = context.reader().clock();
    return Value::numbers(clock.data(), clock.size());
}

Value querySerial(Context& context) { return Value::number(context.reader().serialNumber()); }

// The auto-mask as it is set: HEX BANK BIT BITS.
Value readMask(Readings& readings) {
    const auto& p = readings.systemParameters();
    std::uint8_t bits = p[9];
    if (bits == 0) return Value::custom(Json(nullptr), "none");
    std::string mask = toHex(&p[10], (bits + 7u) / 8u);
    int bit = p[7] << 8 | p[8];
    Json json{{"mask", mask}, {"bank", {{"code", p[6]}, {"name", bankName(p[6])}}}, {"bit", bit}, {"bits", bits}};
    return Value::custom(json,
                         mask + " " + std::to_string(p[6]) + " " + std::to_string(bit) + " " + std::to_string(bits));
}

Value readSetting(const Setting& setting, Readings& readings) {
    switch (setting.source) {
    case Source::Info:
        if (std::string(setting.name) == "region") return regionValue(&readings.information()[setting.at]);
        return bytesValue(&readings.information()[setting.at], setting.count);
    case Source::System: return bytesValue(&readings.systemParameters()[setting.at], setting.count);
    case Source::Mask: return readMask(readings);
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
    {"power", "P", "RF output power", byteValues<1>, SET1(setPower), Source::Info, 7, 1},
    {"region", "B1,B2", "the two region bytes", byteValues<2>, SET2(setRegion), Source::Info, 5, 2},
    {"scan-time", "T", "inventory scan time in 100 ms units", byteValues<1>, SET1(setScanTime), Source::Info, 8, 1},
    {"address", "A", "the reader's address", byteValues<1>, SET1(setAddress), Source::Info, 0, 1},
    {"baud", "RATE", "serial rate 9600..115200 (or code 0,1,2,5,6), read back as its code; reopen with --baud",
     baudValue, setBaud, Source::Info, 9, 1},
    {"work-mode", "M", "work mode: 0 answer mode, 1 active mode, 2 trigger mode", byteValues<1>, setWorkMode,
     Source::System, 0, 1},
    {"eas-sensitivity", "S", "EAS sensitivity", byteValues<1>, SET1(setEasSensitivity), Source::System, 1, 1},
    {"trigger-time", "T", "trigger time", byteValues<1>, SET1(setTriggerTime), Source::System, 2, 1},
    {"auto-response", "R1,R2", "the two response parameters of the active mode", byteValues<2>, SET2(setAutoResponse),
     Source::System, 3, 2},
    {"interval", "I", "active-mode inventory interval", byteValues<1>, SET1(setInventoryInterval), Source::System, 5,
     1},
    {"auto-mask", "HEX [BANK [BIT [BITS]]]|none", "selection mask of the active mode", maskValue, setMask, Source::Mask,
     0, 0},
    {"tag-type", "T", "active-mode tag type: 0 Gen2, 1 ISO 18000-6B", byteValues<1>, SET1(setTagType), Source::System,
     42, 1},
    {"antenna", "A", "antenna multiplexing", byteValues<1>, SET1(setAntenna), Source::System, 43, 1},
    {"beep", "B", "beep on a tag in the active mode", byteValues<1>, SET1(setBeep), Source::System, 44, 1},
    {"tid", "ADDR,LEN", "active-mode TID word address and word count", byteValues<2>, SET2(setTidParameters),
     Source::Info, 10, 2},
    {"buzzer-led", "C1,C2,C3", "drive the buzzer and LED with three control bytes", byteValues<3>,
     [](morvent::Reader& r, const Bytes& v) { r.buzzerAndLed(v[0], v[1], v[2]); }, Source::None, 0, 0},
    {"relay", "R", "relay setting", byteValues<1>, SET1(setRelay), Source::None, 0, 0},
    {"gpio", "OUT", "GPIO outputs (read back: the GPIO status byte)", byteValues<1>, SET1(setGpio), Source::Query, 0, 1,
     queryGpio},
    {"pulse", "P", "notification pulse output", byteValues<1>, SET1(setNotificationPulse), Source::None, 0, 0},
    {"rev-delay", "D", "the reader's delay setting", byteValues<1>, SET1(setRevDelay), Source::Query, 0, 1,
     queryRevDelay},
    {"clock", "Y,M,D,h,m,s", "real-time clock, six bytes (year - 2000 first)", byteValues<6>, setClock, Source::Query,
     0, 6, queryClock},
    {"serial", "N", "the reader's serial number", serialValue, setSerial, Source::Query, 0, 4, querySerial},
};

#undef SET1
#undef SET2

// The JSON key of a setting: "scan-time" -> "scan_time".
std::string settingKey(const char* name) {
    std::string key = name;
    std::replace(key.begin(), key.end(), '-', '_');
    return key;
}

// Names are taken as listed or in their snake_case JSON spelling.
const Setting& findSetting(const std::string& name) {
    for (const Setting& setting : kSettings) {
        if (name == setting.name || name == settingKey(setting.name)) return setting;
    }
    std::string names;
    for (const Setting& setting : kSettings) names += std::string(names.empty() ? "" : ", ") + setting.name;
    throw UsageError("unknown setting '" + name + "'; settings are: " + names);
}

int runConfigList(Context& context, const Arguments&) {
    Document document;
    document.table_key = "settings";
    document.table = Table{{"setting", "value", "get", "set", "meaning"}, {}};
    for (const Setting& s : kSettings) {
        document.table->rows.push_back({Value::text(s.name), Value::text(s.value_help),
                                        Value::boolean(s.source != Source::None), Value::boolean(s.set != nullptr),
                                        Value::text(s.help)});
    }
    context.emit(document);
    return 0;
}

int runConfigGet(Context& context, const Arguments& arguments) {
    std::vector<const Setting*> chosen;
    for (const std::string& name : arguments.operands()) {
        const Setting& setting = findSetting(name);
        if (setting.source == Source::None)
            throw UsageError("setting '" + name + "' cannot be read back; the reader only takes it");
        chosen.push_back(&setting);
    }
    if (chosen.empty()) {
        for (const Setting& setting : kSettings) {
            if (setting.source != Source::None) chosen.push_back(&setting);
        }
    }
    Readings readings{context, {}, {}};
    Document document;
    for (const Setting* setting : chosen) document.add(settingKey(setting->name), readSetting(*setting, readings));
    context.emit(document);
    return 0;
}

int runConfigSet(Context& context, const Arguments& arguments) {
    const Values& operands = arguments.operands();
    if (operands.empty()) throw UsageError("needs a setting name and its value (see morvent config list)");
    const Setting& setting = findSetting(operands[0]);
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
    document.add("setting", Value::text(setting.name))
        .add("value", Value::text(joined(Values(operands.begin() + 1, operands.end()))));
    context.emit(document);
    return 0;
}

// ---- tag buffer --------------------------------------------------------

int runBufferRead(Context& context, const Arguments&) {
    std::vector<morvent::BufferRecord> records = context.reader().tagBuffer();
    Document document;
    document.add("record_count", Value::number(static_cast<long long>(records.size())));
    document.table_key = "records";
    document.table = Table{{"record", "id", "type", "antenna", "count", "last_seen"}, {}};
    for (std::size_t i = 0; i < records.size(); ++i) {
        const morvent::BufferRecord& r = records[i];
        document.table->rows.push_back({Value::number(static_cast<long long>(i + 1)), Value::text(toHex(r.id)),
                                        Value::coded(r.tagType, r.tagType == 0   ? "gen2"
                                                                : r.tagType == 1 ? "6b"
                                                                                 : "type"),
                                        Value::number(r.antenna), Value::number(r.readCount),
                                        Value::numbers(r.lastSeen.data(), r.lastSeen.size())});
    }
    context.emit(document);
    return 0;
}

int runBufferClear(Context& context, const Arguments&) {
    context.reader().clearTagBuffer();
    Document document;
    document.status = MORVENT_OK;
    context.emit(document);
    return 0;
}

// ---- active mode -------------------------------------------------------

bool frameIntact(const std::uint8_t* frame, std::size_t size) { return morvent::frameIntact(frame, size); }

// The EPC a Gen2 tag frame of the active mode carries: its data is one
// inventory record (length byte, EPC, maybe a TID). Empty when it is not.
std::string frameEpc(const Bytes& frame) {
    if (frame.size() < 7) return {};
    const std::uint8_t* data = frame.data() + 4;
    std::size_t size = frame.size() - 6;
    for (bool with_tid : {false, true}) {
        RecordWalk walk = splitTagRecords(data, size, with_tid);
        if (walk.tags.size() == 1 && walk.rest.empty()) return toHex(walk.tags[0].epc);
    }
    return {};
}

const std::vector<std::string> kFrameColumns{"time", "frame", "epc"};

void printFrame(const Context& context, const Bytes& frame) {
    std::vector<Value> row{Value::time(std::chrono::system_clock::now()), Value::text(toHex(frame)),
                           Value::text(frameEpc(frame))};
    if (context.json) std::cout << rowJson(kFrameColumns, row).dump() << "\n";
    else if (context.format == Format::Csv) std::cout << csvRow(row);
    else std::cout << row[0].asText() << "  " << toHex(frame, " ") << "\n";
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
int readActive(Context& context, Bytes& data) {
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
    if (drained) pauseOneMillisecond();
    return data.empty() ? MORVENT_NO_DATA : MORVENT_OK;
}

int runActive(Context& context, const Arguments& arguments) {
    long seconds = arguments.has("seconds") ? parseNumber(*arguments.value("seconds"), "--seconds", 1, 86400) : 0;
    long frames_wanted = arguments.has("frames") ? parseNumber(*arguments.value("frames"), "--frames", 1, 1000000) : 0;
    context.reader();
    FrameSplitter splitter(frameIntact);
    long frames_seen = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    catchInterrupts(true);
    context.note("showing what the reader sends by itself; Ctrl-C stops");
    Bytes data;
    FineTimer fine_timer;  // 1 ms pauses between serial reads
    if (context.format == Format::Csv) std::cout << csvLine(kFrameColumns) << std::flush;
    while (!interrupted() && (seconds == 0 || std::chrono::steady_clock::now() < end) &&
           (frames_wanted == 0 || frames_seen < frames_wanted)) {
        int status = readActive(context, data);
        if (status == MORVENT_NO_DATA) continue;
        if (isLinkFailure(status)) {
            if (!context.reconnect(status)) break;
            continue;
        }
        context.check(status);
        for (const Bytes& frame : splitter.feed(data.data(), data.size())) {
            if (frames_wanted != 0 && frames_seen == frames_wanted) break;
            printFrame(context, frame);
            ++frames_seen;
        }
    }
    catchInterrupts(false);
    if (splitter.discarded() > 0) {
        context.warn(std::to_string(splitter.discarded()) + " byte(s) that formed no intact frame were skipped");
    }
    if (context.reconnects > 0)
        context.warn("the link was reopened " + std::to_string(context.reconnects) + " time(s)");
    return 0;
}

// ---- transparent command -----------------------------------------------

int runRaw(Context& context, const Arguments& arguments) {
    if (arguments.operands().size() != 1) throw UsageError("needs exactly one HEX operand");
    Bytes data = parseHex(arguments.operands()[0], "HEX");
    if (data.size() > 250) throw UsageError("HEX: at most 250 bytes, got " + std::to_string(data.size()));
    std::uint8_t parameter = parseByte(arguments.value("param").value_or("0"), "--param");
    Bytes answer = context.reader().transparent(parameter, data);
    Document document;
    document.status = MORVENT_OK;
    document.add("answer", Value::text(toHex(answer, " ")))
        .add("answer_length", Value::number(static_cast<long long>(answer.size())));
    context.emit(document);
    return 0;
}

std::string settingsHelp() {
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

const std::vector<CommandSpec>& readerCommands() {
    static const std::string settings = settingsHelp();
    static const std::vector<CommandSpec> commands = {
        {"info", "", "show the reader's address and information bytes", {}, "", runInfo},
        {"config list",
         "",
         "list every setting, its value form and whether it can be read back",
         {},
         "",
         runConfigList},
        {"config get",
         "[SETTING...]",
         "read settings back from the reader (all readable ones by default)",
         {},
         settings.c_str(),
         runConfigGet},
        {"config set", "SETTING VALUE...", "change a setting", {}, settings.c_str(), runConfigSet},
        {"buffer read", "", "show the records in the reader's tag buffer", {}, "", runBufferRead},
        {"buffer clear", "", "empty the reader's tag buffer", {}, "", runBufferClear},
        {"active",
         "",
         "print the frames the reader sends by itself (active mode), until Ctrl-C",
         {{"seconds", "S", "stop after S seconds"}, {"frames", "N", "stop after N frames"}},
         "Frames are cut by their length byte; each is printed with the time it arrived\n"
         "and, for a Gen2 tag, its EPC. With --json one JSON object per line, with\n"
         "--csv one CSV row. A link that fails is reopened and the command goes on.",
         runActive,
         ""},
        {"raw",
         "HEX",
         "pass bytes to the reader (transparent command) and print its answer",
         {{"param", "P", "the parameter byte sent before the bytes (default 0)"}},
         "",
         runRaw},
    };
    return commands;
}

}  // namespace morvent_cli

#include "sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace sim {

namespace {

using nlohmann::json;

Bytes hexBytes(const std::string& text, const char* what) {
    std::string digits;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != ':' && c != '-') digits += c;
    if (digits.size() % 2) throw std::runtime_error(std::string(what) + ": odd number of hex digits");
    Bytes bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        std::size_t used = 0;
        const std::string pair = digits.substr(i, 2);
        int value = 0;
        try {
            value = std::stoi(pair, &used, 16);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used != 2) throw std::runtime_error(std::string(what) + ": not hex: " + pair);
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

template <std::size_t N>
std::array<std::uint8_t, N> fixedHex(const json& j, const char* key, std::array<std::uint8_t, N> fallback) {
    if (!j.contains(key)) return fallback;
    const Bytes bytes = hexBytes(j.at(key).get<std::string>(), key);
    if (bytes.size() != N) throw std::runtime_error(std::string(key) + ": needs " + std::to_string(N) + " bytes");
    std::array<std::uint8_t, N> out;
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

template <typename T>
void number(const json& j, const char* key, T& field) {
    if (j.contains(key)) field = j.at(key).get<T>();
}

template <std::size_t N>
void byteList(const json& j, const char* key, std::array<std::uint8_t, N>& field) {
    if (!j.contains(key)) return;
    const auto values = j.at(key).get<std::vector<unsigned>>();
    if (values.size() != N) throw std::runtime_error(std::string(key) + ": needs " + std::to_string(N) + " numbers");
    std::copy(values.begin(), values.end(), field.begin());
}

void readSettings(const json& j, Settings& s) {
    number(j, "address", s.address);
    byteList(j, "version", s.version);
    number(j, "reader_type", s.readerType);
    byteList(j, "region", s.region);
    number(j, "power", s.power);
    number(j, "scan_time", s.scanTime);
    number(j, "baud_code", s.baudCode);
    if (bitRateOfCode(s.baudCode) == 0) throw std::runtime_error("baud_code: not 0, 1, 2, 5 or 6");
    number(j, "work_mode", s.workMode);
    number(j, "interval", s.interval);
    number(j, "tag_type", s.tagType);
    byteList(j, "tid_parameter", s.tidParameter);
    number(j, "gpio_inputs", s.gpioInputs);
    number(j, "serial_number", s.serialNumber);
    number(j, "short_system_parameter", s.shortSystemParameter);
    number(j, "at_mode_delay_ms", s.atModeDelayMs);
    number(j, "tags_per_frame", s.tagsPerFrame);
    number(j, "round_air_ms", s.roundAirMs);
    number(j, "tag_air_ms", s.tagAirMs);
    if (!(s.roundAirMs >= 0 && s.roundAirMs <= 1000) || !(s.tagAirMs >= 0 && s.tagAirMs <= 1000))
        throw std::runtime_error("round_air_ms, tag_air_ms: from 0 to 1000");
}

// "locks": {"user": "secured", ...}: lock target name to lock mode name.
void readLocks(const json& j, Gen2Tag& tag) {
    static const char* const targets[] = {"kill", "access", "epc", "tid", "user"};
    static const char* const modes[] = {"open", "perma-open", "secured", "perma-locked"};
    for (const auto& [name, value] : j.items()) {
        const auto target = std::find(std::begin(targets), std::end(targets), name);
        const auto mode = std::find(std::begin(modes), std::end(modes), value.get<std::string>());
        if (target == std::end(targets) || mode == std::end(modes))
            throw std::runtime_error("locks: unknown " + name + ": " + value.dump());
        tag.preset(static_cast<std::uint8_t>(target - targets), static_cast<std::uint8_t>(mode - modes));
    }
}

Gen2Tag readGen2(const json& j) {
    const Bytes epc = hexBytes(j.at("epc").get<std::string>(), "epc");
    if (epc.empty() || epc.size() % 2 || epc.size() > 2 * Gen2Tag::kMaxEpcWords)
        throw std::runtime_error("epc: needs 1 to 15 whole words");
    Bytes user = hexBytes(j.value("user", std::string(64, '0')), "user");
    if (user.size() % 2) throw std::runtime_error("user: needs whole words");
    Gen2Tag tag(epc, hexBytes(j.value("tid", std::string("E2801100")), "tid"), user);
    tag.setPasswords(fixedHex<4>(j, "access_password", {}), fixedHex<4>(j, "kill_password", {}));
    number(j, "privacy", tag.privacy);
    number(j, "eas", tag.eas);
    if (j.contains("locks")) readLocks(j.at("locks"), tag);
    tag.presetBlockLocks(j.value("block_locks", std::uint8_t{0}));
    return tag;
}

Tag6B read6B(const json& j) {
    Tag6B tag(fixedHex<8>(j, "uid", {}));
    if (j.contains("memory")) tag.load(Tag6B::kFactoryBytes, hexBytes(j.at("memory").get<std::string>(), "memory"));
    for (unsigned address : j.value("locked", std::vector<unsigned>{})) tag.lock(static_cast<std::uint8_t>(address));
    return tag;
}

void readFaults(const json& j, FaultPlan& f) {
    number(j, "seed", f.seed);
    number(j, "latency_ms", f.latencyMs);
    number(j, "split", f.split);
    number(j, "split_gap_ms", f.splitGapMs);
    number(j, "corrupt_crc", f.corruptCrc);
    number(j, "wrong_echo", f.wrongEcho);
    number(j, "drop", f.drop);
    number(j, "stray_before", f.strayBefore);
    number(j, "stray_after", f.strayAfter);
    number(j, "close_after", f.closeAfter);
}

// "population": {"rate_per_s": 5, "stay_s": [2, 6], "max": 500, "epc_words": 6, "seed": 1}
void readPopulation(const json& j, Population& p) {
    number(j, "rate_per_s", p.ratePerS);
    if (j.contains("stay_s")) {
        const auto stay = j.at("stay_s").get<std::vector<double>>();
        if (stay.size() != 2 || stay[0] < 0 || stay[1] < stay[0])
            throw std::runtime_error("population.stay_s: needs [least, most] seconds");
        p.staySMin = stay[0];
        p.staySMax = stay[1];
    }
    number(j, "max", p.max);
    number(j, "epc_words", p.epcWords);
    number(j, "seed", p.seed);
    if (p.ratePerS < 0) throw std::runtime_error("population.rate_per_s: must not be negative");
}

}  // namespace

Scenario parseScenario(const std::string& text) {
    try {
        const json root = json::parse(text, nullptr, true, /*ignore_comments=*/true);
        Scenario s;
        if (root.contains("reader")) readSettings(root.at("reader"), s.settings);
        for (const json& tag : root.value("gen2", json::array())) s.gen2.push_back(readGen2(tag));
        for (const json& tag : root.value("iso6b", json::array())) s.tags6B.push_back(read6B(tag));
        if (root.contains("faults")) readFaults(root.at("faults"), s.faults);
        if (root.contains("population")) readPopulation(root.at("population"), s.population);
        return s;
    } catch (const json::exception& e) {
        throw std::runtime_error(e.what());
    }
}

Scenario loadScenario(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream text;
    text << in.rdbuf();
    try {
        return parseScenario(text.str());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

Scenario defaultScenario() {
    return parseScenario(R"({
      "gen2": [
        {"epc": "E2003412 0123 4567 89AB CDEF", "tid": "E2801105 2000 7A3B 0C1D 0E0F",
         "user": "00112233445566778899AABBCCDDEEFF00000000000000000000000000000000"},
        {"epc": "3000 1111 2222 3333 4444 5555", "tid": "E2801105 2000 1111 0000 0001",
         "access_password": "12345678", "kill_password": "87654321"},
        {"epc": "3000 AAAA BBBB", "tid": "E2003412 0000 0000 0000 0002"},
        {"epc": "E280 6894 0000 4000 0001 0203", "tid": "E2806894 2000 5000 0000 0003",
         "kill_password": "0000BEEF"},
        {"epc": "1234 5678", "tid": "E2801170 2000 0000 0000 0004"},
        // GS1 identities: the SGTIN-96 example of the standard
        // (urn:epc:id:sgtin:0614141.812345.6789), a pallet's SSCC-96, a
        // returnable crate's GRAI-96 and an asset's GIAI-96.
        {"epc": "3074 257B F719 4E40 0000 1A85", "tid": "E2801105 2000 0000 0000 0005"},
        {"epc": "3154 257B F449 9602 D200 0000", "tid": "E2801105 2000 0000 0000 0006"},
        {"epc": "3334 257B F40C 0E40 0000 0190", "tid": "E2801105 2000 0000 0000 0007"},
        {"epc": "3434 257B F400 0000 00BC 6038", "tid": "E2801105 2000 0000 0000 0008"}
      ],
      "iso6b": [
        {"uid": "E004 0100 1234 5678", "memory": "48656C6C6F"},
        {"uid": "E004 0100 8765 4321", "locked": [20, 21]}
      ]
    })");
}

}  // namespace sim

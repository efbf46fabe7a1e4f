#include "gateway/reader_config.h"

namespace morventd {

std::string ReaderConfig::port() const {
    if (!serial()) return "tcp " + host + ":" + std::to_string(tcpPort);
    return device.empty() ? "com " + std::to_string(com) : "serial " + device;
}

std::string ReaderConfig::link() const { return serial() ? port() + " at " + std::to_string(baud) : port(); }

namespace {

std::string hexOf(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : bytes) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

long number(const std::string& text, long lo, long hi) {
    std::size_t used = 0;
    const long v = std::stol(text, &used, 10);
    if (used != text.size() || v < lo || v > hi) throw std::invalid_argument("out of range: " + text);
    return v;
}

std::vector<std::string> readerArgs(const ReaderConfig& r) {
    std::vector<std::string> a{"--name", r.name};
    if (!r.serial()) a.insert(a.end(), {"--tcp", r.host + ":" + std::to_string(r.tcpPort)});
    else if (!r.device.empty()) a.insert(a.end(), {"--serial", r.device});
    else a.insert(a.end(), {"--com", std::to_string(r.com)});
    a.insert(a.end(), {"--baud", std::to_string(r.baud), "--address", std::to_string(r.address), "--mode",
                       r.active ? "active" : "poll", "--poll-interval", std::to_string(r.pollIntervalMs)});
    if (r.tid) a.insert(a.end(), {"--tid", std::to_string(r.tidAddress) + ":" + std::to_string(r.tidLength)});
    if (r.mask)
        a.insert(a.end(), {"--mask", std::to_string(r.maskBank) + ":" + std::to_string(r.maskAddress) + ":" +
                                         std::to_string(r.maskBits) + ":" + hexOf(r.maskBytes)});
    return a;
}

}  // namespace

std::vector<std::string> workerArgs(const std::vector<const ReaderConfig*>& readers) {
    std::vector<std::string> a;
    for (const ReaderConfig* r : readers) {
        const std::vector<std::string> one = readerArgs(*r);
        a.insert(a.end(), one.begin(), one.end());
    }
    return a;
}

std::vector<ReaderConfig> fromWorkerArgs(const std::vector<std::string>& args) {
    std::vector<ReaderConfig> readers;
    if (args.size() % 2) throw std::invalid_argument("options come in pairs");
    if (args.empty() || args[0] != "--name") throw std::invalid_argument("each reader starts with --name");
    for (std::size_t i = 0; i < args.size(); i += 2) {
        const std::string& flag = args[i];
        const std::string& value = args[i + 1];
        if (flag == "--name") readers.emplace_back().name = value;
        ReaderConfig& r = readers.back();
        if (flag == "--name") continue;
        else if (flag == "--tcp") {
            const auto colon = value.rfind(':');
            if (colon == std::string::npos) throw std::invalid_argument("--tcp HOST:PORT");
            r.host = value.substr(0, colon);
            r.tcpPort = static_cast<int>(number(value.substr(colon + 1), 1, 65535));
        } else if (flag == "--serial") r.device = value, r.com = 1;
        else if (flag == "--com") r.com = static_cast<int>(number(value, 1, 255));
        else if (flag == "--baud") r.baud = static_cast<int>(number(value, 1, 115200));
        else if (flag == "--address") r.address = static_cast<std::uint8_t>(number(value, 0, 255));
        else if (flag == "--mode") r.active = value == "active";
        else if (flag == "--poll-interval") r.pollIntervalMs = static_cast<int>(number(value, 0, 60000));
        else if (flag == "--tid") {
            const auto colon = value.find(':');
            r.tid = true;
            r.tidAddress = static_cast<std::uint8_t>(number(value.substr(0, colon), 0, 255));
            r.tidLength = static_cast<std::uint8_t>(number(value.substr(colon + 1), 1, 15));
        } else if (flag == "--mask") {
            // BANK:ADDRESS:BITS:HEX
            std::vector<std::string> parts;
            std::size_t at = 0;
            for (std::size_t colon; (colon = value.find(':', at)) != std::string::npos; at = colon + 1)
                parts.push_back(value.substr(at, colon - at));
            parts.push_back(value.substr(at));
            if (parts.size() != 4 || parts[3].size() % 2) throw std::invalid_argument("--mask BANK:ADDRESS:BITS:HEX");
            r.mask = true;
            r.maskBank = static_cast<std::uint8_t>(number(parts[0], 0, 3));
            r.maskAddress = static_cast<std::uint16_t>(number(parts[1], 0, 65535));
            r.maskBits = static_cast<std::uint8_t>(number(parts[2], 1, 255));
            for (std::size_t i = 0; i < parts[3].size(); i += 2)
                r.maskBytes.push_back(static_cast<std::uint8_t>(std::stoi(parts[3].substr(i, 2), nullptr, 16)));
        } else {
            throw std::invalid_argument("unknown option " + flag);
        }
    }
    for (const ReaderConfig& r : readers) {
        if (r.name.empty() || (r.tcpPort == 0 && r.com == 0))
            throw std::invalid_argument("--name and a link are needed");
        // One worker, one link: a TCP reader alone, or the readers of one serial device.
        if (r.port() != readers[0].port() || (!r.serial() && readers.size() > 1))
            throw std::invalid_argument("readers of one worker share one serial device");
    }
    return readers;
}

}  // namespace morventd

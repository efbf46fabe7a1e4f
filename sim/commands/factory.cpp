// Factory commands (self-test, calibration, RF output, serial number), the
// AT mode and the transparent pass-through.
#include "sim/reader.h"

#include "sim/commands/fields.h"

namespace sim {

namespace {

constexpr std::uint8_t kSerialWriteCode = 0x5A;

}  // namespace

Reply ReaderModel::selfTestMode(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    selfTest_ = true;
    return answer(r, kOk);
}

Reply ReaderModel::solidify(const Request& r) {
    if (r.data.size() != settings_.calibration.size()) return answer(r, kBadLength);
    std::copy(r.data.begin(), r.data.end(), settings_.calibration.begin());
    return answer(r, kOk, {checksum(settings_.calibration)});
}

Reply ReaderModel::startInformation(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const Settings& s = settings_;
    return answer(r, kOk,
                  {s.version[0], s.version[1], s.readerType, s.dac, s.power, s.baudCode, s.address,
                   static_cast<std::uint8_t>(selfTest_ ? 1 : 0), checksum(s.calibration)});
}

Reply ReaderModel::deleteRfOutput(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const std::uint8_t previous = settings_.rfOutput;
    settings_.rfOutput = 0;
    return answer(r, kOk, {previous});
}

Reply ReaderModel::setSerialNumber(const Request& r) {
    const Bytes& d = r.data;
    if (d.size() != 6) return answer(r, kBadLength);
    if (d[0] != kSerialWriteCode || d[1] != kSerialWriteCode) return answer(r, kBadParameter);
    settings_.serialNumber =
        std::uint32_t{d[2]} | std::uint32_t{d[3]} << 8 | std::uint32_t{d[4]} << 16 | std::uint32_t{d[5]} << 24;
    return answer(r, kOk);
}

Reply ReaderModel::getSerialNumber(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const std::uint32_t n = settings_.serialNumber;
    return answer(r, kOk,
                  {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
                   static_cast<std::uint8_t>(n >> 24)});
}

Reply ReaderModel::atMode(const Request& r) {
    if (r.data.size() != 1) return answer(r, kBadLength);
    Reply reply = answer(r, kOk);
    reply.delayMs = settings_.atModeDelayMs;
    return reply;
}

Reply ReaderModel::transparent(const Request& r) {
    if (r.data.empty()) return answer(r, kBadLength);
    return answer(r, kOk, Bytes(r.data.begin() + 1, r.data.end()));
}

}  // namespace sim

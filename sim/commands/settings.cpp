// The reader's settings: its information, address and line speed, the
// system parameters and their mask, and the settings written or read as
// plain bytes (region, power, GPIO, relay, ...), one table row each.
#include "sim/reader.h"

#include <algorithm>

#include "sim/commands/fields.h"

namespace sim {

namespace {

constexpr std::uint8_t kAntennas = 1;  // last byte of the reader information (Len 0x11)

// A setting written by one command as a run of bytes, with the range every
// byte must lie in.
struct ByteSetting {
    std::uint8_t code;
    std::size_t width;
    std::uint8_t* (*field)(Settings&);
    std::uint8_t min, max;
};

const ByteSetting kByteSettings[] = {
    {0x22, 2, [](Settings& s) { return s.region.data(); }, 0x00, 0xFF},
    {0x25, 1, [](Settings& s) { return &s.scanTime; }, 3, 0xFF},
    {0x27, 1, [](Settings& s) { return &s.revDelay; }, 0x00, 0xFF},
    {0x29, 1, [](Settings& s) { return &s.dac; }, 0x00, 0xFF},
    {0x2F, 1, [](Settings& s) { return &s.power; }, 0, 30},
    {0x30, 1, [](Settings& s) { return &s.rfOutput; }, 0x00, 0xFF},
    {0x33, 3, [](Settings& s) { return s.buzzer.data(); }, 0x00, 0xFF},
    {0x35, 1, [](Settings& s) { return &s.workMode; }, 0x00, 0xFF},
    {0x37, 1, [](Settings& s) { return &s.easSensitivity; }, 0x00, 0xFF},
    {0x3C, 2, [](Settings& s) { return s.response.data(); }, 0x00, 0xFF},
    {0x3D, 1, [](Settings& s) { return &s.interval; }, 0x00, 0xFF},
    {0x3E, 1, [](Settings& s) { return &s.tagType; }, 0, 1},
    {0x3F, 1, [](Settings& s) { return &s.antenna; }, 0x00, 0xFF},
    {0x40, 1, [](Settings& s) { return &s.beep; }, 0x00, 0xFF},
    {0x45, 1, [](Settings& s) { return &s.relay; }, 0x00, 0xFF},
    {0x46, 1, [](Settings& s) { return &s.gpioOutputs; }, 0x00, 0x0F},
    {0x48, 1, [](Settings& s) { return &s.pulse; }, 0x00, 0xFF},
    {0x49, 1, [](Settings& s) { return &s.triggerTime; }, 0x00, 0xFF},
    {0x4A, 2, [](Settings& s) { return s.tidParameter.data(); }, 0x00, 0xFF},
};

// One-byte queries: command code and the byte they report.
struct ByteQuery {
    std::uint8_t code;
    std::uint8_t (*value)(const Settings&);
};

const ByteQuery kByteQueries[] = {
    {0x2A, [](const Settings& s) { return s.dac; }},
    {0x2B, [](const Settings& s) { return checksum(s.calibration); }},
    {0x31, [](const Settings& s) { return s.revDelay; }},
    {0x47, [](const Settings& s) { return static_cast<std::uint8_t>((s.gpioOutputs & 0x0F) | (s.gpioInputs << 4)); }},
};

// The row of `table` for command `code`, or nullptr.
template <typename Row, std::size_t N>
const Row* rowOf(const Row (&table)[N], std::uint8_t code) {
    for (const Row& row : table)
        if (row.code == code) return &row;
    return nullptr;
}

}  // namespace

std::uint32_t bitRateOfCode(std::uint8_t code) {
    switch (code) {
    case 0: return 9600;
    case 1: return 19200;
    case 2: return 38400;
    case 5: return 57600;
    case 6: return 115200;
    default: return 0;
    }
}

bool ReaderModel::isByteSetting(std::uint8_t code) { return rowOf(kByteSettings, code) != nullptr; }

bool ReaderModel::isByteQuery(std::uint8_t code) { return rowOf(kByteQueries, code) != nullptr; }

Reply ReaderModel::readerInformation(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const Settings& s = settings_;
    return answer(r, kOk,
                  {s.version[0], s.version[1], s.readerType, s.protocols, s.region[0], s.region[1], s.power, s.scanTime,
                   s.baudCode, s.tidParameter[0], s.tidParameter[1], kAntennas});
}

Reply ReaderModel::byteSetting(const Request& r) {
    const ByteSetting* s = rowOf(kByteSettings, r.command);
    if (!s) return answer(r, kUnknownCommand);
    if (r.data.size() != s->width) return answer(r, kBadLength);
    for (std::uint8_t b : r.data)
        if (b < s->min || b > s->max) return answer(r, kBadParameter);
    std::copy(r.data.begin(), r.data.end(), s->field(settings_));
    return answer(r, kOk);
}

Reply ReaderModel::byteQuery(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const ByteQuery* q = rowOf(kByteQueries, r.command);
    if (!q) return answer(r, kUnknownCommand);
    return answer(r, kOk, {q->value(settings_)});
}

Reply ReaderModel::setAddress(const Request& r) {
    if (r.data.size() != 1) return answer(r, kBadLength);
    if (r.data[0] == kBroadcast) return answer(r, kBadParameter);
    settings_.address = r.data[0];
    return answer(r, kOk);  // already from the new address
}

Reply ReaderModel::setBaudRate(const Request& r) {
    if (r.data.size() != 1) return answer(r, kBadLength);
    const std::uint32_t rate = bitRateOfCode(r.data[0]);
    if (rate == 0) return answer(r, kBadParameter);
    settings_.baudCode = r.data[0];
    Reply reply = answer(r, kOk);
    reply.newBitRate = rate;
    return reply;
}

Reply ReaderModel::systemParameter(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const Settings& s = settings_;
    Bytes data{s.workMode, s.easSensitivity, s.triggerTime,    s.response[0],    s.response[1],
               s.interval, s.maskBank,       s.maskAddress[0], s.maskAddress[1], s.maskBitLength};
    data.insert(data.end(), s.maskBits.begin(), s.maskBits.end());
    if (!s.shortSystemParameter) data.insert(data.end(), {s.tagType, s.antenna, s.beep});
    return answer(r, kOk, data);
}

Reply ReaderModel::setMask(const Request& r) {
    auto mask = maskAt(r.data, 0);
    if (!mask) return answer(r, kBadLength);
    settings_.maskBank = mask->bank;
    settings_.maskAddress = {r.data[1], r.data[2]};
    settings_.maskBitLength = mask->bitLength;
    settings_.maskBits.fill(0);
    std::copy(mask->bits.begin(), mask->bits.end(), settings_.maskBits.begin());
    return answer(r, kOk);
}

}  // namespace sim

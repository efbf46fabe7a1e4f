// What the command families of the simulated reader share: the limits of a
// response frame and the fields requests carry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <optional>

#include "sim/frame.h"
#include "sim/tags.h"

namespace sim {

constexpr std::uint8_t kBroadcast = 0xFF;
constexpr std::size_t kMaxData = 250;  // data bytes a response frame can carry

inline Password passwordAt(const Bytes& data, std::size_t at) {
    return {data[at], data[at + 1], data[at + 2], data[at + 3]};
}

inline std::size_t maskBytes(std::uint8_t bitLength) { return (bitLength + 7u) / 8u; }

// Parses bank, bit address, bit length and mask bits at data[at..]; the
// mask must end exactly at the end of the data.
inline std::optional<Mask> maskAt(const Bytes& data, std::size_t at) {
    if (data.size() < at + 4) return std::nullopt;
    Mask mask;
    mask.bank = data[at];
    mask.bitAddress = static_cast<std::uint16_t>(data[at + 1] << 8 | data[at + 2]);
    mask.bitLength = data[at + 3];
    if (data.size() != at + 4 + maskBytes(mask.bitLength)) return std::nullopt;
    mask.bits.assign(data.begin() + at + 4, data.end());
    return mask;
}

// The checksum of the calibration block, as the reader reports it.
inline std::uint8_t checksum(const std::array<std::uint8_t, 31>& block) {
    return static_cast<std::uint8_t>(std::accumulate(block.begin(), block.end(), 0u));
}

}  // namespace sim

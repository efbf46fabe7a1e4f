// Frame CRC-16: polynomial 0x1021 processed bit-reversed (0x8408), initial
// value 0xFFFF, no final XOR. Appended low byte first; over an intact frame
// including its CRC the register ends at 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mv {

std::uint16_t crc16(const std::uint8_t* data, std::size_t length);

// Stores the CRC of data[0..length) at data[length], data[length + 1].
void appendCrc(std::uint8_t* data, std::size_t length);

// True when a frame of `length` bytes including its CRC is intact.
inline bool crcIntact(const std::uint8_t* frame, std::size_t length) { return crc16(frame, length) == 0; }

}  // namespace mv

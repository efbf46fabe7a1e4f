#include "link/crc.h"

#include <array>

namespace mv {
namespace {

// The register after shifting one byte's eight bits through it.
constexpr std::array<std::uint16_t, 256> makeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        std::uint16_t reg = static_cast<std::uint16_t>(byte);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? static_cast<std::uint16_t>((reg >> 1) ^ 0x8408) : static_cast<std::uint16_t>(reg >> 1);
        table[byte] = reg;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kTable = makeTable();

}  // namespace

std::uint16_t crc16(const std::uint8_t* data, std::size_t length) {
    std::uint16_t reg = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i)
        reg = static_cast<std::uint16_t>((reg >> 8) ^ kTable[(reg ^ data[i]) & 0xFF]);
    return reg;
}

void appendCrc(std::uint8_t* data, std::size_t length) {
    const std::uint16_t crc = crc16(data, length);
    data[length] = static_cast<std::uint8_t>(crc & 0xFF);
    data[length + 1] = static_cast<std::uint8_t>(crc >> 8);
}

}  // namespace mv

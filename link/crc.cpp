#include "link/crc.h"

namespace mv {

std::uint16_t crc16(const std::uint8_t* data, std::size_t length) {
    std::uint16_t reg = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? static_cast<std::uint16_t>((reg >> 1) ^ 0x8408) : static_cast<std::uint16_t>(reg >> 1);
    }
    return reg;
}

void appendCrc(std::uint8_t* data, std::size_t length) {
    const std::uint16_t crc = crc16(data, length);
    data[length] = static_cast<std::uint8_t>(crc & 0xFF);
    data[length + 1] = static_cast<std::uint8_t>(crc >> 8);
}

}  // namespace mv


// Calendar arithmetic for the reader's real-time clock: six bytes (year
// within the century, month, day, hour, minute, second) to seconds since
// 2000-01-01 00:00:00 and back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace sim {

using ClockBytes = std::array<std::uint8_t, 6>;

std::optional<std::int64_t> secondsOf(const ClockBytes& clock);  // empty when a field is out of range
ClockBytes clockOf(std::int64_t seconds);                        // wraps after 2099

}  // namespace sim

#include "sim/calendar.h"

namespace sim {

namespace {

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kCentury = 36525;  // days from 2000-01-01 to 2100-01-01 (2000 is a leap year)

bool leap(int year) {
    return year % 4 == 0;  // 2000 to 2099
}

int daysIn(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap(year) ? 29 : days[month - 1];
}

}  // namespace

std::optional<std::int64_t> secondsOf(const ClockBytes& c) {
    const int year = 2000 + c[0], month = c[1], day = c[2];
    if (c[0] > 99 || month < 1 || month > 12 || day < 1 || day > daysIn(year, month)) return std::nullopt;
    if (c[3] > 23 || c[4] > 59 || c[5] > 59) return std::nullopt;
    std::int64_t days = day - 1;
    for (int y = 2000; y < year; ++y) days += leap(y) ? 366 : 365;
    for (int m = 1; m < month; ++m) days += daysIn(year, m);
    return days * kDay + c[3] * 3600 + c[4] * 60 + c[5];
}

ClockBytes clockOf(std::int64_t seconds) {
    seconds %= kCentury * kDay;
    if (seconds < 0) seconds += kCentury * kDay;
    std::int64_t days = seconds / kDay, rest = seconds % kDay;
    int year = 2000;
    while (days >= (leap(year) ? 366 : 365)) days -= leap(year++) ? 366 : 365;
    int month = 1;
    while (days >= daysIn(year, month)) days -= daysIn(year, month++);
    return {static_cast<std::uint8_t>(year - 2000),    static_cast<std::uint8_t>(month),
            static_cast<std::uint8_t>(days + 1),       static_cast<std::uint8_t>(rest / 3600),
            static_cast<std::uint8_t>(rest / 60 % 60), static_cast<std::uint8_t>(rest % 60)};
}

}  // namespace sim

#include "link/traffic_log.h"

#include <cstdio>

#include "link/ports.h"
#include "platform/platform.h"

namespace mv::link {
namespace {

constexpr std::size_t kLongestChunk = kReceiveSize;
// Time stamp, direction, three characters per byte, closing mark, line end.
char lineBuffer[32 + 3 * kLongestChunk + 8];

std::size_t formatLine(const plat::LocalTime& now, Direction direction, const std::uint8_t* bytes, std::size_t length) {
    static const char hex[] = "0123456789ABCDEF";
    std::size_t at =
        static_cast<std::size_t>(std::snprintf(lineBuffer, 32, "[%02d:%02d:%02d %03d]; %c ; ", now.hour, now.minute,
                                               now.second, now.millisecond, direction == Direction::Write ? 'W' : 'R'));
    for (std::size_t i = 0; i < length; ++i) {
        lineBuffer[at++] = hex[bytes[i] >> 4];
        lineBuffer[at++] = hex[bytes[i] & 0x0F];
        lineBuffer[at++] = ' ';
    }
    lineBuffer[at++] = ';';
    lineBuffer[at++] = ' ';
    lineBuffer[at++] = '\n';
    return at;
}

}  // namespace

void probeTrafficLog(int port) {
    if (port < 0 || port >= kPortSlots) return;
    ports().logs[port] = plat::fileReadable("writelog.txt") ? 1 : 0;
}

void logTraffic(int port, Direction direction, const std::uint8_t* bytes, std::size_t length) {
    if (port < 0 || port >= kPortSlots || !ports().logs[port] || length == 0) return;
    if (length > kLongestChunk) length = kLongestChunk;
    const plat::LocalTime now = plat::localTime();
    char fileName[32];
    std::snprintf(fileName, sizeof fileName, "%02d%02d%02d%02d%02d.log", now.year % 100, now.month, now.day, now.hour,
                  now.minute);
    const std::size_t size = formatLine(now, direction, bytes, length);
    plat::appendToFile(fileName, lineBuffer, size);
}

}  // namespace mv::link

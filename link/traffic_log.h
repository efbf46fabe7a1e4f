// The traffic log: when "writelog.txt" exists in the current directory at the
// moment a port is opened, that port records every frame written and every
// chunk received, one line each, in "yyMMddHHmm.log" files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mv::link {

enum class Direction { Write, Read };

// Decides the port's traffic-log flag from the presence of "writelog.txt".
void probeTrafficLog(int port);

// Records `length` bytes when the port logs. Called with the link lock held.
void logTraffic(int port, Direction direction, const std::uint8_t* bytes, std::size_t length);

}  // namespace mv::link

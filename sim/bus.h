// The wire of an RS-485 bus: what the host receives when several readers on
// it answer the same request at once.
#pragma once

#include <vector>

#include "sim/frame.h"

namespace sim {

// Bit times by which each answer starts after the one before it: readers
// never turn round from receiving to sending in step.
constexpr unsigned kBusAnswerSkewBits = 4;

// The bytes the host's UART frames from the line while `answers` (in the
// order of the readers on the bus) are sent together, the answer of the
// reader at position i starting i * kBusAnswerSkewBits bit times after the
// first. Each byte goes out as a start bit (space), eight data bits least
// significant first and a stop bit (mark); the line rests at mark. Where
// the drivers disagree the space wins, as a receiver reads the fought-over
// line. The host frames a byte at each mark-to-space edge after the last
// stop bit; a byte whose stop bit is not a mark (a framing error) reaches
// it as 0x00, as a serial driver hands it over. One answer passes whole.
Bytes collide(const std::vector<Bytes>& answers);

}  // namespace sim

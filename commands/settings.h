// Simple reader commands: a request of a few fixed-width bytes and, at most,
// a few data bytes in the answer. They differ only in the data of one table
// row, and one path serves them all.
#pragma once

#include <cstdint>

#include "commands/transaction.h"

namespace mv::cmd {

struct Simple {
    std::uint8_t code;
    WriteBack writeBack;
    std::uint8_t requestBytes;   // taken from the inputs, in order
    std::uint8_t responseBytes;  // answer data bytes copied out on status 0
};

// Runs the row's transaction: sends `requestBytes` bytes of `in`, and on
// status 0 copies the first `responseBytes` data bytes of the answer to
// `out`. An answer too short for them writes nothing and gives
// MORVENT_COMM_ERROR.
int runSimple(const Simple& row, unsigned char* readerAddress, int portIndex,
              const std::uint8_t* in = nullptr, std::uint8_t* out = nullptr);

}  // namespace mv::cmd

// Status codes and tag error codes as the tool shows them: name, number and
// meaning, the names and meanings taken from the core's table.
#pragma once

#include <string>

namespace morvent_cli {

struct StatusInfo {
    int code;
    std::string name;     // MORVENT_COMM_ERROR, or READER_STATUS_0x05 for unknown ones
    std::string meaning;  // one line, no trailing full stop
};

StatusInfo describeStatus(int code);

// "MORVENT_COMM_ERROR (0x30, 48): link failure, time-out or failed handshake"
std::string statusLine(int code);

StatusInfo describeTagError(int code);

// "0x04 MEMORY_LOCKED: the memory is locked or permanently locked"
std::string tagErrorLine(int code);

}  // namespace morvent_cli

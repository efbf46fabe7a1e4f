#include "status.h"

#include <cstdio>

#include "morvent.h"

namespace morvent_cli {
namespace {

struct KnownStatus {
    int code;
    const char* name;
    const char* meaning;
};

// The library's own codes come from the public header; the inventory codes
// are the reader status bytes that Inventory_G2 answers with.
const KnownStatus kKnown[] = {
    {MORVENT_OK, "MORVENT_OK", "success"},
    {0x01, "INVENTORY_RECORDS", "inventory answer carrying tag records"},
    {0x02, "INVENTORY_RECORDS", "inventory answer carrying tag records"},
    {0x03, "INVENTORY_RECORDS", "inventory answer carrying tag records"},
    {0x04, "INVENTORY_RECORDS", "inventory answer carrying tag records"},
    {MORVENT_NO_DATA, "MORVENT_NO_DATA", "the reader sent nothing by itself"},
    {MORVENT_COMM_ERROR, "MORVENT_COMM_ERROR", "link failure, time-out or failed handshake"},
    {MORVENT_CRC_ERROR, "MORVENT_CRC_ERROR", "the answer's CRC did not check"},
    {MORVENT_PORT_OPEN, "MORVENT_PORT_OPEN", "the port is already open"},
    {MORVENT_INVALID_PORT, "MORVENT_INVALID_PORT",
     "port index out of range, port not open, or device not openable"},
    {MORVENT_CMD_MISMATCH, "MORVENT_CMD_MISMATCH", "the answer echoed another command code"},
    {0xFB, "NO_TAG", "no tag answered in the field"},
    {MORVENT_TAG_ERROR, "MORVENT_TAG_ERROR", "the tag reported an error"},
    {0xFD, "READER_BAD_LENGTH", "the reader refused the request's length"},
    {0xFE, "READER_UNKNOWN_COMMAND", "the reader does not know the command"},
    {MORVENT_PARAM_RANGE, "MORVENT_PARAM_RANGE", "a value was out of range (refused by the library or the reader)"},
};

// Error codes a Gen2 or 6B tag reports with MORVENT_TAG_ERROR.
const KnownStatus kTagErrors[] = {
    {0x00, "OTHER", "other error"},
    {0x03, "MEMORY_OVERRUN", "address past the end of the memory bank"},
    {0x04, "MEMORY_LOCKED", "the memory is locked or permanently locked"},
    {0x05, "PASSWORD", "wrong password, or the operation needs the secured state"},
    {0x0B, "INSUFFICIENT_POWER", "the tag had too little power"},
    {0x0F, "NON_SPECIFIC", "the tag refused the operation"},
};

}  // namespace

std::string tag_error_line(int code) {
    char numbers[24];
    std::snprintf(numbers, sizeof numbers, "0x%02X", static_cast<unsigned>(code) & 0xFFu);
    for (const KnownStatus& known : kTagErrors) {
        if (known.code == code) return std::string(numbers) + " " + known.name + ": " + known.meaning;
    }
    return std::string(numbers) + ": tag error code";
}

StatusInfo describe_tag_error(int code) {
    for (const KnownStatus& known : kTagErrors) {
        if (known.code == code) return {code, known.name, known.meaning};
    }
    return {code, "TAG_ERROR_" + std::to_string(code), "tag error code"};
}

StatusInfo describe_status(int code) {
    for (const KnownStatus& known : kKnown) {
        if (known.code == code) return {code, known.name, known.meaning};
    }
    char name[32];
    std::snprintf(name, sizeof name, "READER_STATUS_0x%02X", static_cast<unsigned>(code) & 0xFFFFu);
    return {code, name, "status byte passed through from the reader"};
}

std::string status_line(int code) {
    StatusInfo info = describe_status(code);
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, " (0x%02X, %d): ", static_cast<unsigned>(code), code);
    return info.name + numbers + info.meaning;
}

}  // namespace morvent_cli

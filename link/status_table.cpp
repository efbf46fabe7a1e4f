// The one table of status codes and tag error codes: their names and what
// they mean. The tool and the language APIs all take their texts from here.
#include <array>
#include <iterator>

#include "morvent.h"

#ifndef MORVENT_VERSION_TEXT
#define MORVENT_VERSION_TEXT "0.0.0"
#endif

namespace {

struct Named {
    int code;
    const char* name;
    const char* text;
};

const Named kStatuses[] = {
    {MORVENT_OK, "MORVENT_OK", "success"},
    {MORVENT_INVENTORY_DONE, "MORVENT_INVENTORY_DONE",
     "inventory answer carrying tag records; the inventory is complete"},
    {MORVENT_INVENTORY_TIMEOUT, "MORVENT_INVENTORY_TIMEOUT",
     "inventory answer carrying tag records; the scan time ended the inventory"},
    {MORVENT_INVENTORY_MORE, "MORVENT_INVENTORY_MORE",
     "inventory answer carrying tag records; the reader announced more frames that did not come in time"},
    {MORVENT_INVENTORY_FULL, "MORVENT_INVENTORY_FULL",
     "inventory answer carrying tag records; the reader could hold no more"},
    {MORVENT_NO_DATA, "MORVENT_NO_DATA", "the reader sent nothing by itself"},
    {MORVENT_COMM_ERROR, "MORVENT_COMM_ERROR", "link failure, time-out or failed handshake"},
    {MORVENT_CRC_ERROR, "MORVENT_CRC_ERROR", "the answer's CRC did not check"},
    {MORVENT_PORT_OPEN, "MORVENT_PORT_OPEN", "the port is already open"},
    {MORVENT_INVALID_PORT, "MORVENT_INVALID_PORT", "port index out of range, port not open, or device not openable"},
    {MORVENT_CMD_MISMATCH, "MORVENT_CMD_MISMATCH", "the answer echoed another command code"},
    {MORVENT_NO_TAG, "MORVENT_NO_TAG", "no tag answered in the field"},
    {MORVENT_TAG_ERROR, "MORVENT_TAG_ERROR", "the tag reported an error"},
    {MORVENT_READER_BAD_LENGTH, "MORVENT_READER_BAD_LENGTH", "the reader refused the request's length"},
    {MORVENT_READER_UNKNOWN_CMD, "MORVENT_READER_UNKNOWN_CMD", "the reader does not know the command"},
    {MORVENT_PARAM_RANGE, "MORVENT_PARAM_RANGE", "a value was out of range (refused by the library or the reader)"},
    {MORVENT_EPC_NOT_GS1, "MORVENT_EPC_NOT_GS1", "the bytes are not a GS1 EPC"},
    {MORVENT_EPC_NO_PART, "MORVENT_EPC_NO_PART", "the GS1 scheme has no such part"},
    {MORVENT_EPC_ROOM, "MORVENT_EPC_ROOM", "the text did not fit the room given"},
    {MORVENT_EPC_REFUSED, "MORVENT_EPC_REFUSED", "the identity cannot be encoded as an EPC"},
};

const Named kTagErrors[] = {
    {MORVENT_TAG_ERR_OTHER, "MORVENT_TAG_ERR_OTHER", "other error"},
    {MORVENT_TAG_ERR_MEMORY_OVERRUN, "MORVENT_TAG_ERR_MEMORY_OVERRUN", "address past the end of the memory bank"},
    {MORVENT_TAG_ERR_MEMORY_LOCKED, "MORVENT_TAG_ERR_MEMORY_LOCKED", "the memory is locked or permanently locked"},
    {MORVENT_TAG_ERR_PASSWORD, "MORVENT_TAG_ERR_PASSWORD", "wrong password, or the operation needs the secured state"},
    {MORVENT_TAG_ERR_INSUFFICIENT_POWER, "MORVENT_TAG_ERR_INSUFFICIENT_POWER", "the tag had too little power"},
    {MORVENT_TAG_ERR_NON_SPECIFIC, "MORVENT_TAG_ERR_NON_SPECIFIC", "the tag refused the operation"},
};

// "PREFIX0xNN" for every byte value, built once at compile time, so that a
// code without a name of its own still gets a static name.
template <std::size_t N>
struct HexNames {
    std::array<std::array<char, N + 5>, 256> names{};
    constexpr explicit HexNames(const char (&prefix)[N + 1]) {
        const char digits[] = "0123456789ABCDEF";
        for (int code = 0; code < 256; ++code) {
            auto& name = names[code];
            for (std::size_t i = 0; i < N; ++i) name[i] = prefix[i];
            name[N] = '0';
            name[N + 1] = 'x';
            name[N + 2] = digits[code >> 4];
            name[N + 3] = digits[code & 15];
            name[N + 4] = '\0';
        }
    }
};

constexpr HexNames<14> kReaderStatusNames("READER_STATUS_");
constexpr HexNames<10> kTagErrorNames("TAG_ERROR_");

// One family of codes: its named entries; a code outside a byte, said as
// one name and text; and a byte without an entry, named "PREFIX0xNN" and
// said as `unnamedText`.
template <std::size_t M, std::size_t N>
struct Family {
    const Named (&named)[M];
    Named outside;
    const HexNames<N>& unnamed;
    const char* unnamedText;

    const Named* find(int code) const {
        for (const Named& entry : named) {
            if (entry.code == code) return &entry;
        }
        return nullptr;
    }

    const char* name(int code) const {
        if (const Named* known = find(code)) return known->name;
        if (code < 0 || code > 255) return outside.name;
        return unnamed.names[code].data();
    }

    const char* text(int code) const {
        if (const Named* known = find(code)) return known->text;
        if (code < 0 || code > 255) return outside.text;
        return unnamedText;
    }
};

const Family<std::size(kStatuses), 14> kStatusFamily{
    kStatuses,
    {0, "MORVENT_UNKNOWN_STATUS", "not a status code of the library"},
    kReaderStatusNames,
    "status byte passed through from the reader",
};

const Family<std::size(kTagErrors), 10> kTagErrorFamily{
    kTagErrors,
    {0, "MORVENT_TAG_ERR_NONE", "no tag error"},
    kTagErrorNames,
    "error code reported by the tag",
};

}  // namespace

extern "C" {

MORVENT_API const char* MorventStatusName(int status) { return kStatusFamily.name(status); }

MORVENT_API const char* MorventStatusText(int status) { return kStatusFamily.text(status); }

MORVENT_API const char* MorventTagErrorName(int errorCode) { return kTagErrorFamily.name(errorCode); }

MORVENT_API const char* MorventTagErrorText(int errorCode) { return kTagErrorFamily.text(errorCode); }

MORVENT_API const char* MorventVersion(void) { return MORVENT_VERSION_TEXT; }
}

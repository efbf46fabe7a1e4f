// morvent/values.hpp - the values of the C++ API (C++17, header-only; part of
// the C++ API, included by morvent.hpp): bytes and hex, memory banks and lock
// areas, passwords and selection masks, Tag and TagRef, inventory options and
// the records the reader reports.
#ifndef MORVENT_VALUES_HPP
#define MORVENT_VALUES_HPP

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "../morvent.h"
#include "epc.hpp"
#include "error.hpp"

namespace morvent {

using Bytes = std::vector<std::uint8_t>;

// ---- The kit, bytes and devices ---------------------------------------------

inline std::string version() { return MorventVersion(); }

// Upper-case hex of `bytes`, no separators ("E2003412...").
inline std::string hex(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// Bytes of a hex string; spaces are skipped. Throws std::invalid_argument on
// an odd number of digits or a character that is not a hex digit.
inline Bytes fromHex(const std::string& text) {
    Bytes bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ') continue;
        int value = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
        if (value < 0) throw std::invalid_argument("not a hex digit in \"" + text + "\"");
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd number of hex digits in \"" + text + "\"");
    return bytes;
}

// The device serial port COM`com` opens: on POSIX the path in
// $MORVENT_COM<n>, else /dev/ttyS<n-1>; on Windows \\.\COMn. "" for an
// index outside 1..255.
inline std::string serialDevice(int com) {
    char device[512];
    return MorventSerialDevice(com, device, sizeof device) == MORVENT_INVALID_PORT ? std::string() : device;
}

// True when `size` bytes of `frame` (a response frame with its two CRC
// bytes at the end, at most 256 bytes in all) carry a CRC that checks.
inline bool frameIntact(const std::uint8_t* frame, std::size_t size) {
    if (frame == nullptr || size < 3 || size > 256) return false;
    unsigned char copy[258];  // the check writes its residue past the frame
    for (std::size_t i = 0; i < size; ++i) copy[i] = frame[i];
    return CheckCRC(copy, static_cast<int>(size)) == MORVENT_OK;
}

// ---- Tag memory and selection -----------------------------------------------

// The memory banks of a Gen2 tag.
enum class Bank : std::uint8_t {
    Reserved = MORVENT_BANK_RESERVED,
    Epc = MORVENT_BANK_EPC,
    Tid = MORVENT_BANK_TID,
    User = MORVENT_BANK_USER,
};

// A Gen2 selection mask: the tags whose bank holds `bits` at bit address
// `bitAddress` (the EPC starts at bit 0x20 of the EPC bank). `bitLength`
// 0 means all of `bits` (8 per byte).
struct Mask {
    Bank bank = Bank::Epc;
    std::uint16_t bitAddress = 0x20;
    Bytes bits;
    unsigned bitLength = 0;

    // The tags whose EPC begins with `prefix`.
    static Mask epcPrefix(Bytes prefix) {
        Mask mask;
        mask.bits = std::move(prefix);
        return mask;
    }
    unsigned length() const { return bitLength ? bitLength : static_cast<unsigned>(bits.size() * 8); }
};

// ---- Tag protection ---------------------------------------------------------

// A 4-byte access or kill password, sent in array order. From a number,
// the most significant byte goes first: Password(0x12345678) is 12 34 56 78.
struct Password {
    std::array<std::uint8_t, 4> bytes{};
    constexpr Password() = default;
    constexpr Password(std::uint32_t value)  // NOLINT: a number is a natural password
        : bytes{static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)} {}
    constexpr explicit Password(const std::array<std::uint8_t, 4>& b) : bytes(b) {}
};

// What a lock sets: the area, and how it is locked.
enum class LockArea : std::uint8_t {
    KillPassword = MORVENT_LOCK_KILL_PASSWORD,
    AccessPassword = MORVENT_LOCK_ACCESS_PASSWORD,
    Epc = MORVENT_LOCK_EPC,
    Tid = MORVENT_LOCK_TID,
    User = MORVENT_LOCK_USER,
};

enum class LockMode : std::uint8_t {
    Open = MORVENT_LOCK_MODE_OPEN,
    PermanentlyOpen = MORVENT_LOCK_MODE_PERMANENTLY_OPEN,
    Secured = MORVENT_LOCK_MODE_SECURED,
    PermanentlyLocked = MORVENT_LOCK_MODE_PERMANENTLY_LOCKED,
};

// ---- Reader settings --------------------------------------------------------

// How the reader works: answering commands, reading by itself, or reading when triggered.
enum class WorkMode : std::uint8_t {
    Answer = MORVENT_WORK_MODE_ANSWER,
    Active = MORVENT_WORK_MODE_ACTIVE,
    Trigger = MORVENT_WORK_MODE_TRIGGER,
};

// The baud code of a line speed in bit/s; throws Error(MORVENT_PARAM_RANGE)
// for a speed the readers do not offer.
inline std::uint8_t baudCode(int bitsPerSecond) {
    switch (bitsPerSecond) {
    case 9600: return MORVENT_BAUD_9600;
    case 19200: return MORVENT_BAUD_19200;
    case 38400: return MORVENT_BAUD_38400;
    case 57600: return MORVENT_BAUD_57600;
    case 115200: return MORVENT_BAUD_115200;
    }
    throw Error(MORVENT_PARAM_RANGE, "baud rate", -1,
                std::to_string(bitsPerSecond) + " bit/s; use 9600, 19200, 38400, 57600 or 115200");
}

// ---- Tags and inventories ---------------------------------------------------

// One Gen2 tag from an inventory: its EPC and, when asked, its TID bytes.
struct Tag {
    Bytes epc;
    Bytes tid;
    std::string epcHex() const { return hex(epc); }
    // The GS1 identity of the EPC; tests false, with the reason, when the EPC is none.
    Epc identity() const { return decodeEpc(epc); }
    bool operator==(const Tag& other) const { return epc == other.epc && tid == other.tid; }
};

// Which tag a command addresses: by EPC, by selection mask, or whichever
// tag answers first (`any()`). A Tag converts to its EPC reference.
class TagRef {
public:
    enum class Kind { Any, Epc, Mask };

    static TagRef any() { return TagRef(Kind::Any); }
    static TagRef epc(Bytes epc) {
        TagRef ref(Kind::Epc);
        ref.epc_ = std::move(epc);
        return ref;
    }
    static TagRef mask(Mask mask) {
        TagRef ref(Kind::Mask);
        ref.mask_ = std::move(mask);
        return ref;
    }
    TagRef(const Tag& tag) : TagRef(epc(tag.epc)) {}  // NOLINT: a tag names itself

    Kind kind() const { return kind_; }
    const Bytes& epcBytes() const { return epc_; }
    const Mask& maskValue() const { return mask_; }

private:
    explicit TagRef(Kind kind) : kind_(kind) {}
    Kind kind_;
    Bytes epc_;
    Mask mask_;
};

// What an inventory asks for: an optional selection mask and, when `tid` is
// set, `tidWords` TID words from word `tidAddress` with every tag.
struct InventoryOptions {
    std::optional<Mask> mask;
    bool tid = false;
    std::uint8_t tidAddress = 0;
    std::uint8_t tidWords = 2;

    static InventoryOptions withTid(std::uint8_t address = 0, std::uint8_t words = 2) {
        InventoryOptions options;
        options.tid = true;
        options.tidAddress = address;
        options.tidWords = words;
        return options;
    }
};

// One inventory: the reader's closing status and the tags.
struct InventoryResult {
    int status = MORVENT_NO_TAG;
    std::vector<Tag> tags;
};

// ---- What the reader reports ------------------------------------------------

// What GetReaderInformation reports. `raw` holds the 11 bytes as sent; the
// named fields give them the meaning readers of this family use.
struct ReaderInfo {
    std::uint8_t address = 0;
    std::array<std::uint8_t, 11> raw{};
    std::array<std::uint8_t, 2> version() const { return {raw[0], raw[1]}; }
    std::uint8_t readerType() const { return raw[2]; }
    std::uint8_t protocols() const { return raw[3]; }  // bit 0 ISO 18000-6B, bit 1 Gen2
    std::array<std::uint8_t, 2> region() const { return {raw[4], raw[5]}; }
    std::uint8_t power() const { return raw[6]; }
    std::uint8_t scanTime() const { return raw[7]; }  // 100 ms units
    std::uint8_t baudCode() const { return raw[8]; }
};

// What GetSystemParameter reports.
struct SystemParameters {
    std::uint8_t workMode = 0;
    std::uint8_t easSensitivity = 0;
    std::uint8_t triggerTime = 0;
    std::array<std::uint8_t, 2> response{};
    std::uint8_t inventoryInterval = 0;
    Mask mask;                 // the stored selection mask for the active mode
    std::uint8_t tagType = 0;  // extension bytes; 0 when the reader sends none
    std::uint8_t antenna = 0;
    std::uint8_t beep = 0;
};

// ---- ISO 18000-6B tags ------------------------------------------------------

// An ISO 18000-6B tag record: the antenna byte and the 8-byte uid.
using Uid = std::array<std::uint8_t, 8>;
struct Tag6B {
    std::uint8_t antenna = 0;
    Uid uid{};
};

// An ISO 18000-6B group selection: compare the tag bytes from `startAddress`
// with `data`, the bytes chosen by the bits of `mask` (bit 7 the first).
struct Selection6B {
    std::uint8_t condition = 0;  // 0 equal, 1 not equal, 2 greater, 3 lower
    std::uint8_t startAddress = 0;
    std::uint8_t mask = 0;  // 0: no byte compared
    std::array<std::uint8_t, 8> data{};
};

// ---- Tag buffer and clock ---------------------------------------------------

// One record of the reader's tag buffer.
struct BufferRecord {
    std::uint8_t tagType = 0;  // 0 Gen2, 1 ISO 18000-6B
    std::uint8_t antenna = 0;
    unsigned readCount = 0;
    std::array<std::uint8_t, 6> lastSeen{};  // year - 2000, month, day, hour, minute, second
    Bytes id;                                // the EPC or the uid
};

// The reader's clock: year - 2000, month, day, hour, minute, second.
using Clock = std::array<std::uint8_t, 6>;

}  // namespace morvent

#endif  // MORVENT_VALUES_HPP

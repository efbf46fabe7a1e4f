// morvent.hpp - the C++ API of libMorvent (C++17, header-only).
//
// A thin layer over the C functions of morvent.h: a `morvent::Reader` owns
// one open link and offers every command as a method with value results;
// failures are thrown as `morvent::Error`. Inputs are taken as const byte
// vectors and arrays and passed to the core, which only ever reads them.
//
//     auto reader = morvent::Reader::tcp("127.0.0.1", 6000);
//     for (const morvent::Tag& tag : reader.inventory())
//         std::cout << tag.epcHex() << "\n";
//
// Threads: every Reader of a process goes through the core's one link lock,
// so exchanges with readers never overlap, even on different links; a
// Reader may be used from any thread, one call at a time.
//
// Status codes that are not failures are results, not exceptions: the
// inventory statuses and MORVENT_NO_TAG give a (possibly empty) tag list,
// MORVENT_NO_DATA an empty byte vector. A command addressed to one tag that
// is not in the field fails with MORVENT_NO_TAG.
//
// The GS1 identities of EPCs (morvent::Epc, decodeEpc, encodeEpc) are in
// morvent/epc.hpp, included here; Tag::identity() leads to them.
#ifndef MORVENT_HPP
#define MORVENT_HPP

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "morvent.h"
#include "morvent/epc.hpp"

namespace morvent {

using Bytes = std::vector<std::uint8_t>;

// ---- Names and version ---------------------------------------------------

inline std::string statusName(int status) { return MorventStatusName(status); }
inline std::string statusText(int status) { return MorventStatusText(status); }
inline std::string tagErrorName(int code) { return MorventTagErrorName(code); }
inline std::string tagErrorText(int code) { return MorventTagErrorText(code); }
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
        int value = (c >= '0' && c <= '9') ? c - '0'
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

// ---- Errors ----------------------------------------------------------------

// A failed command: the status code, its name and meaning, the operation
// (the C function's name) and, for MORVENT_TAG_ERROR, the tag's error code.
class Error : public std::runtime_error {
public:
    Error(int status, std::string operation, int tagError = -1, std::string detail = {})
        : std::runtime_error(describe(status, operation, tagError, detail)),
          status_(status),
          tagError_(tagError),
          operation_(std::move(operation)) {}

    // A failure whose cause is known better than its status tells, such as
    // "no such device /dev/ttyUSB0": the message gives that reason in place
    // of the status's meaning, and status() still gives the code.
    static Error because(int status, std::string operation, std::string reason, const std::string& detail = {}) {
        return Error(status, std::move(operation), std::move(reason), detail, Because{});
    }

    int status() const noexcept { return status_; }
    const char* name() const noexcept { return MorventStatusName(status_); }
    const char* meaning() const noexcept { return MorventStatusText(status_); }
    const std::string& operation() const noexcept { return operation_; }
    // The tag's error code with MORVENT_TAG_ERROR, else -1.
    int tagError() const noexcept { return tagError_; }
    const char* tagErrorName() const noexcept { return MorventTagErrorName(tagError_); }
    const char* tagErrorMeaning() const noexcept { return MorventTagErrorText(tagError_); }
    // The cause when it is known better than the status tells, else "".
    const std::string& reason() const noexcept { return reason_; }

private:
    struct Because {};
    Error(int status, std::string operation, std::string reason, const std::string& detail, Because)
        : std::runtime_error(operation + ": " + reason + (detail.empty() ? "" : " (" + detail + ")")),
          status_(status),
          tagError_(-1),
          operation_(std::move(operation)),
          reason_(std::move(reason)) {}

    static std::string describe(int status, const std::string& operation, int tagError, const std::string& detail) {
        static const char digits[] = "0123456789ABCDEF";
        std::string text = operation + ": " + MorventStatusName(status) + " (0x" +
                           digits[(status >> 4) & 15] + digits[status & 15] + "): " + MorventStatusText(status);
        if (tagError >= 0) {
            text += "; tag error " + std::string(MorventTagErrorName(tagError)) + ": " + MorventTagErrorText(tagError);
        }
        if (!detail.empty()) text += " (" + detail + ")";
        return text;
    }

    int status_;
    int tagError_;
    std::string operation_;
    std::string reason_;
};

// ---- Values ----------------------------------------------------------------

enum class Bank : std::uint8_t {
    Reserved = MORVENT_BANK_RESERVED,
    Epc = MORVENT_BANK_EPC,
    Tid = MORVENT_BANK_TID,
    User = MORVENT_BANK_USER,
};

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
    Mask mask;                  // the stored selection mask for the active mode
    std::uint8_t tagType = 0;   // extension bytes; 0 when the reader sends none
    std::uint8_t antenna = 0;
    std::uint8_t beep = 0;
};

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
    std::uint8_t mask = 0;       // 0: no byte compared
    std::array<std::uint8_t, 8> data{};
};

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

// ---- The reader --------------------------------------------------------------

class Reader {
public:
    // Opens a network reader. `host` is a host name or a dotted IPv4
    // address, looked up again at every opening. `address` is the address
    // the commands carry: 0xFF reaches whichever reader answers.
    static Reader tcp(const std::string& host, int tcpPort, std::uint8_t address = 0xFF) {
        Reader reader;
        reader.link_ = Link::Tcp;
        reader.host_ = host;
        reader.number_ = tcpPort;
        reader.address_ = address;
        reader.reopen();
        return reader;
    }
    // Opens serial port COM`com` at `baud` bit/s. A device that is missing,
    // or not this process's to use, is named in the Error's reason(). An
    // `address` other than 0xFF is also the one the opening asks (on a bus
    // every reader answers 0xFF at once).
    static Reader serial(int com, int baud = 57600, std::uint8_t address = 0xFF) {
        Reader reader;
        reader.link_ = Link::Serial;
        reader.number_ = com;
        reader.baud_ = baud;
        reader.address_ = address;
        reader.reopen();
        return reader;
    }
    // Opens the first of COM1..COM12 where a reader answers.
    static Reader autoSerial(int baud = 57600, std::uint8_t address = 0xFF) {
        Reader reader;
        reader.link_ = Link::Serial;
        reader.baud_ = baud;
        reader.address_ = address;
        reader.openAuto();
        return reader;
    }

    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    Reader(Reader&& other) noexcept { take(other); }
    Reader& operator=(Reader&& other) noexcept {
        if (this != &other) {
            close();
            take(other);
        }
        return *this;
    }
    ~Reader() { close(); }

    // Closes the link; the Reader can be opened again with reopen().
    void close() noexcept {
        if (port_ < 0) return;
        if (port_ >= 1024) {
            CloseNetPort(port_);
        } else {
            CloseSpecComPort(port_);
        }
        port_ = -1;
    }
    // Opens the same link again (after close(), or to recover a broken link).
    void reopen() {
        close();
        unsigned char answered = 0xFF;
        int handle = -1;
        if (link_ == Link::Tcp) {
            const std::string ip = resolve(host_);
            const int status = OpenNetPort(number_, ip.c_str(), &answered, &handle);
            if (status != MORVENT_OK) {
                const std::string where = host_ + ":" + std::to_string(number_);
                throw Error(status, "OpenNetPort", -1, ip == host_ ? where : where + " at " + ip);
            }
        } else if (link_ == Link::Serial) {
            const bool at = address_ != 0xFF;
            answered = address_;
            const int status = (at ? OpenComPortAt : OpenComPort)(number_, &answered, baudCode(baud_), &handle);
            if (status != MORVENT_OK) throw serialFailure(status, at ? "OpenComPortAt" : "OpenComPort", number_);
        } else {
            throw Error(MORVENT_INVALID_PORT, "reopen", -1, "the Reader was moved from");
        }
        port_ = handle;
        answered_ = answered;
    }

    bool isOpen() const noexcept { return port_ >= 0; }
    // The port index for the C functions (the COM number or the TCP port), -1 when closed.
    int port() const noexcept { return port_; }
    // The address the commands carry, and the address the reader answered with on opening.
    std::uint8_t address() const noexcept { return address_; }
    // Sets the address the commands carry from now on, e.g. the answered one.
    void useAddress(std::uint8_t address) noexcept { address_ = address; }
    std::uint8_t answeredAddress() const noexcept { return answered_; }
    bool isTcp() const noexcept { return link_ == Link::Tcp; }

    // ---- Reader information and Gen2 inventory ----

    ReaderInfo info() {
        ReaderInfo result;
        unsigned char a = address_;
        auto& r = result.raw;
        check(GetReaderInformation(&a, &r[0], &r[2], &r[3], &r[4], &r[5], &r[6], &r[7], &r[8], &r[9], &r[10],
                                   openPort()),
              "GetReaderInformation");
        result.address = a;
        return result;
    }

    // Every tag that answers; all frames of the answer are counted, and an
    // empty field gives an empty list.
    std::vector<Tag> inventory(const InventoryOptions& options = {}) { return inventoryRound(options).tags; }

    // As inventory(), with the status the reader ended the answer with
    // (MORVENT_INVENTORY_DONE .. MORVENT_INVENTORY_FULL, or MORVENT_NO_TAG).
    InventoryResult inventoryRound(const InventoryOptions& options = {}) {
        unsigned char a = address_;
        Selection mask;
        if (options.mask) mask = Selection(*options.mask, "Inventory_G2");
        Bytes records(5000);
        unsigned char frameInfo = 0;
        int length = 0, count = 0;
        const int status = Inventory_G2(&a, mask.bank, mask.address, mask.bitLength, mask.bits(), options.mask ? 1 : 0,
                                        options.tidAddress, options.tidWords, options.tid ? 1 : 0, records.data(),
                                        &frameInfo, &length, &count, openPort());
        if (status == MORVENT_NO_TAG && length <= 0) return {status, {}};
        if (!isInventoryStatus(status) && status != MORVENT_NO_TAG) check(status, "Inventory_G2");
        const std::size_t size = length < 0 ? 0 : length > 5000 ? 5000 : static_cast<std::size_t>(length);
        return {status, splitRecords(records.data(), size, options.tid)};
    }

    // One tag, or none.
    std::optional<Tag> singleTag() {
        unsigned char a = address_, data[256] = {};
        int count = 0;
        const int status = SingleTagInventory_G2(&a, data, nullptr, &count, openPort());
        if (status == MORVENT_NO_TAG || (status == MORVENT_INVENTORY_DONE && count == 0)) return std::nullopt;
        if (status != MORVENT_INVENTORY_DONE) check(status, "SingleTagInventory_G2");
        auto tags = splitRecords(data, 1u + data[0] <= 249 ? 1u + data[0] : 0u, false);
        if (tags.empty()) throw Error(MORVENT_COMM_ERROR, "SingleTagInventory_G2", -1, "malformed tag record");
        return tags.front();
    }

    // ---- Gen2 memory ----

    Bytes read(const TagRef& tag, Bank bank, std::uint8_t wordPointer, std::uint8_t wordCount,
               const Password& password = {}) {
        Addressed t(tag, "ReadData_G2");
        unsigned char a = address_;
        Bytes data(2u * wordCount);
        int errorCode = -1;
        checkTag(ReadData_G2(&a, t.epc(), t.epcWords, u8(bank), wordPointer, wordCount, in(password), t.mask.bank,
                             t.mask.address, t.mask.bitLength, t.mask.bits(), data.data(), &errorCode, openPort()),
                 "ReadData_G2", errorCode);
        return data;
    }

    void write(const TagRef& tag, Bank bank, std::uint8_t wordPointer, const Bytes& data,
               const Password& password = {}) {
        writeWords(tag, bank, wordPointer, data, password, false);
    }
    void blockWrite(const TagRef& tag, Bank bank, std::uint8_t wordPointer, const Bytes& data,
                    const Password& password = {}) {
        writeWords(tag, bank, wordPointer, data, password, true);
    }

    void erase(const TagRef& tag, Bank bank, std::uint8_t wordPointer, std::uint8_t wordCount,
               const Password& password = {}) {
        Addressed t(tag, "BlockErase_G2");
        unsigned char a = address_;
        int errorCode = -1;
        checkTag(BlockErase_G2(&a, t.epc(), t.epcWords, u8(bank), wordPointer, wordCount, in(password), t.mask.bank,
                               t.mask.address, t.mask.bitLength, t.mask.bits(), &errorCode, openPort()),
                 "BlockErase_G2", errorCode);
    }

    // Gives the tag in the field the EPC `epc` (whole words, at most 15).
    void writeEpc(const Bytes& epc, const Password& password = {}) {
        const unsigned char words = epcWords(epc, "WriteEPC_G2");
        unsigned char a = address_;
        int errorCode = -1;
        checkTag(WriteEPC_G2(&a, in(password), in(epc), words, &errorCode, openPort()), "WriteEPC_G2", errorCode);
    }

    // Gives the tag `tag` the EPC `epc`: its PC word keeps its flags and takes
    // the new length, and PC and EPC are written together. With
    // TagRef::any() the reader gives it to whichever tag answers.
    void writeEpc(const TagRef& tag, const Bytes& epc, const Password& password = {}) {
        if (tag.kind() == TagRef::Kind::Any) return writeEpc(epc, password);
        const unsigned char words = epcWords(epc, "WriteData_G2");
        if (words == 0) throw Error(MORVENT_PARAM_RANGE, "WriteData_G2", -1, "a new EPC is 1 to 15 words");
        const Bytes pc = read(tag, Bank::Epc, 1, 1, password);
        Bytes data{static_cast<std::uint8_t>((words << 3) | (pc[0] & 0x07)), pc[1]};
        data.insert(data.end(), epc.begin(), epc.end());
        write(tag, Bank::Epc, 1, data, password);
    }

    // ---- Gen2 protection ----

    void lock(const TagRef& tag, LockArea area, LockMode mode, const Password& password) {
        Addressed t(tag, "Lock_G2");
        unsigned char a = address_;
        int errorCode = -1;
        checkTag(Lock_G2(&a, t.epc(), t.epcWords, u8(area), u8(mode), in(password), t.mask.bank, t.mask.address,
                         t.mask.bitLength, t.mask.bits(), &errorCode, openPort()),
                 "Lock_G2", errorCode);
    }

    void kill(const TagRef& tag, const Password& killPassword) {
        Addressed t(tag, "KillTag_G2");
        unsigned char a = address_;
        int errorCode = -1;
        checkTag(KillTag_G2(&a, t.epc(), t.epcWords, in(killPassword), t.mask.bank, t.mask.address, t.mask.bitLength,
                            t.mask.bits(), &errorCode, openPort()),
                 "KillTag_G2", errorCode);
    }

    // Bit n of `code` permanently locks user-memory block n.
    void blockLock(const TagRef& tag, std::uint8_t code, const Password& password) {
        Addressed t(tag, "BlockLock_G2");
        unsigned char a = address_;
        int errorCode = -1;
        checkTag(BlockLock_G2(&a, t.epc(), t.epcWords, in(password), code, t.mask.bank, t.mask.address,
                              t.mask.bitLength, t.mask.bits(), &errorCode, openPort()),
                 "BlockLock_G2", errorCode);
    }

    // Privacy mode: the addressed tag, or (setPrivacyInField) the tag in the field.
    void setPrivacy(const TagRef& tag, const Password& password) {
        Addressed t(tag, "SetPrivacyByEPC_G2");
        unsigned char a = address_;
        int errorCode = -1;
        checkTag(SetPrivacyByEPC_G2(&a, t.epc(), t.epcWords, in(password), t.mask.bank, t.mask.address,
                                    t.mask.bitLength, t.mask.bits(), &errorCode, openPort()),
                 "SetPrivacyByEPC_G2", errorCode);
    }
    void setPrivacyInField(const Password& password) {
        unsigned char a = address_;
        int errorCode = -1;
        checkTag(SetPrivacyWithoutEPC_G2(&a, in(password), &errorCode, openPort()), "SetPrivacyWithoutEPC_G2",
                 errorCode);
    }
    void resetPrivacy(const Password& password) {
        unsigned char a = address_;
        int errorCode = -1;
        checkTag(ResetPrivacy_G2(&a, in(password), &errorCode, openPort()), "ResetPrivacy_G2", errorCode);
    }
    // The privacy state the reader reports (non-zero: private).
    std::uint8_t checkPrivacy() {
        unsigned char a = address_, state = 0;
        int errorCode = -1;
        checkTag(CheckPrivacy_G2(&a, &state, &errorCode, openPort()), "CheckPrivacy_G2", errorCode);
        return state;
    }

    // EAS: sets the addressed tag's EAS state; easAlarm() tells whether a
    // tag with EAS set is in the field.
    void setEas(const TagRef& tag, std::uint8_t state, const Password& password) {
        Addressed t(tag, "EASConfigure_G2");
        unsigned char a = address_;
        int errorCode = -1;
        checkTag(EASConfigure_G2(&a, t.epc(), t.epcWords, in(password), state, t.mask.bank, t.mask.address,
                                 t.mask.bitLength, t.mask.bits(), &errorCode, openPort()),
                 "EASConfigure_G2", errorCode);
    }
    bool easAlarm() {
        unsigned char a = address_;
        int errorCode = -1;
        const int status = EASAlarm_G2(&a, &errorCode, openPort());
        if (status == MORVENT_NO_TAG) return false;
        checkTag(status, "EASAlarm_G2", errorCode);
        return true;
    }

    // ---- ISO 18000-6B ----

    std::optional<Tag6B> inventory6BSingle() {
        unsigned char a = address_, record[9];
        const int status = InventorySingle_6B(&a, record, openPort());
        if (status == MORVENT_NO_TAG) return std::nullopt;
        check(status, "InventorySingle_6B");
        return toTag6B(record);
    }

    std::vector<Tag6B> inventory6B(const Selection6B& selection = {}) {
        unsigned char a = address_, records[255 * 9];
        int count = 0;
        const int status = InventoryMultiple_6B(&a, selection.condition, selection.startAddress, selection.mask,
                                                in(selection.data), records, &count, openPort());
        if (status == MORVENT_NO_TAG) return {};
        check(status, "InventoryMultiple_6B");
        std::vector<Tag6B> tags;
        for (int i = 0; i < count && i < 255; ++i) tags.push_back(toTag6B(records + 9 * i));
        return tags;
    }

    Bytes read6B(const Uid& uid, std::uint8_t startAddress, std::uint8_t byteCount) {
        unsigned char a = address_;
        Bytes data(byteCount);
        int errorCode = -1;
        checkTag(ReadData_6B(&a, in(uid), startAddress, byteCount, data.data(), &errorCode, openPort()), "ReadData_6B",
                 errorCode);
        return data;
    }

    void write6B(const Uid& uid, std::uint8_t startAddress, const Bytes& data) { write6BCounted(uid, startAddress, data); }
    // As write6B; the number of bytes the reader says it wrote.
    std::uint8_t write6BCounted(const Uid& uid, std::uint8_t startAddress, const Bytes& data) {
        if (data.size() > 242) throw Error(MORVENT_PARAM_RANGE, "WriteData_6B", -1, "at most 242 bytes at once");
        unsigned char a = address_, written = 0;
        int errorCode = -1;
        checkTag(WriteData_6B(&a, in(uid), startAddress, in(data), static_cast<unsigned char>(data.size()), &written,
                              &errorCode, openPort()),
                 "WriteData_6B", errorCode);
        return written;
    }

    void lock6B(const Uid& uid, std::uint8_t address) {
        unsigned char a = address_;
        int errorCode = -1;
        checkTag(Lock_6B(&a, in(uid), address, &errorCode, openPort()), "Lock_6B", errorCode);
    }

    bool isLocked6B(const Uid& uid, std::uint8_t address) {
        unsigned char a = address_, state = 0;
        int errorCode = -1;
        checkTag(CheckLock_6B(&a, in(uid), address, &state, &errorCode, openPort()), "CheckLock_6B", errorCode);
        return state != 0;
    }

    // ---- Settings ----

    void setRegion(std::uint8_t region1, std::uint8_t region2) { simple(SetRegion(addr(), region1, region2, openPort()), "SetRegion"); }
    // Gives the reader a new address; a Reader that addressed the old one follows it.
    void setAddress(std::uint8_t newAddress) {
        simple(SetAddress(addr(), newAddress, openPort()), "SetAddress");
        if (address_ != 0xFF) address_ = newAddress;
    }
    void setScanTime(std::uint8_t hundredsOfMs) { simple(SetInventoryScanTime(addr(), hundredsOfMs, openPort()), "SetInventoryScanTime"); }
    // Changes the reader's line speed; a serial Reader follows it.
    void setBaudRate(int bitsPerSecond) {
        simple(SetBaudRate(addr(), baudCode(bitsPerSecond), openPort()), "SetBaudRate");
        if (link_ == Link::Serial) baud_ = bitsPerSecond;
    }
    void setPower(std::uint8_t power) { simple(SetRfPower(addr(), power, openPort()), "SetRfPower"); }
    void buzzerAndLed(std::uint8_t c1, std::uint8_t c2, std::uint8_t c3) { simple(BuzzerAndLEDControl(addr(), c1, c2, c3, openPort()), "BuzzerAndLEDControl"); }

    void setWorkMode(WorkMode mode) { setWorkMode(u8(mode)); }
    void setWorkMode(std::uint8_t modeByte) { simple(SetWorkMode(addr(), modeByte, openPort()), "SetWorkMode"); }
    void setEasSensitivity(std::uint8_t value) { simple(SetEASSensitivity(addr(), value, openPort()), "SetEASSensitivity"); }
    // The selection mask of the active mode.
    void setMask(const Mask& mask) {
        Selection s(mask, "SetMask");
        simple(SetMask(addr(), s.bank, s.address, s.bitLength, s.bits(), openPort()), "SetMask");
    }
    void setAutoResponse(std::uint8_t r1, std::uint8_t r2) { simple(SetResponsePamametersofAuto_runningMode(addr(), r1, r2, openPort()), "SetResponsePamametersofAuto_runningMode"); }
    void setInventoryInterval(std::uint8_t hundredsOfMs) { simple(SetInventoryInterval(addr(), hundredsOfMs, openPort()), "SetInventoryInterval"); }
    void setTagType(std::uint8_t type) { simple(SelectTagType(addr(), type, openPort()), "SelectTagType"); }
    void setAntenna(std::uint8_t antenna) { simple(SetAntennaMultiplexing(addr(), antenna, openPort()), "SetAntennaMultiplexing"); }
    void setBeep(std::uint8_t beep) { simple(SetBeepNotification(addr(), beep, openPort()), "SetBeepNotification"); }
    void setTriggerTime(std::uint8_t time) { simple(SetTriggerTime(addr(), time, openPort()), "SetTriggerTime"); }
    // The TID words that active-mode records carry (count 0: none).
    void setTidParameters(std::uint8_t wordAddress, std::uint8_t wordCount) { simple(SetTIDParameter(addr(), wordAddress, wordCount, openPort()), "SetTIDParameter"); }

    SystemParameters systemParameters() {
        SystemParameters p;
        unsigned char a = address_, bank = 0, bitLength = 0, maskAddress[2] = {0, 0}, mask[32] = {};
        check(GetSystemParameter(&a, &p.workMode, &p.easSensitivity, &p.triggerTime, &p.response[0], &p.response[1],
                                 &p.inventoryInterval, &bank, maskAddress, &bitLength, mask, &p.tagType, &p.antenna,
                                 &p.beep, openPort()),
              "GetSystemParameter");
        p.mask.bank = static_cast<Bank>(bank);
        p.mask.bitAddress = static_cast<std::uint16_t>(maskAddress[0] << 8 | maskAddress[1]);
        p.mask.bitLength = bitLength;
        p.mask.bits.assign(mask, mask + (bitLength + 7) / 8);
        return p;
    }

    // The bytes the reader sent by itself in its active mode (response
    // frames back to back, not taken apart); empty when none came.
    Bytes readActiveModeData() {
        Bytes data(8000);
        int count = 0;
        const int status = ReadActiveModeData(data.data(), &count, openPort());
        if (status == MORVENT_NO_DATA) return {};
        check(status, "ReadActiveModeData");
        data.resize(static_cast<std::size_t>(count < 0 ? 0 : count > 8000 ? 8000 : count));
        return data;
    }

    // ---- Clock, tag buffer, relay and GPIO ----

    void setClock(const Clock& clock) { simple(SetReal_timeClock(addr(), in(clock), openPort()), "SetReal_timeClock"); }
    Clock clock() {
        Clock value{};
        simple(GetTime(addr(), value.data(), openPort()), "GetTime");
        return value;
    }

    std::vector<BufferRecord> tagBuffer() {
        Bytes data(5000);
        int size = 0;
        simple(GetTagBufferInfo(addr(), data.data(), &size, openPort()), "GetTagBufferInfo");
        std::vector<BufferRecord> records;
        for (std::size_t at = 0; at + 12 <= static_cast<std::size_t>(size);) {
            const std::size_t length = data[at + 11];
            if (at + 12 + length > static_cast<std::size_t>(size)) break;
            BufferRecord record;
            record.tagType = data[at];
            record.antenna = data[at + 1];
            record.readCount = static_cast<unsigned>(data[at + 2] << 8 | data[at + 3]);
            for (int i = 0; i < 6; ++i) record.lastSeen[i] = data[at + 4 + i];
            record.id.assign(data.begin() + static_cast<long>(at + 12), data.begin() + static_cast<long>(at + 12 + length));
            records.push_back(std::move(record));
            at += 12 + length;
        }
        return records;
    }
    void clearTagBuffer() { simple(ClearTagBuffer(addr(), openPort()), "ClearTagBuffer"); }

    void setRelay(std::uint8_t relay) { simple(SetRelay(addr(), relay, openPort()), "SetRelay"); }
    void setGpio(std::uint8_t outputs) { simple(SetGPIO(addr(), outputs, openPort()), "SetGPIO"); }
    std::uint8_t gpio() {
        unsigned char value = 0;
        simple(GetGPIOStatus(addr(), &value, openPort()), "GetGPIOStatus");
        return value;
    }
    void setNotificationPulse(std::uint8_t pulse) { simple(SetNotificationPulseOutput(addr(), pulse, openPort()), "SetNotificationPulseOutput"); }
    void setRevDelay(std::uint8_t delay) { simple(SetRevDelay(addr(), delay, openPort()), "SetRevDelay"); }
    std::uint8_t revDelay() {
        unsigned char value = 0;
        simple(GetRevDelay(addr(), &value, openPort()), "GetRevDelay");
        return value;
    }

    // The reader's serial number (0 .. 2^32 - 1).
    std::uint32_t serialNumber() {
        int value = 0;
        simple(GetSeriaNo(addr(), &value, openPort()), "GetSeriaNo");
        return static_cast<std::uint32_t>(value);
    }
    void setSerialNumber(std::uint32_t number) {
        int value = static_cast<int>(number);
        simple(SetSeriaNo(addr(), &value, openPort()), "SetSeriaNo");
    }

    // ---- AT mode and transparent commands ----

    void changeAtMode(std::uint8_t mode) { simple(ChangeATMode(addr(), mode, openPort()), "ChangeATMode"); }
    // Passes `data` (at most 250 bytes) to the reader after `parameter`; the answer's data.
    Bytes transparent(std::uint8_t parameter, const Bytes& data) {
        if (data.size() > 250) throw Error(MORVENT_PARAM_RANGE, "TransparentCMD", -1, "at most 250 bytes");
        unsigned char a = address_, length = 0, answer[250];
        simple(TransparentCMD(&a, parameter, static_cast<unsigned char>(data.size()), in(data), &length, answer,
                              openPort()),
               "TransparentCMD");
        return Bytes(answer, answer + (length > 250 ? 250 : length));
    }

    // ---- Helpers (public for the other language layers' tests) ----

    // Takes inventory tag records apart: a length byte and that many EPC
    // bytes, then, with `withTid`, a length byte and the TID bytes. Throws
    // Error(MORVENT_COMM_ERROR) when a record runs past the end.
    static std::vector<Tag> splitRecords(const std::uint8_t* data, std::size_t size, bool withTid) {
        std::vector<Tag> tags;
        std::size_t at = 0;
        auto field = [&](Bytes& out) {
            if (at >= size || at + 1 + data[at] > size) {
                throw Error(MORVENT_COMM_ERROR, "Inventory_G2", -1, "a tag record runs past the end of the answer");
            }
            out.assign(data + at + 1, data + at + 1 + data[at]);
            at += 1u + data[at];
        };
        while (at < size) {
            Tag tag;
            field(tag.epc);
            if (withTid) field(tag.tid);
            tags.push_back(std::move(tag));
        }
        return tags;
    }

private:
    enum class Link { None, Tcp, Serial };

    Reader() = default;

    void take(Reader& other) noexcept {
        link_ = other.link_;
        host_ = std::move(other.host_);
        number_ = other.number_;
        baud_ = other.baud_;
        address_ = other.address_;
        answered_ = other.answered_;
        port_ = other.port_;
        other.port_ = -1;
        other.link_ = Link::None;
    }

    void openAuto() {
        unsigned char answered = 0xFF;
        int com = -1, handle = -1;
        const int status = AutoOpenComPort(&com, &answered, baudCode(baud_), &handle);
        if (status != MORVENT_OK) throw Error(status, "AutoOpenComPort", -1, "COM1 to COM12");
        number_ = com;
        port_ = handle;
        answered_ = answered;
    }

    // The dotted IPv4 address of `host` for OpenNetPort; an Error that
    // names the host when it has none.
    static std::string resolve(const std::string& host) {
        char ip[16];
        const int status = MorventResolveHost(host.c_str(), ip);
        if (status == MORVENT_OK) return ip;
        throw Error::because(status, "MorventResolveHost",
                             status == MORVENT_COMM_ERROR
                                 ? "cannot look up host '" + host + "': the name service did not answer"
                                 : "unknown host '" + host + "' (no IPv4 address)");
    }

    // The Error for a failed opening of COM`com`: the core's status says
    // "not openable" for a missing device and a silent reader alike, so the
    // device is looked at to name the cause.
    static Error serialFailure(int status, const char* operation, int com) {
        const std::string port = "COM" + std::to_string(com);
        char device[512];
        const int found = status == MORVENT_PORT_OPEN ? MORVENT_INVALID_PORT
                                                      : MorventSerialDevice(com, device, sizeof device);
        if (found == MORVENT_DEVICE_MISSING)
            return Error::because(status, operation, "no such device " + std::string(device), port);
        if (found == MORVENT_DEVICE_DENIED)
            return Error::because(status, operation, "no permission to read and write " + std::string(device), port);
        return Error(status, operation, -1, found == MORVENT_DEVICE_PRESENT ? port + " at " + device : port);
    }

    int openPort() const {
        if (port_ < 0) throw Error(MORVENT_INVALID_PORT, "Reader", -1, "the reader is closed");
        return port_;
    }

    // The address byte for one command; commands that write the answering
    // address back write it here, not into the Reader.
    unsigned char* addr() {
        scratch_ = address_;
        return &scratch_;
    }

    static bool isInventoryStatus(int status) {
        return status >= MORVENT_INVENTORY_DONE && status <= MORVENT_INVENTORY_FULL;
    }
    static void check(int status, const char* operation) {
        if (status != MORVENT_OK) throw Error(status, operation);
    }
    static void simple(int status, const char* operation) { check(status, operation); }
    // `errorCode` by reference: it is read only after the call that fills it
    // (the arguments of one call are evaluated in no fixed order).
    static void checkTag(int status, const char* operation, const int& errorCode) {
        if (status != MORVENT_OK) throw Error(status, operation, status == MORVENT_TAG_ERROR ? errorCode : -1);
    }

    template <typename E>
    static std::uint8_t u8(E value) {
        return static_cast<std::uint8_t>(value);
    }
    // The core reads input arrays and never writes them.
    static unsigned char* in(const Bytes& bytes) { return const_cast<unsigned char*>(bytes.data()); }
    template <std::size_t N>
    static unsigned char* in(const std::array<std::uint8_t, N>& bytes) {
        return const_cast<unsigned char*>(bytes.data());
    }
    static unsigned char* in(const Password& password) { return in(password.bytes); }

    static unsigned char epcWords(const Bytes& epc, const char* operation) {
        if (epc.size() % 2 != 0 || epc.size() > 30) {
            throw Error(MORVENT_PARAM_RANGE, operation, -1, "an EPC is 0 to 15 whole words (an even number of bytes, at most 30)");
        }
        return static_cast<unsigned char>(epc.size() / 2);
    }

    // The four selection-mask fields as the C functions take them.
    struct Selection {
        unsigned char bank = 0;
        unsigned char address[2] = {0, 0};
        unsigned char bitLength = 0;
        Bytes mask{0};
        Selection() = default;
        Selection(const Mask& m, const char* operation) {
            const unsigned length = m.length();
            if (length > 255 || m.bits.size() < (length + 7) / 8) {
                throw Error(MORVENT_PARAM_RANGE, operation, -1, "a mask is at most 255 bits, and needs a byte per 8 of them");
            }
            bank = u8(m.bank);
            address[0] = static_cast<unsigned char>(m.bitAddress >> 8);
            address[1] = static_cast<unsigned char>(m.bitAddress);
            bitLength = static_cast<unsigned char>(length);
            mask = m.bits.empty() ? Bytes{0} : m.bits;
        }
        unsigned char* bits() { return mask.data(); }
    };

    // Tag addressing: EPC words, or 0xFF and the selection mask.
    struct Addressed {
        unsigned char epcWords = 0;
        Bytes epcBytes{0};
        Selection mask;
        Addressed(const TagRef& tag, const char* operation) {
            switch (tag.kind()) {
            case TagRef::Kind::Any: break;
            case TagRef::Kind::Epc:
                epcWords = Reader::epcWords(tag.epcBytes(), operation);
                if (!tag.epcBytes().empty()) epcBytes = tag.epcBytes();
                break;
            case TagRef::Kind::Mask:
                epcWords = 0xFF;
                mask = Selection(tag.maskValue(), operation);
                break;
            }
        }
        unsigned char* epc() { return epcBytes.data(); }
    };

    void writeWords(const TagRef& tag, Bank bank, std::uint8_t wordPointer, const Bytes& data,
                    const Password& password, bool block) {
        const char* operation = block ? "BlockWrite_G2" : "WriteData_G2";
        if (data.empty() || data.size() % 2 != 0 || data.size() > 2 * 255) {
            throw Error(MORVENT_PARAM_RANGE, operation, -1, "write 1 to 255 whole words (an even number of bytes)");
        }
        Addressed t(tag, operation);
        unsigned char a = address_;
        int errorCode = -1;
        const auto words = static_cast<unsigned char>(data.size() / 2);
        const auto call = block ? BlockWrite_G2 : WriteData_G2;
        checkTag(call(&a, t.epc(), words, t.epcWords, u8(bank), wordPointer, in(data), in(password), t.mask.bank,
                      t.mask.address, t.mask.bitLength, t.mask.bits(), &errorCode, openPort()),
                 operation, errorCode);
    }

    static Tag6B toTag6B(const unsigned char* record) {
        Tag6B tag;
        tag.antenna = record[0];
        for (int i = 0; i < 8; ++i) tag.uid[i] = record[1 + i];
        return tag;
    }

    Link link_ = Link::None;
    std::string host_;
    int number_ = 0;  // TCP port or COM number
    int baud_ = 57600;
    std::uint8_t address_ = 0xFF;
    std::uint8_t answered_ = 0xFF;
    unsigned char scratch_ = 0xFF;
    int port_ = -1;
};

}  // namespace morvent

#endif  // MORVENT_HPP

// The tags in a simulated reader's field: Gen2 tags with their four memory
// banks, passwords and lock state, and ISO 18000-6B tags with byte memory.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>

#include "sim/frame.h"

namespace sim {

// Tag error codes reported with the reader status 0xFC.
enum TagError : std::uint8_t {
    kTagOtherError = 0x00,
    kTagMemoryOverrun = 0x03,  // bank, address or length outside the memory
    kTagMemoryLocked = 0x04,   // locked area, permanent lock, read-only memory
    kTagWrongPassword = 0x05,  // a password that does not match, or none given
    kTagNonSpecific = 0x0F,    // the tag refused (kill with a zero kill password)
};

// Result of a tag operation: empty on success, else the tag error code.
using TagResult = std::optional<std::uint8_t>;

using Password = std::array<std::uint8_t, 4>;

enum Gen2Bank : std::uint8_t { kBankReserved = 0, kBankEpc = 1, kBankTid = 2, kBankUser = 3 };

// Lock targets and lock modes of Lock_G2.
enum LockTarget : std::uint8_t { kLockKill = 0, kLockAccess = 1, kLockEpc = 2, kLockTid = 3, kLockUser = 4 };
enum LockMode : std::uint8_t { kOpen = 0, kPermaOpen = 1, kSecured = 2, kPermaLocked = 3 };

// Selection mask in request order: bank, bit address (two bytes, most
// significant first), bit length, mask bits.
struct Mask {
    std::uint8_t bank = kBankEpc;
    std::uint16_t bitAddress = 0;
    std::uint8_t bitLength = 0;
    Bytes bits;
};

class Gen2Tag {
public:
    static constexpr std::size_t kMaxEpcWords = 15;
    static constexpr std::size_t kUserBlockWords = 4;  // granularity of BlockLock_G2

    Gen2Tag(Bytes epc, Bytes tid, Bytes user);

    Bytes epc() const;
    const Bytes& tid() const { return tid_; }
    Bytes bank(std::uint8_t bank) const;  // the whole bank as the air interface shows it
    bool matches(const Mask& mask) const;

    Password accessPassword() const { return access_; }
    Password killPassword() const { return kill_; }
    void setPasswords(const Password& access, const Password& kill) { access_ = access, kill_ = kill; }

    // Password check of an operation: an all-zero password leaves the tag in
    // the open state unless its access password is zero too.
    TagResult authorise(const Password& given, bool& secured) const;

    TagResult read(std::uint8_t bank, std::uint8_t wordPointer, std::uint8_t wordCount, const Password& given,
                   Bytes& out) const;
    TagResult write(std::uint8_t bank, std::uint8_t wordPointer, const Bytes& data, const Password& given);
    TagResult writeEpc(const Bytes& epc, const Password& given);
    TagResult lock(std::uint8_t target, std::uint8_t mode, const Password& given);
    TagResult blockLock(std::uint8_t blocks, const Password& given);
    TagResult kill(const Password& given) const;

    std::uint8_t lockMode(std::uint8_t target) const { return locks_.at(target); }
    // Scenario state, set without the tag's consent.
    void preset(std::uint8_t target, std::uint8_t mode) { locks_.at(target) = mode; }
    void presetBlockLocks(std::uint8_t blocks) { blockLocks_ = blocks; }
    std::uint8_t blockLocks() const { return blockLocks_; }

    bool privacy = false;
    bool eas = false;

private:
    std::uint16_t pc() const;
    TagResult checkWrite(std::uint8_t bank, std::size_t firstWord, std::size_t words, bool secured) const;
    TagResult checkReservedRead(std::size_t firstWord, std::size_t words, bool secured) const;

    std::size_t epcWords_;
    std::array<std::uint8_t, 2 * kMaxEpcWords> epcMemory_{};
    Bytes tid_;
    Bytes user_;
    Password access_{};
    Password kill_{};
    std::array<std::uint8_t, 5> locks_{};
    std::uint8_t blockLocks_ = 0;
};

class Tag6B {
public:
    static constexpr std::size_t kMemorySize = 256;
    static constexpr std::size_t kFactoryBytes = 18;  // UID and maker data, locked from the start

    explicit Tag6B(const std::array<std::uint8_t, 8>& uid);

    const std::array<std::uint8_t, 8>& uid() const { return uid_; }
    TagResult read(std::uint8_t start, std::size_t count, Bytes& out) const;
    TagResult write(std::uint8_t start, const Bytes& data);
    TagResult lock(std::uint8_t address);
    bool locked(std::uint8_t address) const { return locked_.test(address); }
    // ISO 18000-6B group selection: condition 0 equal, 1 not equal, 2 greater,
    // 3 lower; mask bit 7 selects compare byte 0, bit 0 compare byte 7.
    bool selected(std::uint8_t condition, std::uint8_t start, std::uint8_t mask, const std::uint8_t* compare) const;
    void load(std::uint8_t start, const Bytes& data);  // scenario contents, bypassing locks

private:
    std::array<std::uint8_t, 8> uid_;
    std::array<std::uint8_t, kMemorySize> memory_{};
    std::bitset<kMemorySize> locked_;
};

}  // namespace sim

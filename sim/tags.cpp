#include "sim/tags.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::size_t kPasswordBytes = 4;

bool allZero(const Password& p) {
    return std::all_of(p.begin(), p.end(), [](std::uint8_t b) { return b == 0; });
}

// StoredCRC of a Gen2 EPC bank: CRC-16 with polynomial 0x1021, preset
// 0xFFFF, complemented, over the PC and the EPC.
std::uint16_t gen2Crc(const Bytes& data) {
    std::uint16_t reg = 0xFFFF;
    for (std::uint8_t byte : data) {
        reg ^= static_cast<std::uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            reg =
                (reg & 0x8000) ? static_cast<std::uint16_t>((reg << 1) ^ 0x1021) : static_cast<std::uint16_t>(reg << 1);
    }
    return static_cast<std::uint16_t>(~reg);
}

bool bitAt(const Bytes& bytes, std::size_t bit) { return (bytes[bit / 8] >> (7 - bit % 8)) & 1; }

// Which lock target guards a word of the reserved bank.
std::uint8_t reservedTarget(std::size_t word) { return word < 2 ? kLockKill : kLockAccess; }

bool permanent(std::uint8_t mode) { return mode == kPermaOpen || mode == kPermaLocked; }

bool lockForbids(std::uint8_t mode, bool secured) { return mode == kPermaLocked || (mode == kSecured && !secured); }

}  // namespace

Gen2Tag::Gen2Tag(Bytes epc, Bytes tid, Bytes user)
    : epcWords_(std::min(epc.size() / 2, kMaxEpcWords)), tid_(std::move(tid)), user_(std::move(user)) {
    std::copy_n(epc.begin(), epcWords_ * 2, epcMemory_.begin());
}

std::uint16_t Gen2Tag::pc() const { return static_cast<std::uint16_t>(epcWords_ << 11); }

Bytes Gen2Tag::epc() const { return Bytes(epcMemory_.begin(), epcMemory_.begin() + epcWords_ * 2); }

Bytes Gen2Tag::bank(std::uint8_t bank) const {
    switch (bank) {
    case kBankReserved: {
        Bytes out(kill_.begin(), kill_.end());
        out.insert(out.end(), access_.begin(), access_.end());
        return out;
    }
    case kBankEpc: {
        Bytes covered{static_cast<std::uint8_t>(pc() >> 8), static_cast<std::uint8_t>(pc())};
        const Bytes current = epc();
        covered.insert(covered.end(), current.begin(), current.end());
        const std::uint16_t crc = gen2Crc(covered);
        Bytes out{static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc), covered[0], covered[1]};
        out.insert(out.end(), epcMemory_.begin(), epcMemory_.end());
        return out;
    }
    case kBankTid: return tid_;
    case kBankUser: return user_;
    default: return {};
    }
}

bool Gen2Tag::matches(const Mask& mask) const {
    if (mask.bitLength == 0) return true;
    if (mask.bank == kBankReserved || mask.bank > kBankUser) return false;
    const Bytes memory = bank(mask.bank);
    if (mask.bitAddress + std::size_t{mask.bitLength} > memory.size() * 8) return false;
    for (std::size_t i = 0; i < mask.bitLength; ++i)
        if (bitAt(memory, mask.bitAddress + i) != bitAt(mask.bits, i)) return false;
    return true;
}

TagResult Gen2Tag::authorise(const Password& given, bool& secured) const {
    if (allZero(given)) {
        secured = allZero(access_);
        return std::nullopt;
    }
    if (given != access_) return kTagWrongPassword;
    secured = true;
    return std::nullopt;
}

TagResult Gen2Tag::checkReservedRead(std::size_t firstWord, std::size_t words, bool secured) const {
    for (std::size_t w = firstWord; w < firstWord + words; ++w)
        if (lockForbids(locks_[reservedTarget(w)], secured)) return kTagMemoryLocked;
    return std::nullopt;
}

TagResult Gen2Tag::read(std::uint8_t bankCode, std::uint8_t wordPointer, std::uint8_t wordCount, const Password& given,
                        Bytes& out) const {
    bool secured = false;
    if (auto error = authorise(given, secured)) return error;
    if (bankCode > kBankUser) return kTagMemoryOverrun;
    const Bytes memory = bank(bankCode);
    const std::size_t first = std::size_t{wordPointer} * 2, count = std::size_t{wordCount} * 2;
    if (first + count > memory.size()) return kTagMemoryOverrun;
    if (bankCode == kBankReserved)
        if (auto error = checkReservedRead(wordPointer, wordCount, secured)) return error;
    out.assign(memory.begin() + first, memory.begin() + first + count);
    return std::nullopt;
}

TagResult Gen2Tag::checkWrite(std::uint8_t bankCode, std::size_t firstWord, std::size_t words, bool secured) const {
    switch (bankCode) {
    case kBankReserved: return checkReservedRead(firstWord, words, secured);  // the same locks guard both directions
    case kBankEpc:
        if (firstWord == 0) return kTagMemoryLocked;  // StoredCRC is computed by the tag
        return lockForbids(locks_[kLockEpc], secured) ? TagResult(kTagMemoryLocked) : std::nullopt;
    case kBankTid: return kTagMemoryLocked;
    default:
        if (lockForbids(locks_[kLockUser], secured)) return kTagMemoryLocked;
        for (std::size_t w = firstWord; w < firstWord + words; ++w)
            if ((blockLocks_ >> (w / kUserBlockWords)) & 1) return kTagMemoryLocked;
        return std::nullopt;
    }
}

TagResult Gen2Tag::write(std::uint8_t bankCode, std::uint8_t wordPointer, const Bytes& data, const Password& given) {
    bool secured = false;
    if (auto error = authorise(given, secured)) return error;
    if (bankCode > kBankUser) return kTagMemoryOverrun;
    Bytes memory = bank(bankCode);
    const std::size_t first = std::size_t{wordPointer} * 2;
    if (first + data.size() > memory.size()) return kTagMemoryOverrun;
    if (auto error = checkWrite(bankCode, wordPointer, data.size() / 2, secured)) return error;
    std::copy(data.begin(), data.end(), memory.begin() + first);
    switch (bankCode) {
    case kBankReserved:
        std::copy_n(memory.begin(), kPasswordBytes, kill_.begin());
        std::copy_n(memory.begin() + kPasswordBytes, kPasswordBytes, access_.begin());
        break;
    case kBankEpc:
        epcWords_ = std::min<std::size_t>(memory[2] >> 3, kMaxEpcWords);  // length field of the PC word
        std::copy(memory.begin() + 4, memory.end(), epcMemory_.begin());
        break;
    case kBankUser: user_ = memory; break;
    }
    return std::nullopt;
}

TagResult Gen2Tag::writeEpc(const Bytes& epc, const Password& given) {
    bool secured = false;
    if (auto error = authorise(given, secured)) return error;
    if (epc.size() > epcMemory_.size()) return kTagMemoryOverrun;
    if (auto error = checkWrite(kBankEpc, 1, 1 + epc.size() / 2, secured)) return error;
    epcWords_ = epc.size() / 2;
    std::copy(epc.begin(), epc.end(), epcMemory_.begin());
    return std::nullopt;
}

TagResult Gen2Tag::lock(std::uint8_t target, std::uint8_t mode, const Password& given) {
    bool secured = false;
    if (auto error = authorise(given, secured)) return error;
    if (!secured) return kTagWrongPassword;
    std::uint8_t& current = locks_.at(target);
    if (permanent(current) && current != mode) return kTagMemoryLocked;
    current = mode;
    return std::nullopt;
}

TagResult Gen2Tag::blockLock(std::uint8_t blocks, const Password& given) {
    bool secured = false;
    if (auto error = authorise(given, secured)) return error;
    if (!secured) return kTagWrongPassword;
    blockLocks_ |= blocks;
    return std::nullopt;
}

TagResult Gen2Tag::kill(const Password& given) const {
    if (allZero(kill_)) return kTagNonSpecific;
    if (given != kill_) return kTagWrongPassword;
    return std::nullopt;
}

Tag6B::Tag6B(const std::array<std::uint8_t, 8>& uid) : uid_(uid) {
    std::copy(uid.begin(), uid.end(), memory_.begin());
    for (std::size_t i = 0; i < kFactoryBytes; ++i) locked_.set(i);
}

TagResult Tag6B::read(std::uint8_t start, std::size_t count, Bytes& out) const {
    if (start + count > kMemorySize) return kTagMemoryOverrun;
    out.assign(memory_.begin() + start, memory_.begin() + start + count);
    return std::nullopt;
}

TagResult Tag6B::write(std::uint8_t start, const Bytes& data) {
    if (start + data.size() > kMemorySize) return kTagMemoryOverrun;
    for (std::size_t i = 0; i < data.size(); ++i)
        if (locked_.test(start + i)) return kTagMemoryLocked;
    std::copy(data.begin(), data.end(), memory_.begin() + start);
    return std::nullopt;
}

TagResult Tag6B::lock(std::uint8_t address) {
    locked_.set(address);
    return std::nullopt;
}

void Tag6B::load(std::uint8_t start, const Bytes& data) {
    const std::size_t n = std::min(data.size(), kMemorySize - start);
    std::copy_n(data.begin(), n, memory_.begin() + start);
}

bool Tag6B::selected(std::uint8_t condition, std::uint8_t start, std::uint8_t mask, const std::uint8_t* compare) const {
    Bytes mine, theirs;
    for (int i = 0; i < 8; ++i) {
        if (!((mask >> (7 - i)) & 1)) continue;
        if (start + i >= static_cast<int>(kMemorySize)) return false;
        mine.push_back(memory_[start + i]);
        theirs.push_back(compare[i]);
    }
    switch (condition) {
    case 0: return mine == theirs;
    case 1: return mine != theirs;
    case 2: return mine > theirs;
    case 3: return mine < theirs;
    default: return false;
    }
}

}  // namespace sim

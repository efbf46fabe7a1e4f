// What every fuzz target shares: an in-memory reader on one serial and one
// network link, decoding of fuzz input into answer chunks, sealed frames,
// and caller buffers that prove nothing was written where it must not be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/memory_device.h"

namespace fuzz {

namespace memdev = mv::plat::memdev;
using Bytes = memdev::Bytes;

constexpr int kSerialPort = 7;
constexpr int kNetPort = 4001;
constexpr std::uint8_t kSentinel = 0xA5;

// Aborts with a message: a broken invariant is a finding.
[[noreturn]] void fail(const char* what, long detail = 0);
#define FUZZ_CHECK(cond, detail) \
    do {                         \
        if (!(cond)) ::fuzz::fail(#cond, static_cast<long>(detail)); \
    } while (0)

// Installs the in-memory reader once and opens both links on it.
void setUp();
// The port index of the link a selector byte picks, with its device cleared.
int pickLink(std::uint8_t selector);
memdev::Device deviceOf(int port);

// Reads fuzz input front to back; past the end it yields zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    void bytes(std::uint8_t* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = byte();
    }
    Bytes take(std::size_t n) {
        if (n > left()) n = left();
        Bytes out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }
    Bytes rest() { return take(left()); }
    // The next `n` bytes (fewer at the end) as an input of their own.
    Input sub(std::size_t n) {
        if (n > left()) n = left();
        Input part(data_ + at_, n);
        at_ += n;
        return part;
    }
    // A two-byte length, low byte first, then that many bytes.
    Input block() {
        const std::size_t n = byte();
        return sub(n | static_cast<std::size_t>(byte()) << 8);
    }
    std::size_t left() const { return size_ - at_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Cuts the rest of the input into chunks: each chunk is a size byte (0: all
// that is left), a delay byte (units of 8 ms), then its bytes.
std::vector<memdev::Chunk> decodeChunks(Input& in);

// Makes `frame` a response that passes the CRC and echo checks: Len fitted
// to its size (at most 256 bytes kept), Cmd set to `code`, CRC appended.
Bytes seal(Bytes frame, std::uint8_t code);

// A caller buffer of exactly `size` bytes on the heap (ASan bounds it),
// filled with the sentinel. `untouched()` tells whether it still is.
class Guarded {
public:
    explicit Guarded(std::size_t size, std::uint8_t fill = kSentinel);
    std::uint8_t* data() { return bytes_.get(); }
    std::size_t size() const { return size_; }
    bool untouched() const;
    std::size_t touchedEnd() const;  // one past the last byte that changed

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_;
    std::uint8_t fill_;
};

// Virtual milliseconds spent since `start`.
std::uint32_t spentSince(std::uint32_t start);

// True when the received bytes would pass the command transaction's checks
// for command `code`: at least 6 bytes, CRC residue zero, echo matching.
bool passesChecks(const std::uint8_t* bytes, int count, std::uint8_t code);

}  // namespace fuzz

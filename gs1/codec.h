// The decoder and encoder of GS1 EPC identities, over the scheme table. Pure
// code: no I/O, no lock, no heap; every text goes into a caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gs1/schemes.h"

namespace mv::gs1 {

// Text written into a fixed buffer: what does not fit is dropped and
// remembered, and the text is always terminated.
class Text {
public:
    Text(char* out, std::size_t room) : out_(out), room_(room) {
        if (room_ > 0) out_[0] = '\0';
    }
    Text& add(char c) {
        if (used_ + 1 < room_) {
            out_[used_++] = c;
            out_[used_] = '\0';
        } else {
            cut_ = true;
        }
        return *this;
    }
    Text& add(const char* text) { return add(text, std::strlen(text)); }
    Text& add(const char* text, std::size_t length) {
        if (used_ + length < room_) {
            std::memcpy(out_ + used_, text, length);
            used_ += length;
            out_[used_] = '\0';
        } else {
            for (std::size_t i = 0; i < length; ++i) add(text[i]);
        }
        return *this;
    }
    Text& number(std::uint64_t value);
    // `digits` digits, zero-padded on the left.
    Text& digits(std::uint64_t value, unsigned count);
    Text& hexByte(unsigned value);
    // `text` quoted, non-printable bytes as \xNN, at most 40 characters.
    Text& quoted(const char* text, std::size_t length);

    bool cut() const { return cut_; }
    std::size_t size() const { return used_; }
    const char* data() const { return out_; }
    void clear() {
        used_ = 0;
        cut_ = false;
        if (room_ > 0) out_[0] = '\0';
    }

private:
    char* out_;
    std::size_t room_;
    std::size_t used_ = 0;
    bool cut_ = false;
};

// Characters of a String field.
struct Chars {
    char text[24];
    std::uint8_t length = 0;
};

// One identity taken apart: which scheme, the filter and partition, and the
// value of every field (numbers for Digits and Integer fields, characters
// for String fields).
struct Identity {
    const Scheme* scheme = nullptr;
    unsigned filter = 0;
    unsigned partition = 0;
    std::uint64_t prefix = 0;
    std::uint64_t reference = 0;
    std::uint64_t serial = 0;
    Chars referenceChars, serialChars;

    const Partition& row() const { return scheme->partitions[partition]; }
    const KeyInfo& key() const { return keyInfo(scheme->key); }
};

// The parts of an identity the texts are made of (the values of the C API's
// MORVENT_EPC_PART_* constants).
enum class Part : int {
    Scheme,
    Filter,
    Uri,
    TagUri,
    ElementString,
    DigitalLink,
    KeyName,
    Key,
    CompanyPrefix,
    Reference,
    Serial,
    Count
};

// Takes `size` bytes of an EPC apart. False when they are not a GS1 EPC,
// with the reason in `reason`.
bool decode(const std::uint8_t* epc, std::size_t size, Identity& identity, Text& reason);

// Writes one part of an identity; false when its scheme has no such part.
bool format(const Identity& identity, Part part, Text& out);

// What an encoding is asked for beside the identity's text.
struct EncodeOptions {
    int filter = -1;              // 0..7; -1: the tag URI's, else 0
    int bits = 0;                 // a scheme's length; 0: the tag URI's, else the shortest that holds the identity
    int companyPrefixDigits = 0;  // 6..12: needed for element strings, else 0 or the URI's
};

// The longest EPC an encoding writes: GIAI-202 in 13 words.
constexpr std::size_t kMaxEpcBytes = 26;

// Encodes a pure-identity URI, a tag URI or an element string. Writes the
// EPC in whole 16-bit words into `epc` (room: kMaxEpcBytes) and its size
// into `size`; false when refused, with the rule that failed in `message`.
bool encode(const char* identity, const EncodeOptions& options, std::uint8_t* epc, std::size_t* size, Text& message);

// The bits a scheme puts into memory: its length rounded up to words.
inline std::size_t wordBytes(const Scheme& scheme) { return (scheme.bits + 15u) / 16u * 2u; }

// The GS1 check digit of `count` digits.
char checkDigit(const char* digits, std::size_t count);

// 10^n for n up to 19.
inline std::uint64_t pow10(unsigned n) {
    static constexpr std::uint64_t kPowers[20] = {1ull,
                                                  10ull,
                                                  100ull,
                                                  1000ull,
                                                  10000ull,
                                                  100000ull,
                                                  1000000ull,
                                                  10000000ull,
                                                  100000000ull,
                                                  1000000000ull,
                                                  10000000000ull,
                                                  100000000000ull,
                                                  1000000000000ull,
                                                  10000000000000ull,
                                                  100000000000000ull,
                                                  1000000000000000ull,
                                                  10000000000000000ull,
                                                  100000000000000000ull,
                                                  1000000000000000000ull,
                                                  10000000000000000000ull};
    return kPowers[n < 20 ? n : 19];
}

// "company prefix", or what a GID has in its place.
inline const char* prefixName(const KeyInfo& key) { return key.name ? "company prefix" : "general manager number"; }

// A character for a message: "'#' (0x23)", or "0x01" when not printable.
void describeCharacter(Text& out, unsigned char c);

}  // namespace mv::gs1

// From EPC bytes to an identity, refusing every field that breaks its
// scheme's rules: an EPC either decodes to the one identity it encodes or is
// reported as not a GS1 EPC, with the reason.
#include "gs1/codec.h"

namespace mv::gs1 {
namespace {

// Bits of a byte array, first bit the most significant of byte 0.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t bits) : data_(data), bits_(bits) {}

    // The next `count` bits (at most 64) as a number; the caller keeps
    // within bits().
    std::uint64_t take(unsigned count) {
        if (count == 0) return 0;
        std::size_t byte = at_ >> 3;
        const unsigned left = 8u - (at_ & 7u);  // bits of the first byte not yet read
        at_ += count;
        std::uint64_t value = data_[byte++] & (0xFFu >> (8u - left));
        if (count <= left) return value >> (left - count);
        count -= left;
        for (; count >= 8; count -= 8) value = value << 8 | data_[byte++];
        if (count > 0) value = value << count | data_[byte] >> (8u - count);
        return value;
    }
    // True when the bits up to `end` are all zero; reads them.
    bool zeroUntil(std::size_t end) {
        while (at_ < end) {
            const std::size_t n = end - at_ < 64 ? end - at_ : 64;
            if (take(static_cast<unsigned>(n)) != 0) return false;
        }
        return true;
    }
    std::size_t at() const { return at_; }
    std::size_t bits() const { return bits_; }

private:
    const std::uint8_t* data_;
    std::size_t bits_;
    std::size_t at_ = 0;
};

// Reads a String field of `bits` bits: up to `most` characters, the first
// zero character ending them, zero bits after.
bool readChars(BitReader& in, unsigned bits, unsigned most, Chars& out, const char* name, Text& reason) {
    const std::size_t end = in.at() + bits;
    out.length = 0;
    while (out.length < most && in.at() + 7 <= end) {
        const unsigned c = static_cast<unsigned>(in.take(7));
        if (c == 0) break;
        if (!allowedCharacter(static_cast<unsigned char>(c))) {
            reason.add("the ").add(name).add(" has ");
            describeCharacter(reason, static_cast<unsigned char>(c));
            reason.add(" at position ").number(out.length + 1u).add(", which is not a character GS1 allows");
            return false;
        }
        out.text[out.length++] = static_cast<char>(c);
    }
    if (!in.zeroUntil(end)) {
        reason.add("the ")
            .add(name)
            .add(" has bits set after its ")
            .add(out.length == most ? "last possible character" : "end (a zero character)");
        return false;
    }
    if (out.length == 0) {
        reason.add("the ").add(name).add(" is empty");
        return false;
    }
    return true;
}

// Reads one field of the kind `kind` into `number` or `chars`.
bool readField(BitReader& in, Field kind, unsigned bits, unsigned digits, std::uint64_t& number, Chars& chars,
               const char* name, const Identity& id, Text& reason) {
    switch (kind) {
    case Field::None: return true;
    case Field::Integer: number = in.take(bits); return true;
    case Field::Digits:
        number = in.take(bits);
        if (number < pow10(digits)) return true;
        reason.add("the ")
            .add(name)
            .add(" field holds ")
            .number(number)
            .add(", more than the ")
            .number(digits)
            .add(digits == 1 ? " digit" : " digits")
            .add(" partition ")
            .number(id.partition)
            .add(" gives it");
        return false;
    case Field::String: return readChars(in, bits, digits, chars, name, reason);
    case Field::Zero:
        if (in.take(bits) == 0) return true;
        reason.add("the ").number(bits).add(" bits after the ").add(id.key().referenceName).add(" are not zero");
        return false;
    }
    return false;
}

}  // namespace

bool decode(const std::uint8_t* epc, std::size_t size, Identity& id, Text& reason) {
    if (size == 0) {
        reason.add("there are no bytes");
        return false;
    }
    const Scheme* scheme = schemeByHeader(epc[0]);
    if (scheme == nullptr) {
        reason.add("header 0x").hexByte(epc[0]).add(" is not the header of a GS1 EPC scheme");
        return false;
    }
    // A tag holds the EPC in whole words; the bytes may stop at the last
    // byte the scheme uses or fill the last word.
    const std::size_t least = (scheme->bits + 7u) / 8u, most = wordBytes(*scheme);
    if (size < least || size > most) {
        reason.add(scheme->name).add(" takes ").number(scheme->bits).add(" bits (").number(least);
        if (most != least) reason.add(" or ").number(most);
        reason.add(" bytes); these are ").number(size).add(size == 1 ? " byte" : " bytes");
        return false;
    }
    id = Identity{};
    id.scheme = scheme;
    BitReader in(epc, size * 8u);
    in.take(8);
    if (scheme->filtered) {
        id.filter = static_cast<unsigned>(in.take(3));
        id.partition = static_cast<unsigned>(in.take(3));
        if (id.partition >= kPartitions) {
            reason.add("partition value ").number(id.partition).add(" is not defined (0 to 6)");
            return false;
        }
    }
    const Partition& row = id.row();
    const KeyInfo& key = id.key();
    Chars unused;
    if (!readField(in, scheme->prefix, row.prefixBits, row.prefixDigits, id.prefix, unused, prefixName(key), id,
                   reason) ||
        !readField(in, scheme->reference, row.referenceBits, row.referenceDigits, id.reference, id.referenceChars,
                   key.referenceName, id, reason) ||
        !readField(in, scheme->serial, scheme->serialBits, scheme->serialChars, id.serial, id.serialChars,
                   key.serialName ? key.serialName : "serial", id, reason)) {
        return false;
    }
    if (!in.zeroUntil(in.bits())) {
        reason.add("bits after the ").number(scheme->bits).add(" of ").add(scheme->name).add(" are not zero");
        return false;
    }
    return true;
}

}  // namespace mv::gs1

// The EPC binary schemes of GS1 identities, as data. One table row per
// scheme (header, length, partition table, field layout); the schemes that
// differ only in their widths (SGTIN-96 and SGTIN-198, ...) are two rows over
// the same key, and one decoder and one encoder read them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mv::gs1 {

// How the bits of a field carry its value.
enum class Field : std::uint8_t {
    None,     // the scheme has no such field
    Digits,   // exactly `digits` decimal digits, leading zeros kept (a company prefix, an item reference)
    Integer,  // a decimal number without leading zeros, any value the bits hold
    String,   // up to `digits` characters of 7 bits each, then zero bits to the end of the field
    Zero,     // bits no identity uses, all zero
};

// The GS1 key an identity carries: it decides the URI's name, the element
// string, the Digital Link and how the key's digits are put together.
enum class Key : std::uint8_t { Gtin, Sscc, Gln, Grai, Giai, Gdti, Gsrn, Gsrnp, Gid };

// One row of a partition table: the company prefix field and the field
// after it (bits, and digits or, for a String field, characters).
struct Partition {
    std::uint8_t prefixBits, prefixDigits, referenceBits, referenceDigits;
};

constexpr unsigned kPartitions = 7;  // partition values 0..6; 7 is not defined

struct Scheme {
    const char* name;  // as in tag URIs, "sgtin-96"
    std::uint8_t header;
    std::uint8_t bits;
    Key key;
    bool filtered;                // a filter and a partition field follow the header (all but GID)
    const Partition* partitions;  // kPartitions rows, or the one fixed row of an unfiltered scheme
    Field prefix, reference, serial;
    std::uint8_t serialBits;
    std::uint8_t serialChars;  // the most characters of a String serial
};

// What a key brings to the texts of an identity.
struct KeyInfo {
    const char* uri;            // the pure-identity URI's name, "sgtin"
    const char* name;           // "GTIN"; nullptr for GID, which is no GS1 key
    const char* ai;             // the key's application identifier, "01"
    const char* serialAi;       // the serial's own AI ("21", "254"), or nullptr
    const char* referenceName;  // for messages: "item reference"
    const char* serialName;     // for messages: "serial", "extension"; nullptr: no serial
    std::uint8_t keyDigits;     // company prefix and reference digits together; 0: not fixed (GIAI, GID)
    bool referenceLeads;        // the reference's first digit leads the key (indicator, extension digit)
    bool paddingZero;           // the key starts with a 0 no field holds (GRAI)
    bool serialJoined;          // the serial follows the key inside the key's AI (GRAI, GDTI)
};

const KeyInfo& keyInfo(Key key);

// The scheme of a header byte, or nullptr.
const Scheme* schemeByHeader(std::uint8_t header);
// The scheme of a tag URI name ("sgtin-96"), or nullptr; `length` bytes of `name`.
const Scheme* schemeByName(const char* name, std::size_t length);
// The schemes of a key, shortest first: `count` of them from the returned row.
const Scheme* schemesOfKey(Key key, std::size_t* count);
// The key of a pure-identity URI name ("sgtin"); false when none has it.
bool keyByUri(const char* name, std::size_t length, Key* key);

// The 82 characters GS1 allows in alphanumeric fields.
bool allowedCharacter(unsigned char c);
// Characters the URIs carry as %XX escapes.
bool escapedInUri(unsigned char c);

}  // namespace mv::gs1

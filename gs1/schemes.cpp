#include "gs1/schemes.h"

#include <cstring>

namespace mv::gs1 {
namespace {

// Partition tables: company prefix bits and digits, then the field after it.
// The item reference of an SGTIN carries the indicator digit, the serial
// reference of an SSCC its extension digit: one digit more than a GRAI's
// asset type over the same bits.
constexpr Partition kSgtin[kPartitions] = {{40, 12, 4, 1}, {37, 11, 7, 2}, {34, 10, 10, 3}, {30, 9, 14, 4},
                                           {27, 8, 17, 5}, {24, 7, 20, 6}, {20, 6, 24, 7}};
constexpr Partition kSscc[kPartitions] = {{40, 12, 18, 5}, {37, 11, 21, 6}, {34, 10, 24, 7}, {30, 9, 28, 8},
                                          {27, 8, 31, 9},  {24, 7, 34, 10}, {20, 6, 38, 11}};
constexpr Partition kSgln[kPartitions] = {{40, 12, 1, 0}, {37, 11, 4, 1}, {34, 10, 7, 2}, {30, 9, 11, 3},
                                          {27, 8, 14, 4}, {24, 7, 17, 5}, {20, 6, 21, 6}};
constexpr Partition kGrai[kPartitions] = {{40, 12, 4, 0}, {37, 11, 7, 1}, {34, 10, 10, 2}, {30, 9, 14, 3},
                                          {27, 8, 17, 4}, {24, 7, 20, 5}, {20, 6, 24, 6}};
// GIAI-96: the asset reference is an integer, so only its bits count.
constexpr Partition kGiai96[kPartitions] = {{40, 12, 42, 0}, {37, 11, 45, 0}, {34, 10, 48, 0}, {30, 9, 52, 0},
                                            {27, 8, 55, 0},  {24, 7, 58, 0},  {20, 6, 62, 0}};
// GIAI-202: up to 30 characters in all, company prefix included.
constexpr Partition kGiai202[kPartitions] = {{40, 12, 148, 18}, {37, 11, 151, 19}, {34, 10, 154, 20}, {30, 9, 158, 21},
                                             {27, 8, 161, 22},  {24, 7, 164, 23},  {20, 6, 168, 24}};
// GID: general manager number, object class, serial; no filter, no partition.
constexpr Partition kGid[1] = {{28, 0, 24, 0}};

using F = Field;
// Each key's schemes stand together, shortest first.
constexpr Scheme kSchemes[] = {
    {"sgtin-96", 0x30, 96, Key::Gtin, true, kSgtin, F::Digits, F::Digits, F::Integer, 38, 0},
    {"sgtin-198", 0x36, 198, Key::Gtin, true, kSgtin, F::Digits, F::Digits, F::String, 140, 20},
    {"sscc-96", 0x31, 96, Key::Sscc, true, kSscc, F::Digits, F::Digits, F::Zero, 24, 0},
    {"sgln-96", 0x32, 96, Key::Gln, true, kSgln, F::Digits, F::Digits, F::Integer, 41, 0},
    {"sgln-195", 0x39, 195, Key::Gln, true, kSgln, F::Digits, F::Digits, F::String, 140, 20},
    {"grai-96", 0x33, 96, Key::Grai, true, kGrai, F::Digits, F::Digits, F::Integer, 38, 0},
    {"grai-170", 0x37, 170, Key::Grai, true, kGrai, F::Digits, F::Digits, F::String, 112, 16},
    {"giai-96", 0x34, 96, Key::Giai, true, kGiai96, F::Digits, F::Integer, F::None, 0, 0},
    {"giai-202", 0x38, 202, Key::Giai, true, kGiai202, F::Digits, F::String, F::None, 0, 0},
    {"gdti-96", 0x2C, 96, Key::Gdti, true, kSgln, F::Digits, F::Digits, F::Integer, 41, 0},
    {"gdti-174", 0x3E, 174, Key::Gdti, true, kSgln, F::Digits, F::Digits, F::String, 119, 17},
    {"gsrn-96", 0x2D, 96, Key::Gsrn, true, kSscc, F::Digits, F::Digits, F::Zero, 24, 0},
    {"gsrnp-96", 0x2E, 96, Key::Gsrnp, true, kSscc, F::Digits, F::Digits, F::Zero, 24, 0},
    {"gid-96", 0x35, 96, Key::Gid, false, kGid, F::Integer, F::Integer, F::Integer, 36, 0},
};

// Every row of every scheme fills exactly the scheme's length, and no
// integer is wider than the 64 bits the codec computes in.
constexpr bool layoutsAddUp() {
    for (const Scheme& s : kSchemes) {
        const unsigned rows = s.filtered ? kPartitions : 1;
        for (unsigned p = 0; p < rows; ++p) {
            const Partition& row = s.partitions[p];
            const unsigned total = 8u + (s.filtered ? 6u : 0u) + row.prefixBits + row.referenceBits + s.serialBits;
            if (total != s.bits) return false;
            if (s.reference != F::String && row.referenceBits > 64) return false;
            if (s.reference == F::String && row.referenceDigits * 7u > row.referenceBits) return false;
        }
        if (s.serial == F::Integer && s.serialBits > 64) return false;
        if (s.serial == F::String && s.serialChars * 7u > s.serialBits) return false;
    }
    return true;
}
static_assert(layoutsAddUp(), "a scheme's fields do not fill its length");

constexpr KeyInfo kKeys[] = {
    {"sgtin", "GTIN", "01", "21", "item reference", "serial", 13, true, false, false},
    {"sscc", "SSCC", "00", nullptr, "serial reference", nullptr, 17, true, false, false},
    {"sgln", "GLN", "414", "254", "location reference", "extension", 12, false, false, false},
    {"grai", "GRAI", "8003", nullptr, "asset type", "serial", 12, false, true, true},
    {"giai", "GIAI", "8004", nullptr, "individual asset reference", nullptr, 0, false, false, false},
    {"gdti", "GDTI", "253", nullptr, "document type", "serial", 12, false, false, true},
    {"gsrn", "GSRN", "8018", nullptr, "service reference", nullptr, 17, false, false, false},
    {"gsrnp", "GSRNP", "8017", nullptr, "service reference", nullptr, 17, false, false, false},
    {"gid", nullptr, nullptr, nullptr, "object class", "serial", 0, false, false, false},
};

bool sameText(const char* a, std::size_t length, const char* b) {
    if (std::strlen(b) != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (c != b[i]) return false;
    }
    return true;
}

}  // namespace

const KeyInfo& keyInfo(Key key) { return kKeys[static_cast<unsigned>(key)]; }

const Scheme* schemeByHeader(std::uint8_t header) {
    for (const Scheme& s : kSchemes)
        if (s.header == header) return &s;
    return nullptr;
}

const Scheme* schemeByName(const char* name, std::size_t length) {
    for (const Scheme& s : kSchemes)
        if (sameText(name, length, s.name)) return &s;
    return nullptr;
}

const Scheme* schemesOfKey(Key key, std::size_t* count) {
    const Scheme* first = nullptr;
    *count = 0;
    for (const Scheme& s : kSchemes) {
        if (s.key != key) continue;
        if (first == nullptr) first = &s;
        ++*count;
    }
    return first;
}

bool keyByUri(const char* name, std::size_t length, Key* key) {
    for (unsigned k = 0; k < sizeof kKeys / sizeof kKeys[0]; ++k) {
        if (sameText(name, length, kKeys[k].uri)) {
            *key = static_cast<Key>(k);
            return true;
        }
    }
    return false;
}

bool allowedCharacter(unsigned char c) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
    return c != 0 && std::strchr("!\"%&'()*+,-./:;<=>?_", c) != nullptr;
}

bool escapedInUri(unsigned char c) { return c != 0 && std::strchr("\"%&/<>?", c) != nullptr; }

}  // namespace mv::gs1

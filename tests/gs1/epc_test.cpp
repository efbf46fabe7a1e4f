// GS1 EPC identities: the identities of the standard's examples in every
// scheme, both ways; a round trip through every partition of every scheme;
// the refusals of both directions; the C functions' rooms; the C++ face.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gs1/schemes.h"
#include "morvent.hpp"

namespace {

std::string part(const morvent::Bytes& epc, int which, int* status = nullptr, int room = MORVENT_EPC_TEXT_ROOM) {
    char text[MORVENT_EPC_TEXT_ROOM] = "x";
    const int s = MorventEpcDecode(epc.data(), static_cast<int>(epc.size()), which, text, room);
    if (status) *status = s;
    return text;
}

// Encodes, or gives "refused: <message>".
std::string encodeHex(const std::string& identity, int filter = -1, int bits = 0, int prefixDigits = 0) {
    try {
        return morvent::hex(morvent::encodeEpc(identity, {filter, bits, prefixDigits}));
    } catch (const morvent::EpcError& e) {
        return std::string("refused: ") + e.what();
    }
}

// The SGTIN-96 row is the standard's worked example; the others are the
// standard's example identities, their bits laid out by hand from the
// schemes' field tables (filter 3, a 7-digit company prefix: partition 5).
struct Vector {
    const char *hex, *uri, *tagUri, *elementString, *digitalLink, *key, *serial;
};
const Vector kVectors[] = {
    {"3074257BF7194E4000001A85", "urn:epc:id:sgtin:0614141.812345.6789", "urn:epc:tag:sgtin-96:3.0614141.812345.6789",
     "(01)80614141123458(21)6789", "https://id.gs1.org/01/80614141123458/21/6789", "80614141123458", "6789"},
    {"3674257BF6B7A659B2C2BF100000000000000000000000000000", "urn:epc:id:sgtin:0614141.712345.32a%2Fb",
     "urn:epc:tag:sgtin-198:3.0614141.712345.32a%2Fb", "(01)70614141123451(21)32a/b",
     "https://id.gs1.org/01/70614141123451/21/32a%2Fb", "70614141123451", "32a/b"},
    {"3174257BF4499602D2000000", "urn:epc:id:sscc:0614141.1234567890", "urn:epc:tag:sscc-96:3.0614141.1234567890",
     "(00)106141412345678908", "https://id.gs1.org/00/106141412345678908", "106141412345678908", ""},
    {"3274257BF460720000000190", "urn:epc:id:sgln:0614141.12345.400", "urn:epc:tag:sgln-96:3.0614141.12345.400",
     "(414)0614141123452(254)400", "https://id.gs1.org/414/0614141123452/254/400", "0614141123452", "400"},
    // Extension 0: the GLN alone.
    {"3234257BF460720000000000", "urn:epc:id:sgln:0614141.12345.0", "urn:epc:tag:sgln-96:1.0614141.12345.0",
     "(414)0614141123452", "https://id.gs1.org/414/0614141123452", "0614141123452", "0"},
    {"3974257BF46072CD9615F8800000000000000000000000000000", "urn:epc:id:sgln:0614141.12345.32a%2Fb",
     "urn:epc:tag:sgln-195:3.0614141.12345.32a%2Fb", "(414)0614141123452(254)32a/b",
     "https://id.gs1.org/414/0614141123452/254/32a%2Fb", "0614141123452", "32a/b"},
    {"3374257BF40C0E4000000190", "urn:epc:id:grai:0614141.12345.400", "urn:epc:tag:grai-96:3.0614141.12345.400",
     "(8003)00614141123452400", "https://id.gs1.org/8003/00614141123452400", "00614141123452", "400"},
    {"3774257BF40C0E59B2C2BF1000000000000000000000", "urn:epc:id:grai:0614141.12345.32a%2Fb",
     "urn:epc:tag:grai-170:3.0614141.12345.32a%2Fb", "(8003)0061414112345232a/b",
     "https://id.gs1.org/8003/0061414112345232a%2Fb", "00614141123452", "32a/b"},
    {"3474257BF400000000BC6038", "urn:epc:id:giai:0614141.12345400", "urn:epc:tag:giai-96:3.0614141.12345400",
     "(8004)061414112345400", "https://id.gs1.org/8004/061414112345400", "061414112345400", ""},
    {"3874257BF59B2C2BF10000000000000000000000000000000000", "urn:epc:id:giai:0614141.32a%2Fb",
     "urn:epc:tag:giai-202:3.0614141.32a%2Fb", "(8004)061414132a/b", "https://id.gs1.org/8004/061414132a%2Fb",
     "061414132a/b", ""},
    {"2C74257BF460720000000190", "urn:epc:id:gdti:0614141.12345.400", "urn:epc:tag:gdti-96:3.0614141.12345.400",
     "(253)0614141123452400", "https://id.gs1.org/253/0614141123452400", "0614141123452", "400"},
    {"3E74257BF46072CD9615F88000000000000000000000", "urn:epc:id:gdti:0614141.12345.32a%2Fb",
     "urn:epc:tag:gdti-174:3.0614141.12345.32a%2Fb", "(253)061414112345232a/b",
     "https://id.gs1.org/253/061414112345232a%2Fb", "0614141123452", "32a/b"},
    {"2D74257BF4499602D2000000", "urn:epc:id:gsrn:0614141.1234567890", "urn:epc:tag:gsrn-96:3.0614141.1234567890",
     "(8018)061414112345678902", "https://id.gs1.org/8018/061414112345678902", "061414112345678902", ""},
    {"2E74257BF4499602D2000000", "urn:epc:id:gsrnp:0614141.1234567890", "urn:epc:tag:gsrnp-96:3.0614141.1234567890",
     "(8017)061414112345678902", "https://id.gs1.org/8017/061414112345678902", "061414112345678902", ""},
    {"355AB1C60003039000000190", "urn:epc:id:gid:95100000.12345.400", "urn:epc:tag:gid-96:95100000.12345.400", "",
     "", "", "400"},
};

TEST(Epc, StandardExamplesDecodeAndEncodeBothWays) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.uri);
        const morvent::Epc id = morvent::decodeEpc(morvent::fromHex(v.hex));
        ASSERT_TRUE(id) << id.reason();
        EXPECT_EQ(id.uri(), v.uri);
        EXPECT_EQ(id.tagUri(), v.tagUri);
        EXPECT_EQ(id.elementString(), v.elementString);
        EXPECT_EQ(id.digitalLink(), v.digitalLink);
        EXPECT_EQ(id.key(), v.key);
        EXPECT_EQ(id.serial(), v.serial);
        EXPECT_EQ(id.companyPrefix(), std::string(v.uri).find("gid") == std::string::npos ? "0614141" : "95100000");
        EXPECT_EQ(encodeHex(v.tagUri), v.hex);
        const bool gid = id.scheme() == "gid-96";
        const int filter = gid ? -1 : *id.filter();
        EXPECT_EQ(encodeHex(v.uri, filter, std::stoi(id.scheme().substr(id.scheme().find('-') + 1))), v.hex);
        if (!gid) {
            EXPECT_EQ(encodeHex(v.elementString, filter, 0, 7), v.hex);
        }
    }
    // Without a length, the shortest scheme that holds the identity.
    EXPECT_EQ(encodeHex("urn:epc:id:sgtin:0614141.812345.6789", 3), "3074257BF7194E4000001A85");
    EXPECT_EQ(encodeHex("urn:epc:id:sgtin:0614141.812345.06789").substr(0, 2), "36");
    // Spaces between the AIs, and a word-padded EPC, are read as well.
    EXPECT_EQ(encodeHex(" (01) 80614141123458 (21) 6789\n", 3, 96, 7), "3074257BF7194E4000001A85");
    EXPECT_EQ(morvent::decodeEpc(morvent::fromHex("3674257BF6B7A659B2C2BF1000000000000000000000000000")).serial(),
              "32a/b");
}

TEST(Epc, EveryPartitionOfEverySchemeRoundTrips) {
    using namespace mv::gs1;
    // Characters that the URIs escape, and some that they do not.
    const std::string characters = "z\"%&/<>?!'()*+,-.:;=_A9";
    for (int k = 0; k <= static_cast<int>(Key::Gid); ++k) {
        std::size_t count = 0;
        const Scheme* schemes = schemesOfKey(static_cast<Key>(k), &count);
        for (const Scheme* s = schemes; s < schemes + count; ++s) {
            for (unsigned p = 0; p < (s->filtered ? kPartitions : 1u); ++p) {
                const Partition& row = s->partitions[p];
                auto field = [&](Field kind, unsigned bits, unsigned digits) -> std::string {
                    if (kind == Field::Digits) return std::string(digits, '9');
                    if (kind == Field::Integer) return std::to_string(bits >= 64 ? ~0ull : (1ull << bits) - 1);
                    std::string text;
                    for (unsigned i = 0; i < digits; ++i) {
                        const char c = i < characters.size() ? characters[i] : 'x';
                        text += c == '%' ? std::string("%25") : std::string(1, c);
                    }
                    return text;
                };
                std::string uri = std::string("urn:epc:tag:") + s->name + ":" + (s->filtered ? "7." : "") +
                                  field(s->prefix, row.prefixBits, row.prefixDigits) + "." +
                                  field(s->reference, row.referenceBits, row.referenceDigits);
                if (s->serial == Field::Integer || s->serial == Field::String)
                    uri += "." + field(s->serial, s->serialBits, s->serialChars);
                SCOPED_TRACE(uri);
                // Encoding takes escaped and unescaped characters alike; decoding escapes them.
                const std::string hex = encodeHex(uri);
                ASSERT_EQ(hex.find("refused"), std::string::npos) << hex;
                const morvent::Epc id = morvent::decodeEpc(morvent::fromHex(hex));
                ASSERT_TRUE(id) << id.reason();
                EXPECT_EQ(encodeHex(id.tagUri()), hex);
                if (!id.elementString().empty()) {
                    EXPECT_EQ(encodeHex(id.elementString(), 7, s->bits, row.prefixDigits), hex);
                }
                EXPECT_EQ(hex.size(), (s->bits + 15u) / 16u * 4u);
            }
        }
    }
}

TEST(Epc, BytesThatAreNoGs1EpcSayWhy) {
    const struct {
        const char *hex, *reason;
    } cases[] = {
        {"", "no bytes"},
        {"E20034120123456789ABCDEF", "header 0xE2 is not the header of a GS1 EPC scheme"},
        {"3074257BF7194E4000001A", "sgtin-96 takes 96 bits (12 bytes); these are 11 bytes"},
        {"3074257BF7194E4000001A850000", "these are 14 bytes"},
        {"307C257BF7194E4000001A85", "partition value 7 is not defined"},
        // Partition 5 gives the company prefix 7 digits: 0xFFFFFF is 16777215.
        {"3077FFFFFF194E4000001A85", "company prefix field holds 16777215, more than the 7 digits partition 5"},
        {"3074257BF7FFFFC000001A85", "item reference field holds 1048575, more than the 6 digits"},
        {"3174257BF4499602D2000001", "the 24 bits after the serial reference are not zero"},
        {"3674257BF6B7A659A3C200000000000000000000000000000000", "'#' (0x23) at position 2"},
        {"3674257BF6B7A65980C200000000000000000000000000000000", "bits set after its end"},
        {"3674257BF6B7A600000000000000000000000000000000000000", "the serial is empty"},
        {"3674257BF6B7A659B2C2BF100000000000000000000000000001", "bits after the 198 of sgtin-198 are not zero"},
    };
    for (const auto& c : cases) {
        int status = 0;
        const std::string reason = part(morvent::fromHex(c.hex), MORVENT_EPC_PART_URI, &status);
        EXPECT_EQ(status, MORVENT_EPC_NOT_GS1) << c.hex;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.hex << ": " << reason;
    }
}

TEST(Epc, EncodingRefusalsNameTheRule) {
    const struct {
        const char* identity;
        int filter, bits, prefixDigits;
        const char* message;
    } cases[] = {
        {"urn:epc:id:sgtin:0614141.812345.274877906944", 3, 96, 0, "more than sgtin-96 holds (274877906943 at most"},
        {"urn:epc:id:sgtin:0614141.812345.0123", 3, 96, 0, "has a leading zero, which sgtin-96 cannot keep"},
        {"urn:epc:id:sgtin:0614141.812345.abc", 3, 96, 0, "is not a number, which sgtin-96 needs"},
        {"urn:epc:id:sgtin:0614141.812345.123456789012345678901", 0, 0, 0, "21 characters; sgtin-198 holds at most 20"},
        {"urn:epc:id:sgtin:0614141.81234.6789", 0, 0, 0, "have 13 digits together (GTIN); these have 12"},
        {"urn:epc:id:sgtin:06141.8123456.6789", 0, 0, 0, "has 5 digits; a company prefix has 6 to 12"},
        {"urn:epc:id:sgtin:0614141.812345.a#b", 0, 0, 0, "'#' (0x23), which is not a character GS1 allows"},
        {"urn:epc:id:sgtin:0614141.812345.a%4", 0, 0, 0, "'%' that is not followed by two hex digits"},
        {"urn:epc:id:sgtin:0614141.812345", 0, 0, 0, "sgtin identities have 3 parts"},
        {"urn:epc:id:sgtn:0614141.812345.6789", 0, 0, 0, "\"sgtn\" is not one of"},
        {"urn:epc:tag:sgtin-96:3.0614141.812345.6789", 1, 0, 0, "the tag URI gives filter 3, not 1"},
        {"urn:epc:tag:sgtin-96:3.0614141.812345.6789", -1, 198, 0, "names sgtin-96, not 198 bits"},
        {"urn:epc:tag:sgtin-96:8.0614141.812345.6789", -1, 0, 0, "one digit 0 to 7"},
        {"urn:epc:id:sscc:0614141.1234567890", 8, 0, 0, "filter value is 0 to 7"},
        {"urn:epc:id:sscc:0614141.1234567890", 0, 198, 0, "no scheme of sscc has 198 bits; its schemes are sscc-96"},
        {"urn:epc:id:gid:95100000.12345.400", 0, 0, 0, "gid-96 has no filter value"},
        {"urn:epc:id:gid:268435456.12345.400", -1, 0, 0, "general manager number 268435456 is more than gid-96 holds"},
        {"urn:epc:id:sgtin:0614141.812345.6789", 0, 0, 8, "has 7 digits, not the 8 given"},
        {"(01)80614141123459(21)6789", 0, 0, 7, "GTIN 80614141123459: its check digit is 9, it should be 8"},
        {"(01)80614141123458(21)6789", 0, 0, 0, "does not say how long its company prefix is"},
        {"(01)80614141123458", 0, 0, 7, "needs a serial: (21) is missing"},
        {"(01)8061414112345(21)6789", 0, 0, 7, "the GTIN has 14 digits"},
        {"(00)106141412345678908(21)1", 0, 0, 7, "nothing may follow the SSCC"},
        {"(8003)10614141123459400", 0, 0, 7, "starts with the digit 0"},
        {"(02)80614141123458", 0, 0, 7, "starts with the AI of a key"},
        {"0614141.812345.6789", 0, 0, 0, "is not a pure-identity URI"},
        {"", 0, 0, 0, "the identity is empty"},
    };
    for (const auto& c : cases) {
        const std::string result = encodeHex(c.identity, c.filter, c.bits, c.prefixDigits);
        EXPECT_NE(result.find(c.message), std::string::npos) << c.identity << " -> " << result;
        EXPECT_EQ(result.rfind("refused: ", 0), 0u) << c.identity;
    }
}

TEST(Epc, CFunctionsKeepToTheirRoomsAndArguments) {
    const morvent::Bytes sgtin = morvent::fromHex("3074257BF7194E4000001A85");
    const morvent::Bytes gid = morvent::fromHex("355AB1C60003039000000190");
    int status = 0;
    // The URI is 36 characters: a room of 36 is one short, and writes nothing.
    EXPECT_EQ(part(sgtin, MORVENT_EPC_PART_URI, &status, 36), "");
    EXPECT_EQ(status, MORVENT_EPC_ROOM);
    EXPECT_EQ(part(sgtin, MORVENT_EPC_PART_URI, &status, 37), "urn:epc:id:sgtin:0614141.812345.6789");
    EXPECT_EQ(part(gid, MORVENT_EPC_PART_ELEMENT_STRING, &status), "");
    EXPECT_EQ(status, MORVENT_EPC_NO_PART);
    EXPECT_EQ(part(gid, MORVENT_EPC_PART_FILTER, &status), "");
    EXPECT_EQ(status, MORVENT_EPC_NO_PART);
    // Refused arguments write nothing.
    for (const int which : {-1, MORVENT_EPC_PART_SERIAL + 1}) {
        EXPECT_EQ(part(sgtin, which, &status), "x");
        EXPECT_EQ(status, MORVENT_PARAM_RANGE);
    }
    char text[8] = "x";
    EXPECT_EQ(MorventEpcDecode(nullptr, 12, MORVENT_EPC_PART_URI, text, sizeof text), MORVENT_PARAM_RANGE);
    EXPECT_EQ(MorventEpcDecode(sgtin.data(), -1, MORVENT_EPC_PART_URI, text, sizeof text), MORVENT_PARAM_RANGE);
    EXPECT_EQ(MorventEpcDecode(sgtin.data(), 12, MORVENT_EPC_PART_URI, text, 0), MORVENT_PARAM_RANGE);
    EXPECT_STREQ(text, "x");
    // A message is cut to its room, an EPC is written only when encoded.
    unsigned char epc[MORVENT_EPC_MAX_BYTES] = {0xAA};
    int size = -5;
    EXPECT_EQ(MorventEpcEncode("urn:epc:id:sgtin:0614141.812345.0123", 0, 96, 0, epc, &size, text, sizeof text),
              MORVENT_EPC_REFUSED);
    EXPECT_STREQ(text, "the ser");
    EXPECT_EQ(size, -5);
    EXPECT_EQ(epc[0], 0xAA);
    EXPECT_EQ(MorventEpcEncode(nullptr, 0, 0, 0, epc, &size, text, sizeof text), MORVENT_PARAM_RANGE);
    EXPECT_EQ(MorventEpcEncode("urn:epc:id:sscc:0614141.1234567890", 0, 0, 0, epc, &size, text, 0),
              MORVENT_PARAM_RANGE);
}

TEST(Epc, TagsLeadToTheirIdentity) {
    const morvent::Tag gs1{morvent::fromHex("3074257BF7194E4000001A85"), {}};
    const morvent::Tag other{morvent::fromHex("E20034120123456789ABCDEF"), {}};
    ASSERT_TRUE(gs1.identity());
    EXPECT_EQ(gs1.identity().gtin(), "80614141123458");
    EXPECT_EQ(gs1.identity().filter(), 3);
    EXPECT_FALSE(other.identity());
    EXPECT_NE(other.identity().reason().find("0xE2"), std::string::npos);
    EXPECT_TRUE(other.identity().uri().empty());
}

}  // namespace

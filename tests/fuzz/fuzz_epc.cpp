// The GS1 codec: arbitrary bytes to the decoder, arbitrary text to the
// encoder.
//
// Input: a selector byte; bit 0 clear: the rest is an EPC to decode; set:
// a filter byte (value % 10 - 1), a length byte (an index into kBits), a
// company prefix digits byte (value % 14), then the text to encode (up to
// its first zero byte).
//
// Checks: every text stays inside its room and is terminated; the parts of
// one EPC are all there or all refused; an EPC that decodes encodes back,
// from its tag URI, to the same bits (so no two bit patterns decode to one
// identity); an identity that encodes decodes, and re-encodes to the same
// bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "morvent.h"

namespace {

constexpr int kRoom = MORVENT_EPC_TEXT_ROOM;
const int kBits[] = {0, 96, 170, 174, 195, 198, 202, 97};

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz_epc: %s: %s\n", what, detail.c_str());
    std::abort();
}

// Calls the decoder with a sentinel-filled buffer bigger than `room`.
int decodePart(const std::uint8_t* epc, int size, int part, int room, std::string& text) {
    char buffer[kRoom + 16];
    std::memset(buffer, 0x5A, sizeof buffer);
    const int status = MorventEpcDecode(epc, size, part, buffer, room);
    for (int i = room; i < static_cast<int>(sizeof buffer); ++i)
        if (buffer[i] != 0x5A) fail("a part was written past its room", std::to_string(part));
    if (std::memchr(buffer, 0, static_cast<std::size_t>(room)) == nullptr) fail("a part is not terminated", "");
    text = buffer;
    return status;
}

// Decodes every part; true with the tag URI when the EPC is a GS1 EPC.
bool decodeAll(const std::uint8_t* epc, int size, std::string& tagUri, int smallRoom) {
    int gs1 = -1;
    for (int part = MORVENT_EPC_PART_SCHEME; part <= MORVENT_EPC_PART_SERIAL; ++part) {
        std::string text;
        const int status = decodePart(epc, size, part, kRoom, text);
        if (status != MORVENT_OK && status != MORVENT_EPC_NOT_GS1 && status != MORVENT_EPC_NO_PART)
            fail("an unexpected status", std::to_string(status));
        const int isGs1 = status != MORVENT_EPC_NOT_GS1;
        if (gs1 >= 0 && gs1 != isGs1) fail("parts disagree whether the EPC is one", text);
        gs1 = isGs1;
        if (status == MORVENT_EPC_NOT_GS1 && text.empty()) fail("no reason given", "");
        if (part == MORVENT_EPC_PART_TAG_URI) tagUri = text;
        // A smaller room: the same text when it fits, else nothing.
        std::string small;
        const int smallStatus = decodePart(epc, size, part, smallRoom, small);
        if (status == MORVENT_OK && text.size() < static_cast<std::size_t>(smallRoom) &&
            (smallStatus != MORVENT_OK || small != text))
            fail("a text that fits its room differs", text);
        if (status == MORVENT_OK && text.size() >= static_cast<std::size_t>(smallRoom) &&
            (smallStatus != MORVENT_EPC_ROOM || !small.empty()))
            fail("a cut text was given", small);
    }
    return gs1 == 1;
}

void encodeBack(const std::string& tagUri, const std::uint8_t* epc, int size) {
    unsigned char out[MORVENT_EPC_MAX_BYTES];
    int n = 0;
    char message[kRoom];
    if (MorventEpcEncode(tagUri.c_str(), -1, 0, 0, out, &n, message, kRoom) != MORVENT_OK)
        fail("a decoded tag URI does not encode", tagUri + ": " + message);
    if (n < size || n > MORVENT_EPC_MAX_BYTES || std::memcmp(out, epc, static_cast<std::size_t>(size)) != 0)
        fail("a decoded tag URI encodes to other bits", tagUri);
    for (int i = size; i < n; ++i)
        if (out[i] != 0) fail("the padding of an encoding is not zero", tagUri);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if ((data[0] & 1) == 0) {
        const int n = static_cast<int>(size - 1);
        std::string tagUri;
        if (decodeAll(data + 1, n, tagUri, 1 + data[0] % 64)) encodeBack(tagUri, data + 1, n);
        return 0;
    }
    if (size < 4) return 0;
    const int filter = data[1] % 10 - 1;
    const int bits = kBits[data[2] % (sizeof kBits / sizeof kBits[0])];
    const int prefixDigits = data[3] % 14;
    const std::string identity(reinterpret_cast<const char*>(data + 4), size - 4);
    unsigned char epc[MORVENT_EPC_MAX_BYTES + 8];
    std::memset(epc, 0x5A, sizeof epc);
    int n = -1;
    char message[kRoom];
    const int status =
        MorventEpcEncode(identity.c_str(), filter, bits, prefixDigits, epc, &n, message, kRoom);
    if (std::memchr(message, 0, kRoom) == nullptr) fail("a message is not terminated", "");
    if (status == MORVENT_EPC_REFUSED) {
        if (message[0] == '\0' || n != -1) fail("a refusal without its message, or with an EPC", identity);
        return 0;
    }
    if (status != MORVENT_OK) fail("an unexpected status", std::to_string(status));
    if (n < 12 || n > MORVENT_EPC_MAX_BYTES || n % 2 != 0 || epc[MORVENT_EPC_MAX_BYTES] != 0x5A)
        fail("an EPC of a wrong size", identity);
    std::string tagUri;
    if (!decodeAll(epc, n, tagUri, kRoom)) fail("an encoded identity does not decode", identity);
    encodeBack(tagUri, epc, n);
    return 0;
}

// The C functions of the GS1 codec: arguments checked, texts written into
// the caller's rooms, nothing allocated.
#include "gs1/codec.h"
#include "morvent.h"

namespace {

using namespace mv::gs1;

static_assert(static_cast<int>(Part::Count) == MORVENT_EPC_PART_SERIAL + 1, "a part without its constant");
static_assert(kMaxEpcBytes == MORVENT_EPC_MAX_BYTES, "the EPC room and the codec disagree");

}  // namespace

extern "C" {

MORVENT_API int MorventEpcDecode(const unsigned char* epc, int epcBytes, int part, char* text, int room) {
    if ((epc == nullptr && epcBytes > 0) || epcBytes < 0 || text == nullptr || room < 1 || part < 0 ||
        part >= static_cast<int>(Part::Count)) {
        return MORVENT_PARAM_RANGE;
    }
    Text out(text, static_cast<std::size_t>(room));
    Identity identity;
    if (!decode(epc, static_cast<std::size_t>(epcBytes), identity, out)) return MORVENT_EPC_NOT_GS1;
    if (!format(identity, static_cast<Part>(part), out)) {
        out.clear();
        return MORVENT_EPC_NO_PART;
    }
    if (out.cut()) {
        out.clear();
        return MORVENT_EPC_ROOM;
    }
    return MORVENT_OK;
}

MORVENT_API int MorventEpcEncode(const char* identity, int filter, int bits, int companyPrefixDigits,
                                 unsigned char* epc, int* epcBytes, char* message, int messageRoom) {
    if (identity == nullptr || epc == nullptr || epcBytes == nullptr || message == nullptr || messageRoom < 1) {
        return MORVENT_PARAM_RANGE;
    }
    Text out(message, static_cast<std::size_t>(messageRoom));
    EncodeOptions options;
    options.filter = filter;
    options.bits = bits;
    options.companyPrefixDigits = companyPrefixDigits;
    std::uint8_t bytes[kMaxEpcBytes];
    std::size_t size = 0;
    if (!encode(identity, options, bytes, &size, out)) return MORVENT_EPC_REFUSED;
    for (std::size_t i = 0; i < size; ++i) epc[i] = bytes[i];
    *epcBytes = static_cast<int>(size);
    return MORVENT_OK;
}

}  // extern "C"

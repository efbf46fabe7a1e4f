// The auto-running mode's selection mask, and reading back every system
// parameter in one answer.
#include <cstring>

#include "commands/transaction.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

constexpr std::uint8_t kSetMask = 0x3B;
constexpr std::uint8_t kGetSystemParameter = 0x36;

// The answer's data, field by field: six parameters and the mask bank, two
// mask address bytes, the mask's bit length, 32 mask bytes, and (in the
// long answer only) three extension bytes.
constexpr std::size_t kParameterBytes = 7;
constexpr std::size_t kMaskAddressAt = kParameterBytes;
constexpr std::size_t kMaskBitLengthAt = kMaskAddressAt + 2;
constexpr std::size_t kMaskAt = kMaskBitLengthAt + 1;
constexpr std::size_t kMaskBytes = 32;
constexpr std::size_t kExtensionAt = kMaskAt + kMaskBytes;
constexpr std::size_t kShortRecord = kExtensionAt;
constexpr std::size_t kLongRecord = kExtensionAt + 3;
// The answer without extension bytes has Len 0x2F: data bytes 0 to 41.
constexpr std::uint8_t kShortAnswerLen = 0x2F;
static_assert(kShortRecord == 42 && kShortAnswerLen == kShortRecord + 5);

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;

extern "C" {

MORVENT_API int SetMask(unsigned char* readerAddress, unsigned char maskBank, unsigned char* maskAddress,
                        unsigned char maskBitLength, unsigned char* mask, int portIndex) {
    return transact(Exchange{kSetMask, WriteBack::Never}, readerAddress, portIndex,
                    [&](Request& r) { r.selectionMask(maskBank, maskAddress, maskBitLength, mask); });
}

MORVENT_API int GetSystemParameter(unsigned char* readerAddress, unsigned char* param1, unsigned char* param2,
                                   unsigned char* param3, unsigned char* param4, unsigned char* param5,
                                   unsigned char* param6, unsigned char* maskBank, unsigned char* maskAddress,
                                   unsigned char* maskBitLength, unsigned char* mask, unsigned char* extension1,
                                   unsigned char* extension2, unsigned char* extension3, int portIndex) {
    return transact(Exchange{kGetSystemParameter, WriteBack::Never}, readerAddress, portIndex, noData,
                    [&](const Response& resp) -> int {
                        if (resp.status() != MORVENT_OK) return resp.status();
                        const bool shortAnswer = resp.len() == kShortAnswerLen;
                        if (!resp.hasData(shortAnswer ? kShortRecord : kLongRecord)) return MORVENT_COMM_ERROR;
                        const std::uint8_t* d = resp.data();
                        unsigned char* singles[kParameterBytes] = {param1, param2, param3,  param4,
                                                                   param5, param6, maskBank};
                        for (std::size_t i = 0; i < kParameterBytes; ++i) *singles[i] = d[i];
                        std::memcpy(maskAddress, d + kMaskAddressAt, 2);
                        *maskBitLength = d[kMaskBitLengthAt];
                        std::memcpy(mask, d + kMaskAt, kMaskBytes);
                        if (shortAnswer) {
                            *extension1 = 0;
                        } else {
                            *extension1 = d[kExtensionAt];
                            *extension2 = d[kExtensionAt + 1];
                            *extension3 = d[kExtensionAt + 2];
                        }
                        return MORVENT_OK;
                    });
}
}

// Gen2 protection: kill, lock, block-lock, privacy and EAS. All share one
// shape; they differ in command code, their few fields and whether the tag
// is addressed.
#include "commands/tag_addressing.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

const Exchange kKillTag{0x05};
const Exchange kLock{0x06};
const Exchange kSetPrivacyByEpc{0x08};
const Exchange kSetPrivacyWithoutEpc{0x09};
const Exchange kResetPrivacy{0x0A};
const Exchange kCheckPrivacy{0x0B};
const Exchange kEasConfigure{0x0C, WriteBack::OnSuccess};
const Exchange kEasAlarm{0x0D, WriteBack::OnSuccess};
const Exchange kBlockLock{0x0E};

auto passwordOnly(const std::uint8_t* password) {
    return [password](Request& r) { r.bytes(password, kPasswordBytes); };
}

// The password, then one code byte.
auto passwordThen(const std::uint8_t* password, std::uint8_t code) {
    return [password, code](Request& r) { r.bytes(password, kPasswordBytes).byte(code); };
}

template <class Fields>
int addressedCommand(const Exchange& ex, unsigned char* readerAddress, const TagAddress& tag, int* errorCode,
                     int portIndex, Fields&& fields) {
    return tagCommand(ex, readerAddress, errorCode, portIndex, [&](Request& r) { addressed(r, tag, fields); });
}

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;

extern "C" {

MORVENT_API int KillTag_G2(unsigned char* readerAddress, unsigned char* epc, unsigned char epcWords,
                           unsigned char* killPassword, unsigned char maskBank, unsigned char* maskAddress,
                           unsigned char maskBitLength, unsigned char* mask, int* errorCode, int portIndex) {
    const TagAddress tag{epc, epcWords, maskBank, maskAddress, maskBitLength, mask};
    return addressedCommand(kKillTag, readerAddress, tag, errorCode, portIndex, passwordOnly(killPassword));
}

// The two code bytes come before the password here.
MORVENT_API int Lock_G2(unsigned char* readerAddress, unsigned char* epc, unsigned char epcWords,
                        unsigned char lockTarget, unsigned char lockMode, unsigned char* password,
                        unsigned char maskBank, unsigned char* maskAddress, unsigned char maskBitLength,
                        unsigned char* mask, int* errorCode, int portIndex) {
    const TagAddress tag{epc, epcWords, maskBank, maskAddress, maskBitLength, mask};
    return addressedCommand(kLock, readerAddress, tag, errorCode, portIndex, [&](Request& r) {
        r.byte(lockTarget).byte(lockMode).bytes(password, kPasswordBytes);
    });
}

MORVENT_API int SetPrivacyByEPC_G2(unsigned char* readerAddress, unsigned char* epc, unsigned char epcWords,
                                   unsigned char* password, unsigned char maskBank, unsigned char* maskAddress,
                                   unsigned char maskBitLength, unsigned char* mask, int* errorCode,
                                   int portIndex) {
    const TagAddress tag{epc, epcWords, maskBank, maskAddress, maskBitLength, mask};
    return addressedCommand(kSetPrivacyByEpc, readerAddress, tag, errorCode, portIndex, passwordOnly(password));
}

MORVENT_API int SetPrivacyWithoutEPC_G2(unsigned char* readerAddress, unsigned char* password, int* errorCode,
                                        int portIndex) {
    return tagCommand(kSetPrivacyWithoutEpc, readerAddress, errorCode, portIndex, passwordOnly(password));
}

MORVENT_API int ResetPrivacy_G2(unsigned char* readerAddress, unsigned char* password, int* errorCode,
                                int portIndex) {
    return tagCommand(kResetPrivacy, readerAddress, errorCode, portIndex, passwordOnly(password));
}

MORVENT_API int CheckPrivacy_G2(unsigned char* readerAddress, unsigned char* privacyState, int* errorCode,
                                int portIndex) {
    return tagCommand(kCheckPrivacy, readerAddress, errorCode, portIndex, noData, [&](const Response& r) {
        if (r.hasData(1)) *privacyState = r.data()[0];
    });
}

MORVENT_API int EASConfigure_G2(unsigned char* readerAddress, unsigned char* epc, unsigned char epcWords,
                                unsigned char* password, unsigned char easState, unsigned char maskBank,
                                unsigned char* maskAddress, unsigned char maskBitLength, unsigned char* mask,
                                int* errorCode, int portIndex) {
    const TagAddress tag{epc, epcWords, maskBank, maskAddress, maskBitLength, mask};
    return addressedCommand(kEasConfigure, readerAddress, tag, errorCode, portIndex,
                            passwordThen(password, easState));
}

MORVENT_API int EASAlarm_G2(unsigned char* readerAddress, int* errorCode, int portIndex) {
    return tagCommand(kEasAlarm, readerAddress, errorCode, portIndex, noData);
}

MORVENT_API int BlockLock_G2(unsigned char* readerAddress, unsigned char* epc, unsigned char epcWords,
                             unsigned char* password, unsigned char blockLockCode, unsigned char maskBank,
                             unsigned char* maskAddress, unsigned char maskBitLength, unsigned char* mask,
                             int* errorCode, int portIndex) {
    const TagAddress tag{epc, epcWords, maskBank, maskAddress, maskBitLength, mask};
    return addressedCommand(kBlockLock, readerAddress, tag, errorCode, portIndex,
                            passwordThen(password, blockLockCode));
}

}

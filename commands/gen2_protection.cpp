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

// Exports that differ from another only in the command: kill and privacy
// by EPC (the password alone), EAS configuration and block lock (the
// password, then one code byte), and the privacy commands for the tag in
// the field.
#define MORVENT_ADDRESSED_PASSWORD(name, exchange)                                                           \
    MORVENT_API int name(unsigned char* readerAddress, unsigned char* epc, unsigned char epcWords,           \
                         unsigned char* password, unsigned char maskBank, unsigned char* maskAddress,        \
                         unsigned char maskBitLength, unsigned char* mask, int* errorCode, int portIndex) {  \
        const TagAddress tag{epc, epcWords, maskBank, maskAddress, maskBitLength, mask};                     \
        return addressedCommand(exchange, readerAddress, tag, errorCode, portIndex, passwordOnly(password)); \
    }
#define MORVENT_ADDRESSED_PASSWORD_CODE(name, exchange)                                                                \
    MORVENT_API int name(unsigned char* readerAddress, unsigned char* epc, unsigned char epcWords,                     \
                         unsigned char* password, unsigned char code, unsigned char maskBank,                          \
                         unsigned char* maskAddress, unsigned char maskBitLength, unsigned char* mask, int* errorCode, \
                         int portIndex) {                                                                              \
        const TagAddress tag{epc, epcWords, maskBank, maskAddress, maskBitLength, mask};                               \
        return addressedCommand(exchange, readerAddress, tag, errorCode, portIndex, passwordThen(password, code));     \
    }
#define MORVENT_FIELD_PASSWORD(name, exchange)                                                                   \
    MORVENT_API int name(unsigned char* readerAddress, unsigned char* password, int* errorCode, int portIndex) { \
        return tagCommand(exchange, readerAddress, errorCode, portIndex, passwordOnly(password));                \
    }

extern "C" {

MORVENT_ADDRESSED_PASSWORD(KillTag_G2, kKillTag)
MORVENT_ADDRESSED_PASSWORD(SetPrivacyByEPC_G2, kSetPrivacyByEpc)
MORVENT_FIELD_PASSWORD(SetPrivacyWithoutEPC_G2, kSetPrivacyWithoutEpc)
MORVENT_FIELD_PASSWORD(ResetPrivacy_G2, kResetPrivacy)
MORVENT_ADDRESSED_PASSWORD_CODE(EASConfigure_G2, kEasConfigure)
MORVENT_ADDRESSED_PASSWORD_CODE(BlockLock_G2, kBlockLock)

// The two code bytes come before the password here.
MORVENT_API int Lock_G2(unsigned char* readerAddress, unsigned char* epc, unsigned char epcWords,
                        unsigned char lockTarget, unsigned char lockMode, unsigned char* password,
                        unsigned char maskBank, unsigned char* maskAddress, unsigned char maskBitLength,
                        unsigned char* mask, int* errorCode, int portIndex) {
    const TagAddress tag{epc, epcWords, maskBank, maskAddress, maskBitLength, mask};
    return addressedCommand(kLock, readerAddress, tag, errorCode, portIndex,
                            [&](Request& r) { r.byte(lockTarget).byte(lockMode).bytes(password, kPasswordBytes); });
}

MORVENT_API int CheckPrivacy_G2(unsigned char* readerAddress, unsigned char* privacyState, int* errorCode,
                                int portIndex) {
    return tagCommand(kCheckPrivacy, readerAddress, errorCode, portIndex, noData, [&](const Response& r) {
        if (r.hasData(1)) *privacyState = r.data()[0];
    });
}

MORVENT_API int EASAlarm_G2(unsigned char* readerAddress, int* errorCode, int portIndex) {
    return tagCommand(kEasAlarm, readerAddress, errorCode, portIndex, noData);
}
}

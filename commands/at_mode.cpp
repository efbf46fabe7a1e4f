// AT mode and the transparent pass-through of raw commands.
#include <cstring>

#include "commands/transaction.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

// The reader may take seconds to switch modes: the AT receive limits apply.
const Exchange kChangeAtMode{0x4D, WriteBack::OnSuccess, ATGetDataFromPort};
const Exchange kTransparent{0x4E, WriteBack::Never};

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;

extern "C" {

MORVENT_API int ChangeATMode(unsigned char* readerAddress, unsigned char mode, int portIndex) {
    return transact(kChangeAtMode, readerAddress, portIndex, [&](Request& r) { r.byte(mode); });
}

// More than 250 bytes would not fit Len's byte: the request refuses them
// with MORVENT_PARAM_RANGE before anything is sent. An answer's data never
// exceed 250 bytes either, the room responseData has.
MORVENT_API int TransparentCMD(unsigned char* readerAddress, unsigned char parameter, unsigned char length,
                               unsigned char* sendData, unsigned char* responseLength, unsigned char* responseData,
                               int portIndex) {
    return transact(
        kTransparent, readerAddress, portIndex, [&](Request& r) { r.byte(parameter).bytes(sendData, length); },
        [&](const Response& resp) {
            if (resp.status() != MORVENT_OK) return;
            *responseLength = static_cast<unsigned char>(resp.dataLength());
            if (resp.dataLength() > 0) std::memcpy(responseData, resp.data(), resp.dataLength());
        });
}
}

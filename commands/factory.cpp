// Self-test mode: the framed command, or the single byte the reader also
// knows. Either form may be answered with either command code.
#include "commands/transaction.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

constexpr std::uint8_t kSelfTest = 0x26;
constexpr std::uint8_t kSelfTestByte = 0xA5;

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;

extern "C" MORVENT_API int InSelfTestMode(unsigned char* readerAddress, int modeFlag, int portIndex) {
    Exchange ex{kSelfTest, WriteBack::Always};
    ex.otherEcho = kSelfTestByte;
    // The whole int decides: 0x100 still sends the frame.
    ex.framed = modeFlag != 0;
    return transact(ex, readerAddress, portIndex, [&](Request& r) {
        if (!ex.framed) r.byte(kSelfTestByte);
    });
}

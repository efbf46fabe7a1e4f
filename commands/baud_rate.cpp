// SetBaudRate: the reader changes its rate after answering at the old one;
// a serial host port then follows it so that the link keeps working.
#include "commands/transaction.h"
#include "link/serial_link.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

constexpr std::uint8_t kSetBaudRate = 0x28;

// After the answer: the host port takes the new rate, 8N1 and the
// time-outs for the new rate, and drops whatever is queued. A port that
// refuses is closed and must be opened again.
int followOnHost(int portIndex, std::uint8_t baudCode, std::uint8_t status) {
    if (!link::isSerialPort(portIndex)) return status;  // a TCP link has no host-side rate
    if (link::bitRateFor(baudCode) < 0) return MORVENT_PARAM_RANGE;
    if (!link::configureSerialLine(portIndex, baudCode, link::kBaudChangeTimeouts)) {
        link::closeSerialPort(portIndex);
        return MORVENT_COMM_ERROR;
    }
    plat::serial().purge(link::ports().serial[portIndex], true, true);
    return status;
}

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;

extern "C" MORVENT_API int SetBaudRate(unsigned char* readerAddress, unsigned char baudCode, int portIndex) {
    // Any answer with a good CRC counts: the reader may already be switching.
    Exchange ex{kSetBaudRate, WriteBack::Never};
    ex.checkEcho = false;
    return transact(
        ex, readerAddress, portIndex, [&](Request& r) { r.byte(baudCode); },
        [&](const Response& resp) { return followOnHost(portIndex, baudCode, resp.status()); });
}

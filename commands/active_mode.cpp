// ReadActiveModeData: in its active mode the reader sends by itself; this
// drains what has arrived, unparsed, without sending anything.
#include <algorithm>
#include <cstring>

#include "link/ports.h"
#include "link/serial_link.h"
#include "link/traffic_log.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

constexpr std::size_t kSerialMost = 50;
constexpr std::uint32_t kNetWaitMs = 1000;
// Like the keep-alive, this stops one short of the last network index.
constexpr int kNetLastActive = link::kNetLast - 1;

int deliver(int port, const std::uint8_t* bytes, std::size_t size, unsigned char* data, int* count) {
    if (size > 0) link::logTraffic(port, link::Direction::Read, bytes, size);
    std::memcpy(data, bytes, size);
    *count = static_cast<int>(size);
    return size > 0 ? MORVENT_OK : MORVENT_NO_DATA;
}

// Only what is already queued, so the call never waits. Bytes beyond the
// most one call hands over stay queued, in order, for the next call: they
// are reads the reader made, so dropping them would lose tags.
int readSerial(int port, unsigned char* data, int* count) {
    if (!link::serialSlotOpen(port)) return MORVENT_INVALID_PORT;
    link::clearReceive();
    const plat::SerialOps& ops = plat::serial();
    const plat::SerialHandle handle = link::ports().serial[port];
    const int queued = ops.queued(handle);
    const std::size_t wanted = queued <= 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(queued), kSerialMost);
    std::uint8_t* buffer = link::transfer().receive;
    std::size_t got = 0;
    if (wanted > 0 && !ops.read(handle, buffer, wanted, &got)) got = 0;
    return deliver(port, buffer, got, data, count);
}

int readNet(int port, unsigned char* data, int* count) {
    link::TransferState& t = link::transfer();
    t.receiveCount = 0;
    std::memset(t.receive, 0, link::kReceiveSize);
    const plat::NetOps& net = plat::net();
    const plat::Socket s = link::ports().socket[port].load(std::memory_order_acquire);
    if (net.waitReadable(s, kNetWaitMs) != plat::Wait::Ready) return MORVENT_COMM_ERROR;
    const long got = net.recv(s, t.receive, link::kReceiveSize);
    if (got <= 0) return MORVENT_NO_DATA;
    t.receiveCount = static_cast<int>(got);
    return deliver(port, t.receive, static_cast<std::size_t>(got), data, count);
}

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;

extern "C" MORVENT_API int ReadActiveModeData(unsigned char* data, int* count, int portIndex) {
    mv::link::LinkGuard guard(mv::link::linkLock());
    if (mv::link::isSerialPort(portIndex)) return readSerial(portIndex, data, count);
    if (portIndex >= mv::link::kNetFirst && portIndex <= kNetLastActive) return readNet(portIndex, data, count);
    return MORVENT_NO_DATA;
}

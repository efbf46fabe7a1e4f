#include "link/net_link.h"

#include "link/ports.h"
#include "morvent.h"
#include "platform/platform.h"

namespace mv::link {
namespace {

constexpr std::uint32_t kConnectWaitMs = 1000;
constexpr std::uint32_t kDrainLimitMs = 1000;
constexpr std::uint32_t kBusyWaitLimitMs = 3000;

// Shuts the sending side, reads until the reader closes its side (at most
// about a second), then closes the socket and empties the slot.
void gracefulClose(int port) {
    const plat::NetOps& net = plat::net();
    const plat::Socket s = ports().socket[port].load(std::memory_order_acquire);
    if (s == plat::kNoSocket) return;
    net.shutdownSend(s);
    std::uint8_t scratch[512];
    const std::uint32_t start = plat::tickMs();
    for (;;) {
        const std::uint32_t spent = plat::elapsedSince(start);
        if (spent >= kDrainLimitMs) break;
        if (net.waitReadable(s, kDrainLimitMs - spent) != plat::Wait::Ready) break;
        if (net.recv(s, scratch, sizeof scratch) <= 0) break;
    }
    net.close(s);
    ports().socket[port].store(plat::kNoSocket, std::memory_order_release);
}

// Takes the busy flag, waiting out a keep-alive send in progress (bounded:
// a keep-alive holds it for at most its one-second writability wait).
bool takeBusyForClose(int port) {
    const std::uint32_t start = plat::tickMs();
    while (!tryTakeBusy(port)) {
        if (plat::elapsedSince(start) > kBusyWaitLimitMs) return false;
        plat::sleepMs(1);
    }
    return true;
}

}  // namespace

void closeNetLink(int port) {
    if (!takeBusyForClose(port)) {
        // A keep-alive still holds the socket past every bound. Closing it
        // under the keep-alive could put its send on a closed or reused
        // descriptor, so the port is only marked closed and the socket stays
        // in its slot: the next opening of this port closes it.
        setOpen(port, false);
        return;
    }
    const plat::Socket s = ports().socket[port].load(std::memory_order_acquire);
    if (s != plat::kNoSocket) {
        plat::net().setNonBlocking(s, false);
        gracefulClose(port);
        plat::net().cleanup();
    }
    setOpen(port, false);
    releaseBusy(port);
}

}  // namespace mv::link

using namespace mv::link;
namespace plat = mv::plat;

extern "C" {

MORVENT_API int OpenNet(int tcpPort, const char* ipAddress) {
    if (!isNetPort(tcpPort)) return MORVENT_INVALID_PORT;
    LinkGuard guard(linkLock());  // already held when called by OpenNetPort
    const plat::NetOps& net = plat::net();
    // A connection left over from an opening whose handshake failed.
    if (!isOpen(tcpPort) && ports().socket[tcpPort].load() != plat::kNoSocket) closeNetLink(tcpPort);
    if (isOpen(tcpPort)) return MORVENT_PORT_OPEN;
    if (ports().socket[tcpPort].load() != plat::kNoSocket) return MORVENT_COMM_ERROR;  // still held

    net.startup();
    const plat::Socket s = net.create();
    if (s == plat::kNoSocket) {
        net.cleanup();
        return MORVENT_COMM_ERROR;
    }
    ports().socket[tcpPort].store(s, std::memory_order_release);
    net.setNonBlocking(s, true);
    int pending = 0;
    // A connect that failed outright (a malformed address, no route) never
    // completes; one in progress is settled by the writability wait.
    if (!net.connect(s, ipAddress, static_cast<std::uint16_t>(tcpPort))) {
        closeNetLink(tcpPort);
        return MORVENT_COMM_ERROR;
    }
    // Writable with no pending error means connected; a refused connection
    // shows up as writable with an error and fails here rather than later.
    const bool connected = net.waitWritable(s, kConnectWaitMs) == plat::Wait::Ready &&
                           net.pendingError(s, &pending) && pending == 0;
    if (!connected) {
        closeNetLink(tcpPort);
        return MORVENT_COMM_ERROR;
    }
    releaseBusy(tcpPort);
    ensureKeepAlive();
    return MORVENT_OK;
}

MORVENT_API int CloseNetPort(int portIndex) {
    if (!isNetPort(portIndex)) return MORVENT_OK;
    LinkGuard guard(linkLock());
    if (isOpen(portIndex)) closeNetLink(portIndex);
    return MORVENT_OK;
}

}

#include "link/net_link.h"

#include <cstdio>
#include <cstring>

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

namespace {

// Four decimal numbers 0..255 of one to three digits, separated by dots.
bool isDottedQuad(const char* text) {
    int parts = 0, digits = 0, value = 0;
    for (const char* c = text;; ++c) {
        if (*c == '.' || *c == '\0') {
            if (digits == 0 || value > 255 || ++parts > 4) return false;
            if (*c == '\0') return parts == 4;
            digits = value = 0;
        } else if (*c >= '0' && *c <= '9' && digits < 3) {
            value = value * 10 + (*c - '0');
            ++digits;
        } else {
            return false;
        }
    }
}

}  // namespace

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
    const bool connected =
        net.waitWritable(s, kConnectWaitMs) == plat::Wait::Ready && net.pendingError(s, &pending) && pending == 0;
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

// Outside the link lock: a lookup may wait seconds for the name service,
// and every other link would wait with it.
MORVENT_API int MorventResolveHost(const char* host, char* ipv4) {
    if (host == nullptr || *host == '\0' || ipv4 == nullptr) return MORVENT_PARAM_RANGE;
    // Resolvers read "10.1.5" as 10.1.0.5: a mistyped address would reach
    // another machine. Digits and dots alone must be four numbers.
    if (std::strspn(host, "0123456789.") == std::strlen(host) && !isDottedQuad(host)) return MORVENT_PARAM_RANGE;
    std::uint8_t address[4];
    switch (plat::resolveIPv4(host, address)) {
    case plat::Lookup::Found: break;
    case plat::Lookup::Unknown: return MORVENT_PARAM_RANGE;
    case plat::Lookup::Failed: return MORVENT_COMM_ERROR;
    }
    std::snprintf(ipv4, 16, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    return MORVENT_OK;
}
}

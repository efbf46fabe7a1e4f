// The keep-alive: one thread for the whole process. Every second it sweeps
// the open network ports; a port that carried no send for more than 16
// sweeps gets the two bytes 00 00. The thread ends after a sweep that finds
// no open network port and no new link announced since the last sweep.
#include <mutex>

#include "link/net_link.h"
#include "link/ports.h"
#include "platform/platform.h"

namespace mv::link {
namespace {

constexpr int kLastSweptPort = 65534;  // 65535 is never swept
constexpr std::uint32_t kSendWaitMs = 1000;

std::mutex lifeMutex;
bool running = false;    // guarded by lifeMutex
bool announced = false;  // a link opened since the last sweep; guarded by lifeMutex

void sendKeepAlive(int port) {
    const plat::Socket s = ports().socket[port].load(std::memory_order_acquire);
    if (s == plat::kNoSocket || !isOpen(port)) return;  // closed while we waited for the flag
    const plat::NetOps& net = plat::net();
    if (net.waitWritable(s, kSendWaitMs) == plat::Wait::Ready) {
        static const std::uint8_t zeros[2] = {0, 0};
        net.send(s, zeros, sizeof zeros);
    }
}

// One sweep; returns whether an open network port was found.
bool sweep() {
    bool found = false;
    for (int port = kNetFirst; port <= kLastSweptPort; ++port) {
        if (!isOpen(port)) continue;
        found = true;
        const int idle = ports().keepAlive[port].fetch_add(1, std::memory_order_acq_rel) + 1;
        if (!tryTakeBusy(port)) return true;  // a command is sending: try again next period
        if (idle > kKeepAliveThreshold) {
            sendKeepAlive(port);
            ports().keepAlive[port].store(0, std::memory_order_release);
        }
        releaseBusy(port);
    }
    return found;
}

bool keepRunning(bool foundOpenPort) {
    std::lock_guard<std::mutex> guard(lifeMutex);
    if (foundOpenPort || announced) {
        announced = false;
        return true;
    }
    running = false;
    return false;
}

void keepAliveThread(void*) {
    do {
        plat::sleepMs(kKeepAlivePeriodMs);
    } while (keepRunning(sweep()));
}

}  // namespace

void ensureKeepAlive() {
    std::lock_guard<std::mutex> guard(lifeMutex);
    announced = true;
    if (running) return;
    running = plat::startDetachedThread(keepAliveThread, nullptr, kKeepAliveThreadName);
}

}  // namespace mv::link

// Moving frames: one send routine and four receive routines that differ only
// in chunk size, time limits and the rule that says the response is whole.
#include <cstring>

#include "link/ports.h"
#include "link/serial_link.h"
#include "link/traffic_log.h"
#include "morvent.h"
#include "platform/platform.h"

namespace mv::link {
namespace {

constexpr std::uint32_t kSendWaitMs = 1000;
constexpr int kSendAttempts = 3;
constexpr std::uint32_t kSelectWaitMs = 1000;
constexpr std::uint32_t kFailedWaitBackoffMs = 10;
constexpr std::uint32_t kNoIdleWindow = 0;
constexpr std::size_t kStaleDropLimit = 64 * 1024;

using CompleteFn = bool (*)(const std::uint8_t* bytes, std::size_t count, bool serial);

// One response frame whose Len accounts for every byte received. On a serial
// line a frame must be longer than four bytes.
bool oneFrameComplete(const std::uint8_t* bytes, std::size_t count, bool serial) {
    if (count == 0) return false;
    return bytes[0] + 1u == count && (!serial || bytes[0] > 3);
}

// A run of frames closed by a frame whose status is 0x00. A frame's status
// counts only once the frame has become the current one: the first frame's
// while nothing after it has arrived, every later frame's once reached.
bool statusZeroReached(const std::uint8_t* bytes, std::size_t count, bool) {
    if (count == 0) return false;
    std::size_t current = 0;
    long left = static_cast<long>(count);
    for (;;) {
        left -= bytes[current] + 1;
        if (left > 0) current += bytes[current] + 1u;
        if (count - current >= 4 && bytes[current + 3] == 0x00) return true;
        if (left <= 0) return false;
    }
}

// An inventory frame with this status announces more frames of the answer.
constexpr std::uint8_t kMoreFrames = MORVENT_INVENTORY_MORE;

bool announcesMore(const std::uint8_t* frame, std::size_t size) { return size > 3 && frame[3] == kMoreFrames; }

// The run is complete and its last frame says no frame follows: a reader
// that is still finding tags sends a frame with status 0x03, pauses while it
// reads on, then sends the next; a run that ends on such a frame is not whole.
bool inventoryRunEnded(const std::uint8_t* bytes, std::size_t count, bool) {
    std::size_t at = 0;
    while (at < count) {
        const std::size_t size = bytes[at] + 1u;
        const std::size_t left = count - at;
        if (left < size) return false;
        if (size == left) return !announcesMore(bytes + at, size);
        at += size;
    }
    return false;
}

// What a limit leaves of an inventory answer: the whole frames received,
// when the last of them announced more. Their tags are the caller's, so
// they are delivered rather than lost with a time-out; 0 when there is
// nothing of the kind (no whole frame, or a run that is merely malformed).
std::size_t framesAnnouncingMore(const std::uint8_t* bytes, std::size_t count) {
    std::size_t at = 0, last = 0;
    while (at < count && bytes[at] + 1u <= count - at) {
        last = at;
        at += bytes[at] + 1u;
    }
    return at > 0 && announcesMore(bytes + last, at - last) ? at : 0;
}

struct ReceiveRule {
    std::size_t serialChunk;
    std::size_t netChunk;
    std::uint32_t serialIdleMs;  // give up when not one byte came by then
    std::uint32_t serialTotalMs;
    std::uint32_t netIdleMs;  // kNoIdleWindow: none
    std::uint32_t netTotalMs;
    // The answer is whole. A serial read also ends as soon as this holds,
    // instead of waiting out the gap between bytes.
    CompleteFn complete;
    // Bytes still delivered when a limit passes before the answer is whole
    // (with the status kMoreFrames); nullptr: none, the wait failed.
    std::size_t (*cutShort)(const std::uint8_t* bytes, std::size_t count);
};

constexpr ReceiveRule kSingleFrame{100, 300, 500, 1000, kNoIdleWindow, 1000, oneFrameComplete, nullptr};
constexpr ReceiveRule kInventoryRun{
    100, 3000, 1000, 10000, kNoIdleWindow, 1000, inventoryRunEnded, framesAnnouncingMore};
constexpr ReceiveRule kStatusZeroRun{100, 3000, 500, 5000, 500, 5000, statusZeroReached, nullptr};
constexpr ReceiveRule kAtModeFrame{100, 300, 7000, 10000, 7000, 10000, oneFrameComplete, nullptr};

// What a serial read needs to tell whether the receive buffer, with the
// bytes of the read in progress, holds the whole answer.
struct AnswerSoFar {
    const ReceiveRule* rule;
    const std::uint8_t* start;  // the receive buffer
    std::size_t before;         // bytes gathered by earlier reads
};

bool answerEnded(const void* context, const std::uint8_t*, std::size_t got) {
    const AnswerSoFar* a = static_cast<const AnswerSoFar*>(context);
    return a->rule->complete(a->start, a->before + got, true);
}

bool limitPassed(std::uint32_t start, std::uint32_t idleMs, std::uint32_t totalMs, int received) {
    const std::uint32_t spent = plat::elapsedSince(start);
    return (idleMs != kNoIdleWindow && spent > idleMs && received == 0) || spent > totalMs;
}

// Time left before the nearest limit that can still end the wait, so that a
// wait never overshoots a limit by a whole period.
std::uint32_t waitBudget(std::uint32_t start, std::uint32_t idleMs, std::uint32_t totalMs, int received) {
    const std::uint32_t spent = plat::elapsedSince(start);
    std::uint32_t limit = totalMs;
    if (idleMs != kNoIdleWindow && received == 0 && idleMs < limit) limit = idleMs;
    const std::uint32_t left = spent >= limit ? 0 : limit - spent;
    return (left < kSelectWaitMs ? left : kSelectWaitMs) + 1;
}

void deliver(std::uint8_t* buffer, int* count) {
    TransferState& t = transfer();
    if (buffer != t.receive) std::memcpy(buffer, t.receive, static_cast<std::size_t>(t.receiveCount));
    *count = t.receiveCount;
}

// A limit passed, or the buffer filled, before the answer was whole. What
// the rule keeps of it is delivered with the status kMoreFrames; otherwise
// the wait failed.
int giveUp(const ReceiveRule& rule, std::uint8_t* buffer, int* count) {
    TransferState& t = transfer();
    const std::size_t kept = rule.cutShort ? rule.cutShort(t.receive, static_cast<std::size_t>(t.receiveCount)) : 0;
    if (kept == 0) return MORVENT_COMM_ERROR;
    t.receiveCount = static_cast<int>(kept);  // a partial frame after them is no part of it
    deliver(buffer, count);
    return kMoreFrames;
}

// Serial: chunks come from the device's read with its own time-outs. The
// bytes that arrived stay delivered in `buffer` and `count` on failure too.
int receiveSerial(const ReceiveRule& rule, std::uint8_t* buffer, int* count, int port) {
    *count = 0;
    if (!serialSlotOpen(port)) return MORVENT_INVALID_PORT;
    TransferState& t = transfer();
    t.receiveCount = 0;
    const plat::SerialOps& ops = plat::serial();
    const std::uint32_t start = plat::tickMs();
    for (;;) {
        const std::size_t room = kReceiveSize - static_cast<std::size_t>(t.receiveCount);
        const std::size_t chunk = room < rule.serialChunk ? room : rule.serialChunk;
        const AnswerSoFar soFar{&rule, t.receive, static_cast<std::size_t>(t.receiveCount)};
        std::size_t got = 0;
        const bool ok = ops.readUntil ? ops.readUntil(ports().serial[port], t.receive + t.receiveCount, chunk, &got,
                                                      plat::ReadEnd{answerEnded, &soFar})
                                      : ops.read(ports().serial[port], t.receive + t.receiveCount, chunk, &got);
        if (got > 0) {
            logTraffic(port, Direction::Read, t.receive + t.receiveCount, got);
            t.receiveCount += static_cast<int>(got);
        }
        if (ok && rule.complete(t.receive, static_cast<std::size_t>(t.receiveCount), true)) {
            deliver(buffer, count);
            return MORVENT_OK;
        }
        // A full buffer can never complete: more bytes only lengthen the run.
        if (static_cast<std::size_t>(t.receiveCount) >= kReceiveSize ||
            limitPassed(start, rule.serialIdleMs, rule.serialTotalMs, t.receiveCount)) {
            const int status = giveUp(rule, buffer, count);
            if (status == MORVENT_COMM_ERROR) deliver(buffer, count);
            return status;
        }
        if (!ok) plat::sleepMs(kFailedWaitBackoffMs);
    }
}

// Network: chunks come from a receive that waits for them. The bytes that
// arrived stay in the receive buffer on failure; `count` stays 0.
int receiveNet(const ReceiveRule& rule, std::uint8_t* buffer, int* count, int port) {
    *count = 0;
    TransferState& t = transfer();
    t.receiveCount = 0;
    const plat::NetOps& net = plat::net();
    const plat::Socket s = ports().socket[port].load(std::memory_order_acquire);
    const std::uint32_t start = plat::tickMs();
    for (;;) {
        const std::size_t room = kReceiveSize - static_cast<std::size_t>(t.receiveCount);
        long got = 0;
        const plat::Wait ready =
            room == 0 ? plat::Wait::Ready
                      : net.recvWithin(s, t.receive + t.receiveCount, room < rule.netChunk ? room : rule.netChunk,
                                       waitBudget(start, rule.netIdleMs, rule.netTotalMs, t.receiveCount), &got);
        const bool progressed = ready == plat::Wait::Ready && got > 0;
        if (progressed) {
            logTraffic(port, Direction::Read, t.receive + t.receiveCount, static_cast<std::size_t>(got));
            t.receiveCount += static_cast<int>(got);
            if (rule.complete(t.receive, static_cast<std::size_t>(t.receiveCount), false)) {
                deliver(buffer, count);
                return MORVENT_OK;
            }
        }
        if (static_cast<std::size_t>(t.receiveCount) >= kReceiveSize ||
            limitPassed(start, rule.netIdleMs, rule.netTotalMs, t.receiveCount))
            return giveUp(rule, buffer, count);
        // A closed or failed connection is ready at once: do not spin on it.
        if (!progressed && ready != plat::Wait::TimedOut) plat::sleepMs(kFailedWaitBackoffMs);
    }
}

// The receive routines are called by commands with the link lock held;
// taking the re-entrant lock here too keeps direct callers from racing a
// command.
int receive(const ReceiveRule& rule, std::uint8_t* buffer, int* count, int port) {
    LinkGuard guard(linkLock());
    if (isSerialPort(port)) return receiveSerial(rule, buffer, count, port);
    if (isNetPort(port)) return receiveNet(rule, buffer, count, port);
    *count = 0;
    return MORVENT_INVALID_PORT;
}

int sendSerial(const std::uint8_t* frame, std::size_t length, int port) {
    if (!serialSlotOpen(port)) return MORVENT_INVALID_PORT;
    const plat::SerialOps& ops = plat::serial();
    const plat::SerialHandle handle = ports().serial[port];
    // Stale input from an earlier exchange must not pass for the answer.
    ops.purge(handle, true, true);
    std::size_t written = 0;
    if (!ops.write(handle, frame, length, &written) || written != length) return MORVENT_COMM_ERROR;
    logTraffic(port, Direction::Write, frame, length);
    return MORVENT_OK;
}

// Sends the whole frame within one writability limit; a partial send goes
// on with the rest rather than counting as done. `writable`: the socket was
// just seen writable, so the first send needs no wait.
bool sendAll(plat::Socket s, const std::uint8_t* frame, std::size_t length, bool writable) {
    const plat::NetOps& net = plat::net();
    const std::uint32_t start = plat::tickMs();
    std::size_t sent = 0;
    int failures = 0;
    while (sent < length) {
        const std::uint32_t spent = plat::elapsedSince(start);
        if (spent > kSendWaitMs) return false;
        if (!writable && net.waitWritable(s, kSendWaitMs - spent) != plat::Wait::Ready) return false;
        writable = false;
        const long n = net.send(s, frame + sent, length - sent);
        if (n > 0) sent += static_cast<std::size_t>(n);
        else if (++failures >= kSendAttempts) return false;
    }
    return true;
}

// Bytes already waiting on the connection answer no request of this send (a
// reply that came after its time-out, or bytes sent unasked): drop them, as
// the serial send purges its input, so they cannot pass for the answer.
void dropStaleInput(plat::Socket s) {
    const plat::NetOps& net = plat::net();
    std::uint8_t scratch[512];
    std::size_t dropped = 0;
    while (dropped < kStaleDropLimit && net.waitReadable(s, 0) == plat::Wait::Ready) {
        const long n = net.recv(s, scratch, sizeof scratch);
        if (n <= 0) break;
        dropped += static_cast<std::size_t>(n);
    }
}

int sendNet(const std::uint8_t* frame, std::size_t length, int port) {
    if (!tryTakeBusy(port)) return MORVENT_COMM_ERROR;  // the keep-alive is sending
    ports().keepAlive[port].store(0, std::memory_order_release);
    TransferState& t = transfer();
    t.receiveCount = 0;
    clearReceive();
    const plat::Socket s = ports().socket[port].load(std::memory_order_acquire);
    // One look tells both whether stale input waits and whether the send
    // can go at once; the usual exchange then makes no other wait.
    const plat::Readiness now = plat::net().readyNow(s);
    if (now.readable) dropStaleInput(s);
    const bool sent = !now.failed && sendAll(s, frame, length, now.writable);
    if (sent) logTraffic(port, Direction::Write, frame, length);
    releaseBusy(port);
    return sent ? MORVENT_OK : MORVENT_COMM_ERROR;
}

}  // namespace
}  // namespace mv::link

using namespace mv::link;

extern "C" {

// Called by commands with the link lock held; taking the re-entrant lock
// here too keeps direct callers from racing a command.
MORVENT_API int SendDataToPort(unsigned char* frame, unsigned int length, int portIndex) {
    LinkGuard guard(linkLock());
    if (isSerialPort(portIndex)) return sendSerial(frame, length, portIndex);
    if (isNetPort(portIndex)) return sendNet(frame, length, portIndex);
    return MORVENT_INVALID_PORT;
}

MORVENT_API int GetDataFromPort(unsigned char* buffer, int* count, int portIndex) {
    return receive(kSingleFrame, buffer, count, portIndex);
}

MORVENT_API int GetInventoryDataFromPort1(unsigned char* buffer, int* count, int portIndex) {
    return receive(kInventoryRun, buffer, count, portIndex);
}

MORVENT_API int GetDataFromPort1(unsigned char* buffer, int* count, int portIndex) {
    return receive(kStatusZeroRun, buffer, count, portIndex);
}

MORVENT_API int ATGetDataFromPort(unsigned char* buffer, int* count, int portIndex) {
    return receive(kAtModeFrame, buffer, count, portIndex);
}
}

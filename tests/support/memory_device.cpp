#include "support/memory_device.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "link/crc.h"
#include "platform/platform.h"

namespace mv::plat::memdev {

using mv::appendCrc;

namespace {

constexpr int kConnectionRefused = 111;
constexpr std::uint32_t kNoTimeoutReadMs = 1000;  // a serial read with all time-outs 0

std::atomic<std::uint32_t> clockMs{0x10000};

std::uint32_t virtualNow() { return clockMs.load(std::memory_order_acquire); }
void advance(std::uint32_t ms) { clockMs.fetch_add(ms, std::memory_order_acq_rel); }
bool reached(std::uint32_t at) { return static_cast<std::int32_t>(virtualNow() - at) >= 0; }

struct Arrival {
    Bytes bytes;
    std::uint32_t at;  // virtual time the chunk becomes readable
    std::size_t offset = 0;
};

}  // namespace

struct Device::State {
    std::deque<std::vector<Chunk>> answers;  // one per future request
    std::deque<Arrival> inbox;               // released chunks, in arrival order
    bool closeAfter = false;
    bool echo = false;
    std::uint8_t echoStatus = 0;
    Bytes echoData;
    bool failWrites = false;
    bool blockWrites = false;
    bool refuseOpen = false;
    Bytes written;
    std::vector<Bytes> writes;
    int keepAlives = 0;
    int opens = 0;
    SerialTimeouts timeouts{};
};

namespace {

struct Registry {
    std::mutex mutex;
    std::map<int, std::unique_ptr<Device::State>> serial;  // by COM number
    std::map<int, std::unique_ptr<Device::State>> net;     // by TCP port
    std::map<SerialHandle, Device::State*> handles;        // open serial handles
    Socket nextSocket = 1000;
    SerialHandle nextHandle = 1;
    int misuses = 0;
};

Registry& registry() {
    static Registry r;
    return r;
}

using Lock = std::lock_guard<std::mutex>;

Device::State* stateOf(std::map<int, std::unique_ptr<Device::State>>& table, int key) {
    auto& slot = table[key];
    if (!slot) slot = std::make_unique<Device::State>();
    return slot.get();
}

// Schedules chunks one after the other, starting now.
void release(Device::State& d, std::vector<Chunk> chunks) {
    std::uint32_t at = virtualNow();
    if (!d.inbox.empty() && static_cast<std::int32_t>(d.inbox.back().at - at) > 0) at = d.inbox.back().at;
    for (Chunk& c : chunks) {
        at += c.delayMs;
        d.inbox.push_back(Arrival{std::move(c.bytes), at});
    }
}

bool readyNow(const Device::State& d) { return !d.inbox.empty() && reached(d.inbox.front().at); }
bool drained(const Device::State& d) { return d.inbox.empty() && d.closeAfter; }

// Waits (virtually) up to `ms` for the next chunk. True when one is ready.
bool waitForChunk(const Device::State& d, std::uint32_t ms) {
    if (readyNow(d)) return true;
    if (d.inbox.empty()) {
        advance(ms);
        return false;
    }
    const std::uint32_t until = d.inbox.front().at - virtualNow();
    advance(std::min(until, ms));
    return readyNow(d);
}

// Copies up to `length` bytes of the first ready chunk.
std::size_t take(Device::State& d, std::uint8_t* data, std::size_t length) {
    if (!readyNow(d)) return 0;
    Arrival& a = d.inbox.front();
    const std::size_t n = std::min(length, a.bytes.size() - a.offset);
    std::copy_n(a.bytes.data() + a.offset, n, data);
    a.offset += n;
    if (a.offset == a.bytes.size()) d.inbox.pop_front();
    return n;
}

bool isKeepAlive(const std::uint8_t* data, std::size_t length) {
    return length == 2 && data[0] == 0 && data[1] == 0;
}

// Len, the request's address and command, the status, the data, the CRC.
Bytes echoFrame(const Device::State& d, const std::uint8_t* request) {
    Bytes frame{static_cast<std::uint8_t>(d.echoData.size() + 5), request[1], request[2], d.echoStatus};
    frame.insert(frame.end(), d.echoData.begin(), d.echoData.end());
    frame.resize(frame.size() + 2);
    appendCrc(frame.data(), frame.size() - 2);
    return frame;
}

void capture(Device::State& d, const std::uint8_t* data, std::size_t length, bool net) {
    if (net && isKeepAlive(data, length)) {
        ++d.keepAlives;
        return;
    }
    d.written.insert(d.written.end(), data, data + length);
    d.writes.emplace_back(data, data + length);
    if (d.answers.empty() && d.echo && length >= 3) {
        release(d, {Chunk{echoFrame(d, data), 0}});
        return;
    }
    if (d.answers.empty()) return;
    std::vector<Chunk> answer = std::move(d.answers.front());
    d.answers.pop_front();
    release(d, std::move(answer));
}

// ---- Serial backend --------------------------------------------------------

Device::State* serialOf(SerialHandle h) {
    Registry& r = registry();
    auto it = r.handles.find(h);
    if (it != r.handles.end()) return it->second;
    ++r.misuses;
    return nullptr;
}

SerialHandle memOpen(int comNumber) {
    Registry& r = registry();
    Lock lock(r.mutex);
    auto it = r.serial.find(comNumber);
    if (it == r.serial.end() || it->second->refuseOpen) return kNoSerial;
    Device::State* d = it->second.get();
    for (const auto& open : r.handles)
        if (open.second == d) return kNoSerial;  // no sharing
    ++d->opens;
    const SerialHandle h = r.nextHandle++;
    r.handles[h] = d;
    return h;
}

bool memConfigure(SerialHandle h, SerialLine) {
    Lock lock(registry().mutex);
    Device::State* d = serialOf(h);
    return d != nullptr;
}

bool memSetTimeouts(SerialHandle h, const SerialTimeouts& timeouts) {
    Lock lock(registry().mutex);
    Device::State* d = serialOf(h);
    if (!d) return false;
    d->timeouts = timeouts;
    return true;
}

// Purging the input drops what has arrived; chunks still on their way stay.
void memPurge(SerialHandle h, bool input, bool) {
    Lock lock(registry().mutex);
    Device::State* d = serialOf(h);
    if (!d || !input) return;
    while (readyNow(*d)) d->inbox.pop_front();
}

bool memWrite(SerialHandle h, const std::uint8_t* data, std::size_t length, std::size_t* written) {
    Lock lock(registry().mutex);
    *written = 0;
    Device::State* d = serialOf(h);
    if (!d || d->failWrites) return false;
    capture(*d, data, length, false);
    *written = length;
    return true;
}

bool memRead(SerialHandle h, std::uint8_t* data, std::size_t length, std::size_t* got) {
    Lock lock(registry().mutex);
    *got = 0;
    Device::State* d = serialOf(h);
    if (!d) return false;
    if (length == 0) return true;
    const SerialTimeouts& t = d->timeouts;
    std::uint32_t total = t.readMultiplier * static_cast<std::uint32_t>(length) + t.readConstant;
    if (total == 0) total = kNoTimeoutReadMs;
    if (waitForChunk(*d, total)) *got = take(*d, data, length);
    return true;
}

int memQueued(SerialHandle h) {
    Lock lock(registry().mutex);
    Device::State* d = serialOf(h);
    if (!d) return -1;
    std::size_t n = 0;
    for (const Arrival& a : d->inbox)
        if (reached(a.at)) n += a.bytes.size() - a.offset;
    return static_cast<int>(n);
}

bool memClose(SerialHandle h) {
    Registry& r = registry();
    Lock lock(r.mutex);
    if (!serialOf(h)) return false;
    r.handles.erase(h);
    return true;
}

const SerialOps memorySerialOps = {memOpen,  memConfigure, memSetTimeouts, memPurge,
                                   memWrite, memRead,      memQueued,      memClose,
                                   nullptr,   // an in-memory line has no driver queues
                                   nullptr};  // every read waits out its interval

// ---- Network backend -------------------------------------------------------

struct SocketState {
    Device::State* device = nullptr;  // null until connected, or when refused
    bool refused = false;
};

std::map<Socket, SocketState>& socketStates() {
    static std::map<Socket, SocketState> states;
    return states;
}

// The socket's record, or null (and a misuse counted) for a closed one.
SocketState* socketOf(Socket s) {
    auto& states = socketStates();
    auto it = states.find(s);
    if (it != states.end()) return &it->second;
    ++registry().misuses;
    return nullptr;
}

void noop() {}

Socket memCreate() {
    Registry& r = registry();
    Lock lock(r.mutex);
    const Socket s = r.nextSocket++;
    socketStates()[s] = SocketState{};
    return s;
}

bool memSetNonBlocking(Socket s, bool) {
    Lock lock(registry().mutex);
    return socketOf(s) != nullptr;
}

bool memConnect(Socket s, const char* ipv4, std::uint16_t port) {
    Registry& r = registry();
    Lock lock(r.mutex);
    SocketState* sock = socketOf(s);
    if (!sock || ipv4 == nullptr) return false;
    auto it = r.net.find(port);
    if (it == r.net.end() || it->second->refuseOpen) {
        sock->refused = true;
        return true;  // in progress; the pending error tells
    }
    sock->device = it->second.get();
    ++sock->device->opens;
    return true;
}

bool memPendingError(Socket s, int* error) {
    Lock lock(registry().mutex);
    SocketState* sock = socketOf(s);
    if (!sock) return false;
    *error = sock->refused ? kConnectionRefused : 0;
    return true;
}

Wait memWaitWritable(Socket s, std::uint32_t ms) {
    Lock lock(registry().mutex);
    SocketState* sock = socketOf(s);
    if (!sock) return Wait::Failed;
    if (sock->device && sock->device->blockWrites) {
        advance(ms);
        return Wait::TimedOut;
    }
    return Wait::Ready;
}

Wait memWaitReadable(Socket s, std::uint32_t ms) {
    Lock lock(registry().mutex);
    SocketState* sock = socketOf(s);
    if (!sock) return Wait::Failed;
    if (!sock->device) return Wait::Ready;  // a refused connection reads as failed at once
    Device::State& d = *sock->device;
    if (drained(d) || waitForChunk(d, ms)) return Wait::Ready;
    return Wait::TimedOut;
}

long memSend(Socket s, const std::uint8_t* data, std::size_t length) {
    Lock lock(registry().mutex);
    SocketState* sock = socketOf(s);
    if (!sock || !sock->device || sock->device->failWrites) return -1;
    capture(*sock->device, data, length, true);
    return static_cast<long>(length);
}

long memRecv(Socket s, std::uint8_t* data, std::size_t length) {
    Lock lock(registry().mutex);
    SocketState* sock = socketOf(s);
    if (!sock || !sock->device) return -1;
    Device::State& d = *sock->device;
    if (drained(d)) return 0;
    const std::size_t n = take(d, data, length);
    return n > 0 ? static_cast<long>(n) : -1;
}

Readiness memReadyNow(Socket s) {
    Lock lock(registry().mutex);
    SocketState* sock = socketOf(s);
    if (!sock) return {false, false, true};
    if (!sock->device) return {true, true, false};  // refused: both ways fail at once
    const Device::State& d = *sock->device;
    return {drained(d) || readyNow(d), !d.blockWrites, false};
}

Wait memRecvWithin(Socket s, std::uint8_t* data, std::size_t length, std::uint32_t ms, long* got) {
    *got = -1;
    const Wait ready = memWaitReadable(s, ms);
    if (ready == Wait::Ready) *got = memRecv(s, data, length);
    return ready;
}

void memShutdownSend(Socket s) {
    Lock lock(registry().mutex);
    socketOf(s);
}

void memCloseSocket(Socket s) {
    Lock lock(registry().mutex);
    if (socketOf(s)) socketStates().erase(s);
}

const NetOps memoryNetOps = {noop,          noop,           memCreate,       memSetNonBlocking,
                             memConnect,    memPendingError, memWaitWritable, memWaitReadable,
                             memSend,       memRecv,        memShutdownSend, memCloseSocket,
                             memReadyNow,   memRecvWithin};

std::uint32_t clockFn() { return virtualNow(); }
void sleepFn(std::uint32_t ms) { advance(ms); }

}  // namespace

// ---- Device ------------------------------------------------------------------

void Device::answerNext(std::vector<Chunk> chunks) {
    Lock lock(registry().mutex);
    state_->answers.push_back(std::move(chunks));
}

void Device::echoEveryRequest(std::uint8_t status, Bytes data) {
    Lock lock(registry().mutex);
    if (data.size() > 250) data.resize(250);
    state_->echo = true;
    state_->echoStatus = status;
    state_->echoData = std::move(data);
}

void Device::arrive(std::vector<Chunk> chunks) {
    Lock lock(registry().mutex);
    release(*state_, std::move(chunks));
}

void Device::closeAfterAnswers() {
    Lock lock(registry().mutex);
    state_->closeAfter = true;
}

void Device::clear() {
    Lock lock(registry().mutex);
    // What the library set up on the device survives: its time-outs.
    const int opens = state_->opens;
    const SerialTimeouts timeouts = state_->timeouts;
    *state_ = State{};
    state_->opens = opens;
    state_->timeouts = timeouts;
}

void Device::failWrites(bool on) {
    Lock lock(registry().mutex);
    state_->failWrites = on;
}

void Device::blockWrites(bool on) {
    Lock lock(registry().mutex);
    state_->blockWrites = on;
}

void Device::refuseOpen(bool on) {
    Lock lock(registry().mutex);
    state_->refuseOpen = on;
}

Bytes Device::written() const {
    Lock lock(registry().mutex);
    return state_->written;
}

std::vector<Bytes> Device::writes() const {
    Lock lock(registry().mutex);
    return state_->writes;
}

int Device::keepAlives() const {
    Lock lock(registry().mutex);
    return state_->keepAlives;
}

std::size_t Device::unread() const {
    Lock lock(registry().mutex);
    std::size_t n = 0;
    for (const Arrival& a : state_->inbox) n += a.bytes.size() - a.offset;
    for (const auto& answer : state_->answers)
        for (const Chunk& c : answer) n += c.bytes.size();
    return n;
}

int Device::opens() const {
    Lock lock(registry().mutex);
    return state_->opens;
}

// ---- Installation --------------------------------------------------------------

void install() {
    setSerialOps(&memorySerialOps);
    setNetOps(&memoryNetOps);
    setClock(clockFn);
    setSleep(sleepFn);
}

void uninstall() {
    setSerialOps(nullptr);
    setNetOps(nullptr);
    setClock(nullptr);
    setSleep(nullptr);
    reset();
}

void reset() {
    Registry& r = registry();
    Lock lock(r.mutex);
    r.serial.clear();
    r.net.clear();
    r.handles.clear();
    socketStates().clear();
    r.misuses = 0;
}

Device serialDevice(int comNumber) {
    Registry& r = registry();
    Lock lock(r.mutex);
    return Device(stateOf(r.serial, comNumber));
}

Device netDevice(int tcpPort) {
    Registry& r = registry();
    Lock lock(r.mutex);
    return Device(stateOf(r.net, tcpPort));
}

std::uint32_t now() { return virtualNow(); }
void setNow(std::uint32_t ms) { clockMs.store(ms, std::memory_order_release); }

int misuses() {
    Lock lock(registry().mutex);
    return registry().misuses;
}

}  // namespace mv::plat::memdev

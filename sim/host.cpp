#include "sim/host.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "sim/bus.h"

namespace sim {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr auto kQuiet = std::chrono::milliseconds(40);         // silence that ends a lone 0xA5
constexpr auto kStaleInput = std::chrono::milliseconds(1000);  // an incomplete frame is dropped after this
constexpr int kIdlePollMs = 200;
constexpr int kPendingPollMs = 10;
constexpr int kWriteStallMs = 200;
constexpr int kHandOverMs =
    1;  // paced bytes go out in bursts at most this often  // a peer that does not read loses the rest of the answer
// Active-mode frames keep this distance from an answer, so that a host that
// waits for one answer frame does not get a tag frame glued to it.
constexpr auto kAnswerGap = std::chrono::milliseconds(50);

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

struct SpeedCode {
    speed_t code;
    std::uint32_t rate;
};
const SpeedCode kSpeeds[] = {{B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};

std::uint32_t rateOf(speed_t code) {
    for (const SpeedCode& s : kSpeeds)
        if (s.code == code) return s.rate;
    return 0;
}

speed_t codeOf(std::uint32_t rate) {
    for (const SpeedCode& s : kSpeeds)
        if (s.rate == rate) return s.code;
    return B57600;
}

bool isInventory(std::uint8_t command) {
    return command == 0x01 || command == 0x0F || command == 0x50 || command == 0x51;
}

// One round plus the time per tag singulated, bounded by the scan time (in
// 100 ms units) as a real reader's inventory is.
SteadyClock::duration inventoryAirTime(const Settings& s, unsigned tags) {
    const double ms = std::min(s.roundAirMs + s.tagAirMs * tags, 100.0 * s.scanTime);
    return std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double, std::milli>(ms));
}

void load(ReaderModel& model, const Scenario& scenario) {
    model.gen2Tags() = scenario.gen2;
    model.tags6B() = scenario.tags6B;
    model.setPopulation(scenario.population);
    for (const PathStop& stop : scenario.paths) model.addPathStop(stop);
}

}  // namespace

ReaderHost::ReaderHost(HostOptions options)
    : options_(std::move(options)), model_(options_.scenario.settings), faults_(options_.scenario.faults) {
    load(model_, options_.scenario);
    for (const Scenario& other : options_.busReaders) load(busModels_.emplace_back(other.settings), other);
    lineBitRate_ = bitRateOfCode(options_.scenario.settings.baudCode);
    ptyLinkState_.pty = true;
    try {
        if (pipe(wake_) != 0) fail("pipe");
        if (options_.tcp) openTcp();
        if (options_.pty) openPty();
    } catch (...) {
        stop();
        throw;
    }
    thread_ = std::thread(&ReaderHost::run, this);
}

ReaderHost::~ReaderHost() { stop(); }

void ReaderHost::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        const char byte = 1;
        (void)!write(wake_[1], &byte, 1);
        thread_.join();
    }
    closeConnection();
    closeFd(listener_);
    closeFd(ptyMaster_);
    closeFd(ptySlave_);
    closeFd(wake_[0]);
    closeFd(wake_[1]);
    if (!options_.ptyLink.empty() && !ptyPath_.empty()) {
        char target[256] = {};
        if (readlink(options_.ptyLink.c_str(), target, sizeof target - 1) > 0 && ptyPath_ == target)
            unlink(options_.ptyLink.c_str());
        ptyPath_.clear();
    }
}

void ReaderHost::setFaults(const FaultPlan& plan) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.reset(plan);
}

void ReaderHost::openTcp() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) fail("socket");
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.tcpPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail("TCP port " + std::to_string(options_.tcpPort));
    if (listen(listener_, 4) != 0) fail("listen");
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    tcpPort_ = ntohs(address.sin_port);
}

void ReaderHost::openPty() {
    ptyMaster_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (ptyMaster_ < 0 || grantpt(ptyMaster_) != 0 || unlockpt(ptyMaster_) != 0) fail("pseudo-terminal");
    char name[128];
    if (ptsname_r(ptyMaster_, name, sizeof name) != 0) fail("ptsname");
    ptyPath_ = name;
    ptySlave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (ptySlave_ < 0) fail(ptyPath_);
    termios tio{};
    tcgetattr(ptySlave_, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, codeOf(lineBitRate_));
    tcsetattr(ptySlave_, TCSANOW, &tio);
    setNonBlocking(ptyMaster_);
    if (!options_.ptyLink.empty()) {
        struct stat st {};
        if (lstat(options_.ptyLink.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                errno = EEXIST;
                fail(options_.ptyLink);
            }
            unlink(options_.ptyLink.c_str());
        }
        if (symlink(ptyPath_.c_str(), options_.ptyLink.c_str()) != 0) fail(options_.ptyLink);
    }
}

void ReaderHost::closeConnection() {
    closeFd(connection_);
    tcpLink_.assembler.clear();
}

bool ReaderHost::ptyInStep() const {
    termios tio{};
    if (tcgetattr(ptySlave_, &tio) != 0) return false;
    return rateOf(cfgetospeed(&tio)) == lineBitRate_;
}

bool ReaderHost::pause(unsigned ms) { return pauseUntil(SteadyClock::now() + std::chrono::milliseconds(ms)); }

bool ReaderHost::pauseUntil(SteadyClock::time_point until) {
    while (!stopping_) {
        const auto left = until - SteadyClock::now();
        if (left <= SteadyClock::duration::zero()) return true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd p{wake_[0], POLLIN, 0};
        ppoll(&p, 1, &wait, nullptr);
    }
    return false;
}

std::chrono::nanoseconds ReaderHost::byteTime() const {
    const std::uint32_t rate = lineBitRate_;
    if (!options_.pacing || rate == 0) return std::chrono::nanoseconds::zero();
    return std::chrono::nanoseconds(10 * 1000000000ull / rate);
}

bool ReaderHost::writePaced(int fd, const Bytes& bytes, std::chrono::nanoseconds perByte) {
    if (perByte == std::chrono::nanoseconds::zero()) return writeAll(fd, bytes);
    const auto start = SteadyClock::now();
    const auto last = start + perByte * static_cast<long>(bytes.size());
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        // Bytes are handed over at most once a millisecond, as a serial
        // adapter's receive buffer does, and the last one exactly on time.
        const auto next = std::max(start + perByte * static_cast<long>(sent + 1),
                                   SteadyClock::now() + std::chrono::milliseconds(kHandOverMs));
        if (!pauseUntil(std::min(next, last))) return false;
        const auto passed = std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now() - start);
        const std::size_t due = std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(passed / perByte));
        if (!writeAll(fd, Bytes(bytes.begin() + static_cast<long>(sent), bytes.begin() + static_cast<long>(due))))
            return false;
        sent = due;
    }
    return true;
}

bool ReaderHost::writeAll(int fd, const Bytes& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size() && !stopping_) {
        const ssize_t n = fd == connection_ ? send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL)
                                            : write(fd, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, kWriteStallMs) <= 0) return false;
    }
    return sent == bytes.size();
}

void ReaderHost::acceptConnection() {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    closeConnection();
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connection_ = fd;
    ++accepted_;
}

void ReaderHost::readFrom(Link& link) {
    std::uint8_t buffer[4096];
    const int fd = link.pty ? ptyMaster_ : connection_;
    const ssize_t n = link.pty ? read(fd, buffer, sizeof buffer) : recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
        if (!link.pty && (n == 0 || (errno != EAGAIN && errno != EINTR))) closeConnection();
        return;
    }
    if (link.pty && !ptyInStep()) return;  // bytes at the wrong line speed are noise
    link.assembler.feed(buffer, static_cast<std::size_t>(n));
    link.lastInput = SteadyClock::now();
}

void ReaderHost::serve(Link& link, const Request& request) {
    std::optional<Reply> reply;
    std::vector<Chunk> chunks;
    std::vector<SteadyClock::duration> airTimes;  // by frame: when it may leave, after the request
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Every reader on the pty hears the request; each that it addresses answers.
        std::vector<std::pair<Reply, const ReaderModel*>> answers;
        if (std::optional<Reply> r = model_.handle(request)) answers.emplace_back(std::move(*r), &model_);
        for (ReaderModel& other : busModels_) {
            if (!link.pty) break;
            if (std::optional<Reply> r = other.handle(request)) answers.emplace_back(std::move(*r), &other);
        }
        if (answers.empty()) return;
        reply = answers.front().first;
        // A broadcast on a bus: the answers go out together and collide on the wire.
        const bool collided = answers.size() > 1;
        if (collided) {
            std::vector<Bytes> wires;
            for (const auto& answer : answers) wires.push_back(answer.first.wire);
            reply->wire = collide(wires);
        }
        // Frame by frame, as a reader that is still finding tags sends them:
        // each frame once the air time of the tags it carries has passed.
        // A burst sends the whole answer once the last frame is ready; what
        // a collision leaves has no frames to go by.
        std::vector<std::size_t> frameEnds;
        if (!options_.burst && !collided) {
            std::size_t end = 0;
            for (const Bytes& frame : splitFrames(reply->wire)) frameEnds.push_back(end += frame.size());
            if (!frameEnds.empty()) frameEnds.pop_back();  // the last frame ends with the answer
        }
        chunks = faults_.shape(reply->wire, frameEnds);
        const bool timed = options_.pacing && isInventory(request.command);
        for (std::size_t frame = 0; frame <= frameEnds.size(); ++frame) {
            // Colliding answers start once the slowest reader sends.
            SteadyClock::duration air{};
            for (const auto& [r, model] : answers) {
                const bool byFrame = !options_.burst && frame < r.tagsByFrame.size();
                const unsigned tags = byFrame ? r.tagsByFrame[frame] : r.singulated;
                if (timed) air = std::max(air, inventoryAirTime(model->settings(), tags));
            }
            airTimes.push_back(air);
        }
    }
    const auto perByte = link.pty ? byteTime() : std::chrono::nanoseconds::zero();
    // On the line the request took its wire time to arrive, counted from the
    // read that brought its bytes in; then the inventory's air time passes.
    const std::size_t requestBytes = request.rawSelfTest ? 1 : request.data.size() + 5;
    auto begin = link.lastInput + perByte * static_cast<long>(requestBytes) + std::chrono::milliseconds(reply->delayMs);
    if (!pauseUntil(begin + airTimes.front())) return;
    // The answer goes out at the current speed. The reader switches right
    // after it, as the host does once it has read the answer; the new speed
    // is already in force when the host can see the answer.
    if (link.pty && !ptyInStep()) return;
    if (link.pty && reply->newBitRate) lineBitRate_ = *reply->newBitRate;
    for (const Chunk& chunk : chunks) {
        if (!pauseUntil(begin + airTimes[chunk.frame]) || !pause(chunk.pauseMs)) return;
        begin += std::chrono::milliseconds(chunk.pauseMs);  // a fault's pause holds back the rest too
        // Each chunk is a write of its own: over TCP a long answer then
        // arrives frame by frame, as real networks deliver it.
        const int fd = link.pty ? ptyMaster_ : connection_;
        if (fd < 0 || !writePaced(fd, chunk.bytes, perByte)) break;
    }
    nextActive_ = std::max(nextActive_, SteadyClock::now() + kAnswerGap);
    if (!link.pty) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (faults_.closeNow()) closeConnection();
    }
}

void ReaderHost::sendActiveRound() {
    Bytes wire;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!model_.activeMode()) return;
        wire = model_.activeRound();
        nextActive_ = SteadyClock::now() + model_.activeInterval();
    }
    if (wire.empty()) return;
    if (connection_ >= 0) writeAll(connection_, wire);
    if (ptyMaster_ >= 0 && ptyInStep()) writePaced(ptyMaster_, wire, byteTime());
}

void ReaderHost::run() {
    // Paced bytes are a few hundred microseconds apart: wake on time.
    if (options_.pacing) prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    bool wasActive = false;
    while (!stopping_) {
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}};
        if (listener_ >= 0) fds.push_back({listener_, POLLIN, 0});
        if (connection_ >= 0) fds.push_back({connection_, POLLIN, 0});
        if (ptyMaster_ >= 0) fds.push_back({ptyMaster_, POLLIN, 0});
        const bool pending = tcpLink_.assembler.pending() || ptyLinkState_.assembler.pending();
        bool active = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            active = model_.activeMode();
            if (active && !wasActive) nextActive_ = SteadyClock::now() + model_.activeInterval();
            wasActive = active;
        }
        int timeout = pending ? kPendingPollMs : kIdlePollMs;
        if (active) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextActive_ - SteadyClock::now());
            timeout = std::max(0, std::min<int>(timeout, static_cast<int>(wait.count())));
        }
        poll(fds.data(), fds.size(), timeout);
        if (stopping_) break;
        for (const pollfd& p : fds) {
            if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            if (p.fd == listener_) acceptConnection();
            else if (p.fd == connection_) readFrom(tcpLink_);
            else if (p.fd == ptyMaster_) readFrom(ptyLinkState_);
        }
        const auto now = SteadyClock::now();
        for (Link* link : {&tcpLink_, &ptyLinkState_}) {
            const bool quiet = now - link->lastInput >= kQuiet;
            while (auto request = link->assembler.next(quiet)) serve(*link, *request);
            if (link->assembler.pending() && now - link->lastInput >= kStaleInput) link->assembler.clear();
        }
        if (active && SteadyClock::now() >= nextActive_) sendActiveRound();
    }
}

}  // namespace sim

// TCP client on POSIX sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/platform.h"

namespace mv::plat {
namespace {

// A connected socket is switched to blocking, with a receive time-out, the
// first time a receive waits on it: one recv then both waits for the answer
// and takes it. Every other call passes MSG_DONTWAIT and never blocks. The
// time-out last set on each descriptor is remembered, so that the usual
// exchange, which waits as long as the one before, sets nothing.
constexpr int kRememberedSockets = 4096;
constexpr std::uint32_t kStillNonBlocking = 0;
std::atomic<std::uint32_t> receiveTimeout[kRememberedSockets];

void forgetTimeout(int fd) {
    if (fd >= 0 && fd < kRememberedSockets) receiveTimeout[fd].store(kStillNonBlocking, std::memory_order_relaxed);
}

// Makes fd block in recv for at most `ms` (> 0). False when it cannot.
bool receiveBlocksFor(int fd, std::uint32_t ms) {
    const bool remembered = fd < kRememberedSockets;
    const std::uint32_t now = remembered ? receiveTimeout[fd].load(std::memory_order_relaxed) : kStillNonBlocking;
    if (now == ms) return true;
    if (now == kStillNonBlocking) {
        const int flags = fcntl(fd, F_GETFL, 0);
        if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
    }
    const timeval limit{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000) * 1000};
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return false;
    if (remembered) receiveTimeout[fd].store(ms, std::memory_order_relaxed);
    return true;
}

void posixStartup() {}
void posixCleanup() {}

Socket posixCreate() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    forgetTimeout(fd);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool posixSetNonBlocking(Socket s, bool on) {
    forgetTimeout(static_cast<int>(s));
    const int flags = fcntl(static_cast<int>(s), F_GETFL, 0);
    if (flags < 0) return false;
    return fcntl(static_cast<int>(s), F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

bool posixConnect(Socket s, const char* ipv4, std::uint16_t port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    if (ipv4 == nullptr || inet_pton(AF_INET, ipv4, &peer.sin_addr) != 1) return false;
    if (::connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) return true;
    return errno == EINPROGRESS || errno == EINTR;
}

bool posixPendingError(Socket s, int* error) {
    socklen_t len = sizeof *error;
    return getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, error, &len) == 0;
}

Wait waitFor(Socket s, short events, std::uint32_t ms) {
    if (s < 0) return Wait::Failed;
    pollfd p{static_cast<int>(s), events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, static_cast<int>(ms));
        if (r > 0) return (p.revents & POLLNVAL) ? Wait::Failed : Wait::Ready;
        if (r == 0) return Wait::TimedOut;
        if (errno != EINTR) return Wait::Failed;
    }
}

Wait posixWaitWritable(Socket s, std::uint32_t ms) { return waitFor(s, POLLOUT, ms); }
Wait posixWaitReadable(Socket s, std::uint32_t ms) { return waitFor(s, POLLIN, ms); }

long posixSend(Socket s, const std::uint8_t* data, std::size_t length) {
    return static_cast<long>(::send(static_cast<int>(s), data, length, MSG_NOSIGNAL | MSG_DONTWAIT));
}

long posixRecv(Socket s, std::uint8_t* data, std::size_t length) {
    return static_cast<long>(::recv(static_cast<int>(s), data, length, MSG_DONTWAIT));
}

Readiness posixReadyNow(Socket s) {
    if (s < 0) return {false, false, true};
    pollfd p{static_cast<int>(s), POLLIN | POLLOUT, 0};
    int r;
    while ((r = ::poll(&p, 1, 0)) < 0 && errno == EINTR) {}
    if (r < 0 || (p.revents & POLLNVAL)) return {false, false, true};
    const bool broken = (p.revents & (POLLERR | POLLHUP)) != 0;
    return {broken || (p.revents & POLLIN) != 0, broken || (p.revents & POLLOUT) != 0, false};
}

Wait posixRecvWithin(Socket s, std::uint8_t* data, std::size_t length, std::uint32_t ms, long* got) {
    *got = -1;
    if (s < 0) return Wait::Failed;
    const int fd = static_cast<int>(s);
    if (ms == 0 || !receiveBlocksFor(fd, ms)) {
        // No wait, or no blocking receive to be had: look, then take.
        const Wait ready = waitFor(s, POLLIN, ms);
        if (ready == Wait::Ready) *got = static_cast<long>(::recv(fd, data, length, MSG_DONTWAIT));
        return ready;
    }
    const ssize_t n = ::recv(fd, data, length, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return Wait::TimedOut;
    if (n < 0 && errno == EBADF) return Wait::Failed;
    *got = static_cast<long>(n);
    return Wait::Ready;
}

void posixShutdownSend(Socket s) { ::shutdown(static_cast<int>(s), SHUT_WR); }
void posixClose(Socket s) {
    forgetTimeout(static_cast<int>(s));
    ::close(static_cast<int>(s));
}

const NetOps posixNetOps = {posixStartup,      posixCleanup,      posixCreate,       posixSetNonBlocking, posixConnect,
                            posixPendingError, posixWaitWritable, posixWaitReadable, posixSend,           posixRecv,
                            posixShutdownSend, posixClose,        posixReadyNow,     posixRecvWithin};

}  // namespace

const NetOps& systemNetOps() { return posixNetOps; }

}  // namespace mv::plat

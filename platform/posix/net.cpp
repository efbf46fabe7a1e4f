// TCP client on POSIX sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace mv::plat {
namespace {

void posixStartup() {}
void posixCleanup() {}

Socket posixCreate() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool posixSetNonBlocking(Socket s, bool on) {
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
    return static_cast<long>(::send(static_cast<int>(s), data, length, MSG_NOSIGNAL));
}

long posixRecv(Socket s, std::uint8_t* data, std::size_t length) {
    return static_cast<long>(::recv(static_cast<int>(s), data, length, 0));
}

void posixShutdownSend(Socket s) { ::shutdown(static_cast<int>(s), SHUT_WR); }
void posixClose(Socket s) { ::close(static_cast<int>(s)); }

const NetOps posixNetOps = {posixStartup,      posixCleanup,      posixCreate, posixSetNonBlocking,
                            posixConnect,      posixPendingError, posixWaitWritable,
                            posixWaitReadable, posixSend,         posixRecv,   posixShutdownSend,
                            posixClose};

}  // namespace

const NetOps& systemNetOps() { return posixNetOps; }

}  // namespace mv::plat

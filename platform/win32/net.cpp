// TCP client on Windows Sockets 2.0.
#include <winsock2.h>

#include "platform/platform.h"

namespace mv::plat {
namespace {

SOCKET socketOf(Socket s) { return static_cast<SOCKET>(s); }

void win32Startup() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 0), &data);
}

void win32Cleanup() { WSACleanup(); }

Socket win32Create() {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s);
}

bool win32SetNonBlocking(Socket s, bool on) {
    u_long argument = on ? 1 : 0;
    return ioctlsocket(socketOf(s), FIONBIO, &argument) == 0;
}

bool win32Connect(Socket s, const char* ipv4, std::uint16_t port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = ipv4 ? inet_addr(ipv4) : INADDR_NONE;
    if (::connect(socketOf(s), reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) return true;
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

bool win32PendingError(Socket s, int* error) {
    int length = sizeof *error;
    return getsockopt(socketOf(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(error), &length) == 0;
}

Wait waitFor(Socket s, bool writable, std::uint32_t ms) {
    if (s == kNoSocket) return Wait::Failed;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socketOf(s), &set);
    timeval limit{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000L};
    const int r = ::select(0, writable ? nullptr : &set, writable ? &set : nullptr, nullptr, &limit);
    if (r > 0) return Wait::Ready;
    return r == 0 ? Wait::TimedOut : Wait::Failed;
}

Wait win32WaitWritable(Socket s, std::uint32_t ms) { return waitFor(s, true, ms); }
Wait win32WaitReadable(Socket s, std::uint32_t ms) { return waitFor(s, false, ms); }

long win32Send(Socket s, const std::uint8_t* data, std::size_t length) {
    return ::send(socketOf(s), reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
}

long win32Recv(Socket s, std::uint8_t* data, std::size_t length) {
    return ::recv(socketOf(s), reinterpret_cast<char*>(data), static_cast<int>(length), 0);
}

Readiness win32ReadyNow(Socket s) {
    if (s == kNoSocket) return {false, false, true};
    fd_set readable, writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_SET(socketOf(s), &readable);
    FD_SET(socketOf(s), &writable);
    timeval none{0, 0};
    if (::select(0, &readable, &writable, nullptr, &none) < 0) return {false, false, true};
    return {FD_ISSET(socketOf(s), &readable) != 0, FD_ISSET(socketOf(s), &writable) != 0, false};
}

Wait win32RecvWithin(Socket s, std::uint8_t* data, std::size_t length, std::uint32_t ms, long* got) {
    *got = -1;
    const Wait ready = waitFor(s, false, ms);
    if (ready == Wait::Ready) *got = win32Recv(s, data, length);
    return ready;
}

void win32ShutdownSend(Socket s) { ::shutdown(socketOf(s), SD_SEND); }
void win32Close(Socket s) { ::closesocket(socketOf(s)); }

const NetOps win32NetOps = {win32Startup,      win32Cleanup,      win32Create,       win32SetNonBlocking, win32Connect,
                            win32PendingError, win32WaitWritable, win32WaitReadable, win32Send,           win32Recv,
                            win32ShutdownSend, win32Close,        win32ReadyNow,     win32RecvWithin};

}  // namespace

const NetOps& systemNetOps() { return win32NetOps; }

}  // namespace mv::plat

// Host names to IPv4 addresses, through the system's resolver. POSIX and
// Windows Sockets share getaddrinfo; Windows wants its socket library
// started around the call.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>

#include "platform/platform.h"

namespace mv::plat {
namespace {

Lookup lookUp(const char* host, std::uint8_t address[4]) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int r = getaddrinfo(host, nullptr, &hints, &found);
    if (r != 0) {
        // A resolver that answered "no" is told apart from one that could
        // not answer: only the second may do better on the next try.
        bool unanswered = r == EAI_AGAIN || r == EAI_FAIL || r == EAI_MEMORY;
#ifdef EAI_SYSTEM
        unanswered = unanswered || r == EAI_SYSTEM;
#endif
        return unanswered ? Lookup::Failed : Lookup::Unknown;
    }
    // The hints ask for IPv4 alone: the first entry is the address.
    const bool usable = found && found->ai_family == AF_INET && found->ai_addrlen >= sizeof(sockaddr_in);
    if (usable) std::memcpy(address, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, 4);
    freeaddrinfo(found);
    return usable ? Lookup::Found : Lookup::Unknown;
}

}  // namespace

Lookup resolveIPv4(const char* host, std::uint8_t address[4]) {
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return Lookup::Failed;
    const Lookup result = lookUp(host, address);
    WSACleanup();
    return result;
#else
    return lookUp(host, address);
#endif
}

}  // namespace mv::plat

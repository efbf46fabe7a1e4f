// Test helper for the Java bridge tests: gives the fake reader (a TCP server
// in the JVM) a serial face. It opens a pseudo-terminal, links its slave
// device at SYMLINK (the path the library opens as a COM port), connects to
// 127.0.0.1:PORT and copies bytes both ways until either side closes or
// the time limit passes.
//
//   pty_relay SYMLINK PORT [SECONDS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

int connect_loopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
    return fd;
}

// Copies one chunk; false when the source closed or failed.
bool copy_chunk(int from, int to) {
    unsigned char buffer[4096];
    ssize_t n = read(from, buffer, sizeof buffer);
    if (n <= 0) return false;
    for (ssize_t done = 0; done < n;) {
        ssize_t w = write(to, buffer + done, static_cast<size_t>(n - done));
        if (w <= 0) return false;
        done += w;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SYMLINK PORT [SECONDS]\n", argv[0]);
        return 2;
    }
    const char* link_path = argv[1];
    int seconds = argc > 3 ? std::atoi(argv[3]) : 120;

    int master = -1;
    int slave = -1;
    char slave_name[256];
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, slave_name, &raw, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    int peer = connect_loopback(std::atoi(argv[2]));
    if (peer < 0) {
        std::perror("connect");
        return 1;
    }
    unlink(link_path);
    if (symlink(slave_name, link_path) != 0) {
        std::perror("symlink");
        return 1;
    }

    // The slave stays open here too, so the master never sees a hang-up
    // while the library closes and reopens the port.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    pollfd fds[2] = {{master, POLLIN, 0}, {peer, POLLIN, 0}};
    while (std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 2, 200) < 0) break;
        if ((fds[0].revents & POLLIN) && !copy_chunk(master, peer)) break;
        if ((fds[1].revents & (POLLIN | POLLHUP)) && !copy_chunk(peer, master)) break;
    }
    unlink(link_path);
    close(peer);
    close(slave);
    close(master);
    return 0;
}

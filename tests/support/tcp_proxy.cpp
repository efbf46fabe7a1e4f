#include "support/tcp_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "support/fake_reader.h"

namespace mvtest {

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

}  // namespace

TcpProxy::TcpProxy(int targetPort) : target_(targetPort) {
    listener_ = listenLoopback(0, &port_);
    // Not handed to the gateway's processes, so a cut proxy stops accepting.
    if (listener_ < 0 || fcntl(listener_, F_SETFD, FD_CLOEXEC) != 0 || pipe(wake_) != 0) {
        if (listener_ >= 0) close(listener_);
        throw std::runtime_error("tcp proxy: cannot listen on loopback");
    }
    thread_ = std::thread([this] { run(); });
}

TcpProxy::~TcpProxy() {
    stop_ = true;
    wake();
    thread_.join();
    for (const auto& [client, server] : pairs_) close(client), close(server);
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
}

void TcpProxy::wake() { (void)!write(wake_[1], "x", 1); }

void TcpProxy::hold(bool on) {
    held_ = on;
    wake();
}

// Returns once the relay thread has closed every connection (at most 5 s).
void TcpProxy::cut() {
    const int asked = ++cutsAsked_;
    wake();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (cutsDone_ < asked && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TcpProxy::run() {
    char buffer[16384];
    while (!stop_) {
        if (cutsDone_ != cutsAsked_) {
            for (const auto& [client, server] : pairs_) close(client), close(server);
            pairs_.clear();
            cutsDone_ = cutsAsked_.load();
        }
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        if (!held_)
            for (const auto& [client, server] : pairs_) {
                fds.push_back({client, POLLIN, 0});
                fds.push_back({server, POLLIN, 0});
            }
        if (poll(fds.data(), fds.size(), 100) <= 0) continue;
        if (fds[0].revents) (void)!read(wake_[0], buffer, sizeof buffer);
        if (fds[1].revents & POLLIN) {
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in to = loopback(target_);
            if (client >= 0 && server >= 0 && connect(server, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
                pairs_.emplace_back(client, server);
            } else {
                if (client >= 0) close(client);
                if (server >= 0) close(server);
            }
            continue;  // the pairs changed under the polled list
        }
        // Each readable end's bytes to the other end; a closed end closes both.
        std::vector<std::pair<int, int>> kept;
        for (std::size_t i = 0; i < pairs_.size(); ++i) {
            bool open = true;
            for (int side = 0; side < 2 && open && 2 + 2 * i + side < fds.size(); ++side) {
                if (!fds[2 + 2 * i + side].revents) continue;
                const auto [from, to] = side ? std::pair(pairs_[i].second, pairs_[i].first) : pairs_[i];
                const ssize_t n = recv(from, buffer, sizeof buffer, 0);
                open = n > 0 && send(to, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) == n;
            }
            if (open) kept.push_back(pairs_[i]);
            else close(pairs_[i].first), close(pairs_[i].second);
        }
        pairs_ = std::move(kept);
    }
}

}  // namespace mvtest

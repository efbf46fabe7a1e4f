// A TCP relay on a free loopback port to another loopback port, for tests
// that break a connection at a moment of their choosing: hold() stops
// carrying bytes either way (what is sent waits, unacknowledged), cut()
// closes every connection it carries. Later connections are carried again.
#pragma once

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

namespace mvtest {

class TcpProxy {
public:
    explicit TcpProxy(int targetPort);  // throws std::runtime_error when it cannot listen
    ~TcpProxy();
    TcpProxy(const TcpProxy&) = delete;
    TcpProxy& operator=(const TcpProxy&) = delete;

    int port() const { return port_; }
    void hold(bool on);
    void cut();

private:
    void run();
    void wake();

    int target_, port_ = 0, listener_ = -1, wake_[2] = {-1, -1};
    std::atomic<bool> held_{false}, stop_{false};
    std::atomic<int> cutsAsked_{0}, cutsDone_{0};
    std::vector<std::pair<int, int>> pairs_;  // client, target; the relay thread's alone
    std::thread thread_;
};

}  // namespace mvtest

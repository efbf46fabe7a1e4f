// Runs one simulated reader on its links: a loopback TCP listener (one
// connection at a time; a new one replaces the old) and/or a pseudo-terminal
// whose slave side the host library opens as a serial port. A thread per
// reader answers requests, applies the faults and sends active-mode frames.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/scenario.h"

namespace sim {

struct HostOptions {
    Scenario scenario = defaultScenario();
    bool tcp = true;
    std::uint16_t tcpPort = 0;  // 0: any free port
    bool pty = false;
    std::string ptyLink;  // optional symlink to the slave device
    // Real time: the pty carries bytes at the line speed (10 bit times per
    // byte, both ways) and an inventory takes its air time. Off, answers go
    // out at once, for tests that only look at content.
    bool pacing = false;
    // More readers on the pty, as on an RS-485 bus: every reader hears every
    // request and the one it addresses answers. A broadcast (0xFF) is acted
    // on and answered by all: the answers collide on the wire (sim/bus.h)
    // and the host gets the garbled bytes. Only the first sends active-mode
    // rounds.
    std::vector<Scenario> busReaders;
    // A multi-frame answer in one write, once its last frame is ready,
    // instead of frame by frame.
    bool burst = false;
};

class ReaderHost {
public:
    explicit ReaderHost(HostOptions options);  // throws std::runtime_error when a link cannot be set up
    ~ReaderHost();
    ReaderHost(const ReaderHost&) = delete;
    ReaderHost& operator=(const ReaderHost&) = delete;

    std::uint16_t tcpPort() const { return tcpPort_; }
    const std::string& ptyPath() const { return ptyPath_; }
    const std::string& ptyLink() const { return options_.ptyLink; }
    // The serial line speed the reader uses now; a host at another speed
    // gets garbage, which the reader ignores.
    std::uint32_t lineBitRate() const { return lineBitRate_; }
    unsigned connectionsAccepted() const { return accepted_; }

    // Runs `f` with the reader model, between two requests.
    template <typename F>
    auto withModel(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(model_);
    }
    void setFaults(const FaultPlan& plan);

    void stop();

private:
    struct Link {
        bool pty = false;
        FrameAssembler assembler;
        std::chrono::steady_clock::time_point lastInput;
    };
    void openTcp();
    void openPty();
    void run();
    void acceptConnection();
    void readFrom(Link& link);
    void serve(Link& link, const Request& request);
    void sendActiveRound();
    bool pause(unsigned ms);  // false when the host is stopping
    bool pauseUntil(std::chrono::steady_clock::time_point until);
    bool writeAll(int fd, const Bytes& bytes);
    // Writes at the line speed: each byte once its 10 bits would have passed.
    bool writePaced(int fd, const Bytes& bytes, std::chrono::nanoseconds byteTime);
    std::chrono::nanoseconds byteTime() const;  // zero when not paced
    bool ptyInStep() const;
    void closeConnection();

    HostOptions options_;
    std::mutex mutex_;
    ReaderModel model_;
    std::deque<ReaderModel> busModels_;  // the other readers on the pty
    FaultInjector faults_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint32_t> lineBitRate_{0};
    std::atomic<unsigned> accepted_{0};
    int wake_[2] = {-1, -1};
    int listener_ = -1;
    int connection_ = -1;
    int ptyMaster_ = -1;
    int ptySlave_ = -1;  // kept open so the line settings persist between host opens
    std::uint16_t tcpPort_ = 0;
    std::string ptyPath_;
    Link tcpLink_;
    Link ptyLinkState_;
    std::chrono::steady_clock::time_point nextActive_;
};

}  // namespace sim

// The cost of one command on each kind of link, set beside what the same
// exchange costs without the library: a raw socket or pty exchange with the
// same responder, the wire time of the bytes at the line speed, the air time
// of an inventory, and from Java through the bridge.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/allocations.h"
#include "bench/bench_table.h"
#include "link/crc.h"
#include "morvent.h"
#include "sim/host.h"

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
using benchtable::AllocationCount;

benchtable::Options options;

Bytes frame(Bytes body) {
    body.insert(body.begin(), static_cast<std::uint8_t>(body.size() + 2));
    body.resize(body.size() + 2);
    mv::appendCrc(body.data(), body.size() - 2);
    return body;
}

const Bytes kInfoRequest = frame({0x00, 0x21});
// Address 0, GetReaderInformation, status 0, 12 information bytes: 18 bytes.
const Bytes kInfoAnswer = frame({0x00, 0x21, 0x00, 0x02, 0x05, 0x4D, 0x00, 0x31, 0x80, 0x1E, 0x0A, 0x00, 0x00,
                                 0x00, 0x00});

void writeAllTo(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::write(fd, data + sent, size - sent);
        if (n > 0) sent += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) return;
        else {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

// Reads exactly `size` bytes within a second; false when they did not come.
bool readExactly(int fd, std::uint8_t* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) return false;
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n > 0) got += static_cast<std::size_t>(n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR)) return false;
    }
    return true;
}

// Answers every request frame at once with the reader information, on a
// loopback TCP listener (one connection at a time) and on a pty.
class Responder {
public:
    Responder() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 4) != 0)
            throw std::runtime_error("responder: cannot listen");
        socklen_t length = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("responder: no pseudo-terminal");
        slavePath_ = ptsname(master_);
        // Keep one slave descriptor open, raw, so the line settings persist.
        slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        if (pipe(wake_) != 0) throw std::runtime_error("responder: no pipe");
        thread_ = std::thread([this] { serve(); });
    }
    ~Responder() {
        (void)!::write(wake_[1], "x", 1);
        thread_.join();
        for (int fd : {listener_, connection_, master_, slave_, wake_[0], wake_[1]})
            if (fd >= 0) close(fd);
    }
    int port() const { return port_; }
    const std::string& slavePath() const { return slavePath_; }

private:
    struct Input {
        Bytes bytes;
        void feed(int fd, const std::uint8_t* data, std::size_t n) {
            bytes.insert(bytes.end(), data, data + n);
            while (!bytes.empty() && bytes.size() >= bytes[0] + 1u) {
                const std::size_t size = bytes[0] + 1u;
                if (size >= 5) writeAllTo(fd, kInfoAnswer.data(), kInfoAnswer.size());  // 00 00: keep-alive
                bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(size));
            }
        }
    };

    void serve() {
        Input tcp, pty;
        std::uint8_t buffer[512];
        for (;;) {
            pollfd fds[4] = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}, {master_, POLLIN, 0},
                             {connection_, POLLIN, 0}};
            poll(fds, connection_ >= 0 ? 4 : 3, 1000);
            if (fds[0].revents) return;
            if (fds[1].revents & POLLIN) {
                const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    if (connection_ >= 0) close(connection_);
                    const int on = 1;
                    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                    connection_ = fd;
                    tcp.bytes.clear();
                }
            }
            if (fds[2].revents & POLLIN) {
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n > 0) pty.feed(master_, buffer, static_cast<std::size_t>(n));
            }
            if (connection_ >= 0 && (fds[3].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = ::recv(connection_, buffer, sizeof buffer, 0);
                if (n > 0) tcp.feed(connection_, buffer, static_cast<std::size_t>(n));
                else {
                    close(connection_);
                    connection_ = -1;
                }
            }
        }
    }

    int listener_ = -1, connection_ = -1, master_ = -1, slave_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::string slavePath_;
    std::thread thread_;
};

Responder& responder() {
    static Responder r;
    return r;
}

int openNet(int tcpPort) {
    unsigned char address = 0xFF;
    int handle = -1;
    if (OpenNetPort(tcpPort, "127.0.0.1", &address, &handle) != MORVENT_OK) return -1;
    return handle;
}

int openSerial(int com, const std::string& path, unsigned char baudCode) {
    setenv(("MORVENT_COM" + std::to_string(com)).c_str(), path.c_str(), 1);
    unsigned char address = 0xFF;
    int handle = -1;
    if (OpenComPort(com, &address, baudCode, &handle) != MORVENT_OK) return -1;
    return handle;
}

bool readerInformation(int port) {
    unsigned char address = 0xFF, pair[2], b[9];
    return GetReaderInformation(&address, pair, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &b[8],
                                port) == MORVENT_OK;
}

// GetReaderInformation in a loop, counting the allocations made by the calls.
void transactions(benchmark::State& state, int port) {
    if (port < 0) {
        state.SkipWithError("the link did not open");
        return;
    }
    long made = 0;
    for (auto _ : state) {
        AllocationCount count;
        if (!readerInformation(port)) {
            state.SkipWithError("GetReaderInformation failed");
            break;
        }
        made += count.sinceStart();
    }
    state.counters["allocations"] = static_cast<double>(made) / static_cast<double>(state.iterations());
}

void rawExchanges(benchmark::State& state, int fd) {
    std::uint8_t answer[32];
    for (auto _ : state) {
        writeAllTo(fd, kInfoRequest.data(), kInfoRequest.size());
        if (!readExactly(fd, answer, kInfoAnswer.size())) {
            state.SkipWithError("no answer");
            break;
        }
    }
}

void tcpTransaction(benchmark::State& state) {
    const int port = openNet(responder().port());
    transactions(state, port);
    CloseNetPort(port);
}

void tcpRaw(benchmark::State& state) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(responder().port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) state.SkipWithError("cannot connect");
    else rawExchanges(state, fd);
    close(fd);
}

constexpr int kResponderCom = 7;

void ptyTransaction(benchmark::State& state) {
    const int port = openSerial(kResponderCom, responder().slavePath(), 5);
    transactions(state, port);
    CloseSpecComPort(kResponderCom);
}

void ptyRaw(benchmark::State& state) {
    const int fd = open(responder().slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    tcflush(fd, TCIOFLUSH);
    rawExchanges(state, fd);
    close(fd);
}

// ---- The paced simulated reader ----

double wireUs(std::size_t bytes, std::uint32_t bitRate) {
    return static_cast<double>(bytes) * 10.0 * 1e6 / bitRate;
}

sim::Scenario scenarioAt(unsigned char baudCode) {
    sim::Scenario s = sim::defaultScenario();
    s.settings.baudCode = baudCode;
    return s;
}

void simTransaction(benchmark::State& state, unsigned char baudCode, int com) {
    sim::HostOptions o;
    o.scenario = scenarioAt(baudCode);
    o.tcp = false;
    o.pty = true;
    o.pacing = true;
    sim::ReaderHost host(o);
    const int port = openSerial(com, host.ptyPath(), baudCode);
    transactions(state, port);
    CloseSpecComPort(com);
}

// The wire time of the same exchange: a 5-byte request, an 18-byte answer.
void wireTime(benchmark::State& state, std::uint32_t bitRate) {
    for (auto _ : state) benchmark::DoNotOptimize(bitRate);
    state.counters["us"] = wireUs(kInfoRequest.size() + kInfoAnswer.size(), bitRate);
}

constexpr unsigned kInventoryTags = 50;

sim::Scenario fiftyTags() {
    sim::Scenario s = sim::defaultScenario();
    s.gen2.clear();
    for (unsigned i = 0; i < kInventoryTags; ++i) {
        Bytes epc{0x30, 0x00, 0xBE, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                  static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        s.gen2.emplace_back(epc, Bytes{0xE2, 0x80, 0x11, 0x00}, Bytes(8, 0));
    }
    return s;
}

void inventoryTransaction(benchmark::State& state) {
    sim::HostOptions o;
    o.scenario = fiftyTags();
    o.pacing = true;
    sim::ReaderHost host(o);
    const int port = openNet(host.tcpPort());
    if (port < 0) {
        state.SkipWithError("the simulator did not open");
        return;
    }
    static unsigned char tagData[5000];
    unsigned char address = 0xFF, frameInfo = 0, maskAddress[2] = {0, 0}, mask[32] = {};
    long made = 0;
    for (auto _ : state) {
        int total = 0, tags = 0;  // tags: those of the last frame
        AllocationCount count;
        Inventory_G2(&address, 1, maskAddress, 0, mask, 0, 0, 0, 0, tagData, &frameInfo, &total, &tags, port);
        made += count.sinceStart();
        // Each record: the EPC length byte and 12 EPC bytes.
        if (total != static_cast<int>(kInventoryTags * 13)) {
            state.SkipWithError(("inventory gathered " + std::to_string(total) + " record bytes").c_str());
            break;
        }
    }
    state.counters["allocations"] = static_cast<double>(made) / static_cast<double>(state.iterations());
    CloseNetPort(port);
}

// The simulator's own air time for the same inventory.
void inventoryAirTime(benchmark::State& state) {
    const sim::Settings s = fiftyTags().settings;
    for (auto _ : state) benchmark::DoNotOptimize(s);
    state.counters["us"] = (s.roundAirMs + s.tagAirMs * kInventoryTags) * 1000.0;
}

// ---- The bridge: the same call from Java, and from C, each in a process of
// its own (a responder in the caller's own process would spare the direct
// call the switches between processes that the Java program pays) ----

// Runs a program that prints "us_per_call=X" and returns X; an empty
// `failure` when it did.
double timedProgram(std::vector<std::string> args, std::string& failure) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) {
        failure = "no pipe";
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char chunk[256];
    ssize_t n;
    while ((n = ::read(out[0], chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 1;
    if (spawned == 0) waitpid(pid, &status, 0);
    const std::size_t at = text.find("us_per_call=");
    if (spawned != 0 || status != 0 || at == std::string::npos) {
        failure = args[0] + " failed: " + text;
        return -1;
    }
    failure.clear();
    return std::strtod(text.c_str() + at + 12, nullptr);
}

std::string bridgeCalls() { return options.smoke ? "200" : "20000"; }

void timedCalls(benchmark::State& state, std::vector<std::string> args) {
    double us = -1;
    for (auto _ : state) {
        std::string failure;
        us = timedProgram(args, failure);
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            return;
        }
    }
    state.counters["us"] = us;
}

// The Java program's counterpart: this program run again as
//   bench_link --bridge-reference PORT CALLS
void bridgeC(benchmark::State& state) {
    timedCalls(state, {"/proc/self/exe", "--bridge-reference", std::to_string(responder().port()), bridgeCalls()});
}

void bridgeJava(benchmark::State& state) {
#ifdef MORVENT_BENCH_JAVA
    timedCalls(state, {MORVENT_BENCH_JAVA, "-XX:+UseSerialGC", "-Djava.library.path=" MORVENT_BENCH_JAVA_LIBRARY_PATH,
                       "-cp", MORVENT_BENCH_JAVA_CLASS_PATH, "BridgeBench", std::to_string(responder().port()),
                       bridgeCalls()});
#else
    state.SkipWithError("built without the Java bridge");
#endif
}

// What BridgeBench.java does, through the C exports: open, warm up, time
// CALLS calls, print the mean.
int bridgeReference(int tcpPort, int calls) {
    const int port = openNet(tcpPort);
    if (port < 0) {
        std::printf("cannot open 127.0.0.1:%d\n", tcpPort);
        return 1;
    }
    for (int i = 0; i < std::max(calls / 4, 100); ++i)
        if (!readerInformation(port)) return 1;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i)
        if (!readerInformation(port)) return 1;
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    std::printf("us_per_call=%.3f\n", spent.count() / calls);
    CloseNetPort(port);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--bridge-reference") == 0)
        return bridgeReference(std::atoi(argv[2]), std::atoi(argv[3]));
    options = benchtable::start(argc, argv);
    using benchmark::RegisterBenchmark;
    // Figures set beside a reference are repeated and interleaved at random
    // with it, each taken as the median of its repetitions.
    constexpr int kPairs = 9, kSlow = 3;
    for (const auto& [name, fn] : {std::pair{"tcp/transaction", tcpTransaction}, std::pair{"tcp/raw", tcpRaw},
                                   std::pair{"pty/transaction", ptyTransaction}, std::pair{"pty/raw", ptyRaw}})
        benchtable::iterations(RegisterBenchmark(name, fn), options, 0, kPairs, 0.2);
    for (const auto& [name, code, rate, com] :
         {std::tuple{"57600", 5, 57600u, 8}, std::tuple{"115200", 6, 115200u, 9}}) {
        benchtable::iterations(RegisterBenchmark((std::string("sim") + name + "/transaction").c_str(),
                                                 simTransaction, static_cast<unsigned char>(code), com),
                               options, 300, kSlow);
        benchtable::iterations(RegisterBenchmark((std::string("sim") + name + "/wire").c_str(), wireTime, rate),
                               options, 1);
    }
    benchtable::iterations(RegisterBenchmark("inventory50/transaction", inventoryTransaction), options, 20, kSlow);
    benchtable::iterations(RegisterBenchmark("inventory50/air", inventoryAirTime), options, 1);
    benchtable::iterations(RegisterBenchmark("bridge/c", bridgeC), options, 1, kSlow);
    benchtable::iterations(RegisterBenchmark("bridge/java", bridgeJava), options, 1, kSlow);

    benchtable::Table table;
    table.ratio("TCP transaction vs raw socket exchange", "tcp/transaction", "tcp/raw", 1.10);
    table.overhead("pty transaction vs raw pty exchange", "pty/transaction", "pty/raw", 500);
    table.ratio("paced sim 57600 bit/s vs wire time", "sim57600/transaction", "sim57600/wire", 1.10);
    table.ratio("paced sim 115200 bit/s vs wire time", "sim115200/transaction", "sim115200/wire", 1.10);
    table.count("heap allocations per command (TCP)", "tcp/transaction", "allocations", 0);
    table.count("heap allocations per command (serial)", "pty/transaction", "allocations", 0);
    table.count("heap allocations per Inventory_G2", "inventory50/transaction", "allocations", 0);
    table.ratio("Inventory_G2 of 50 tags vs air time", "inventory50/transaction", "inventory50/air", 1.05);
    table.ratio("bridge call from Java vs direct C call", "bridge/java", "bridge/c", 1.2);
    return benchtable::run(options, table);
}

// Frame reassembly, fault shaping, scenarios, and the reader on real links:
// a loopback TCP connection and a pseudo-terminal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "sim/faults.h"
#include "sim/host.h"
#include "sim/scenario.h"
#include "sim_support.h"
#include "support/test_env.h"

using namespace simtest;
using mvtest::readFor;
using mvtest::writeAll;
using Clock = std::chrono::steady_clock;

namespace {

int connectTo(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

int openSerial(const std::string& path, speed_t speed) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, speed);
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

const Bytes kInfoRequest = sim::requestFrame(0xFF, 0x21);

}  // namespace

TEST(Assembler, SkipsKeepAliveAndNoiseAndWaitsForWholeFrames) {
    sim::FrameAssembler a;
    const Bytes frame = sim::requestFrame(0x00, 0x25, {7});
    Bytes wire = cat({{0x00, 0x00, 0x02}, frame});
    a.feed(wire.data(), 5);
    EXPECT_FALSE(a.next(true));
    a.feed(wire.data() + 5, wire.size() - 5);
    auto r = a.next(false);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->command, 0x25);
    EXPECT_EQ(r->data, Bytes{7});
    EXPECT_FALSE(a.pending());

    Bytes bad = frame;
    bad[3] ^= 1;
    wire = cat({bad, frame});
    a.feed(wire.data(), wire.size());
    r = a.next(false);
    ASSERT_TRUE(r) << "resynchronises after a corrupted frame";
    EXPECT_EQ(r->data, Bytes{7});
}

TEST(Assembler, LoneA5IsTheRawSelfTestOnlyAfterSilence) {
    sim::FrameAssembler a;
    const std::uint8_t raw = 0xA5;
    a.feed(&raw, 1);
    EXPECT_FALSE(a.next(false));
    auto r = a.next(true);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->rawSelfTest);
    // A frame whose length byte happens to be 0xA5 is not mistaken for it.
    const Bytes big = sim::requestFrame(0x00, 0x4E, Bytes(0xA5 - 4, 0x11));
    a.feed(big.data(), 1);
    a.feed(big.data() + 1, big.size() - 1);
    r = a.next(true);
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->rawSelfTest);
}

TEST(Faults, EachFaultChangesTheAnswerAsDocumented) {
    const Bytes answer = sim::responseFrame(0x00, 0x21, 0x00, {1, 2, 3});
    auto shaped = [&](sim::FaultPlan plan) { return sim::FaultInjector(plan).shape(answer); };
    sim::FaultPlan plan;
    plan.corruptCrc = 1;
    EXPECT_FALSE(mv::crcIntact(shaped(plan)[0].bytes.data(), answer.size()));
    plan = {};
    plan.wrongEcho = 1;
    Bytes echoed = shaped(plan)[0].bytes;
    EXPECT_NE(echoed[2], 0x21);
    EXPECT_TRUE(mv::crcIntact(echoed.data(), echoed.size()));
    plan = {};
    plan.drop = 1;
    EXPECT_TRUE(shaped(plan).empty());
    plan = {};
    plan.split = 1;
    plan.latencyMs = 100;
    auto chunks = shaped(plan);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].pauseMs, 100u);
    EXPECT_EQ(chunks[1].pauseMs, plan.splitGapMs);
    EXPECT_EQ(cat({chunks[0].bytes, chunks[1].bytes, chunks[2].bytes}), answer);
    plan = {};
    plan.strayBefore = plan.strayAfter = 1;
    Bytes stray = shaped(plan)[0].bytes;
    EXPECT_GT(stray.size(), answer.size() + 1);
    EXPECT_EQ(std::search(stray.begin(), stray.end(), answer.begin(), answer.end()) - stray.begin() > 0, true);

    plan = {};
    plan.closeAfter = 2;
    sim::FaultInjector closer(plan);
    EXPECT_FALSE(closer.closeNow());
    EXPECT_TRUE(closer.closeNow());
    EXPECT_FALSE(closer.closeNow());
}

TEST(Faults, SameSeedSameFaults) {
    sim::FaultPlan plan;
    plan.seed = 42;
    plan.drop = 0.5;
    sim::FaultInjector a(plan), b(plan);
    const Bytes answer = sim::responseFrame(0, 0x21, 0);
    int dropped = 0;
    for (int i = 0; i < 200; ++i) {
        const bool da = a.shape(answer).empty();
        EXPECT_EQ(da, b.shape(answer).empty());
        dropped += da;
    }
    EXPECT_GT(dropped, 50);
    EXPECT_LT(dropped, 150);
}

TEST(Scenario, ParsesCommentsAndRejectsBadInput) {
    sim::Scenario s = sim::parseScenario(R"({
      // a comment
      "reader": {"address": 3, "scan_time": 20, "tags_per_frame": 1},
      "gen2": [{"epc": "0102 0304", "access_password": "0000 00FF"}],
      "iso6b": [{"uid": "0001020304050607", "locked": [40]}],
      "faults": {"seed": 9, "drop": 0.25, "close_after": 3}
    })");
    EXPECT_EQ(s.settings.address, 3);
    EXPECT_EQ(s.settings.tagsPerFrame, 1u);
    ASSERT_EQ(s.gen2.size(), 1u);
    EXPECT_EQ(s.gen2[0].epc(), hex("01020304"));
    EXPECT_EQ(s.gen2[0].accessPassword()[3], 0xFF);
    EXPECT_TRUE(s.tags6B[0].locked(40));
    EXPECT_EQ(s.faults.closeAfter, 3u);
    EXPECT_THROW(sim::parseScenario(R"({"gen2": [{"epc": "01G2"}]})"), std::runtime_error);
    EXPECT_THROW(sim::parseScenario(R"({"gen2": [{"epc": "010"}]})"), std::runtime_error);
    EXPECT_THROW(sim::parseScenario(R"({"reader": {"baud_code": 3}})"), std::runtime_error);
    EXPECT_THROW(sim::parseScenario("{"), std::runtime_error);
    EXPECT_THROW(sim::loadScenario("/nonexistent/scenario.json"), std::runtime_error);
}

TEST(Scenario, ShippedExampleLoads) {
    sim::Scenario s = sim::loadScenario(MORVENT_SIM_SCENARIOS "/example.json");
    EXPECT_EQ(s.settings.address, 1);
    ASSERT_EQ(s.gen2.size(), 4u);
    EXPECT_TRUE(s.gen2[3].privacy);
    EXPECT_EQ(s.gen2[0].lockMode(sim::kLockUser), sim::kSecured);
    EXPECT_THROW(sim::parseScenario(R"({"gen2": [{"epc": "0102", "locks": {"user": "shut"}}]})"), std::runtime_error);
    EXPECT_TRUE(s.tags6B[0].locked(19));
    EXPECT_EQ(s.faults.latencyMs, 20u);
}

TEST(HostTcp, AnswersOverTcpAndIgnoresKeepAlive) {
    sim::ReaderHost host({});
    const int fd = connectTo(host.tcpPort());
    writeAll(fd, cat({{0, 0}, kInfoRequest}));
    Bytes answer = readFor(fd, 18, 2000);
    ASSERT_EQ(answer.size(), 18u);
    EXPECT_EQ(answer[2], 0x21);
    // A second connection replaces the first.
    const int second = connectTo(host.tcpPort());
    writeAll(second, kInfoRequest);
    EXPECT_EQ(readFor(second, 18, 2000).size(), 18u);
    EXPECT_TRUE(readFor(fd, 1, 300).empty());
    EXPECT_EQ(host.connectionsAccepted(), 2u);
    close(fd);
    close(second);
}

TEST(HostTcp, CloseAfterAndLatencyFaults) {
    sim::HostOptions options;
    options.scenario.faults.closeAfter = 1;
    options.scenario.faults.latencyMs = 300;
    sim::ReaderHost host(options);
    const int fd = connectTo(host.tcpPort());
    const auto start = Clock::now();
    writeAll(fd, kInfoRequest);
    EXPECT_EQ(readFor(fd, 18, 2000).size(), 18u);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(280));
    std::uint8_t byte;
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_EQ(read(fd, &byte, 1), 0) << "connection closed by the reader";
    close(fd);
}

TEST(HostTcp, ActiveModeSendsFramesByItself) {
    sim::ReaderHost host({});
    const int fd = connectTo(host.tcpPort());
    writeAll(fd, sim::requestFrame(0xFF, 0x3D, {1}));
    EXPECT_EQ(readFor(fd, 6, 2000).size(), 6u);
    writeAll(fd, sim::requestFrame(0xFF, 0x35, {1}));
    Bytes got = readFor(fd, 6 + 3 * 10, 3000);
    ASSERT_GT(got.size(), 6u);
    auto frames = sim::splitFrames(Bytes(got.begin() + 6, got.end()));
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0][2], 0xEE);
    close(fd);
}

TEST(HostPty, AnswersOnThePseudoTerminalAndFollowsBaudChanges) {
    sim::HostOptions options;
    options.tcp = false;
    options.pty = true;
    options.ptyLink = ::testing::TempDir() + "sim-pty-link";
    std::string link;
    {
        sim::ReaderHost host(options);
        link = host.ptyLink();
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(host.ptyPath(), target);

        const int fd = openSerial(link, B57600);
        writeAll(fd, kInfoRequest);
        EXPECT_EQ(readFor(fd, 18, 2000).size(), 18u);

        writeAll(fd, sim::requestFrame(0xFF, 0x28, {6}));
        Bytes answer = readFor(fd, 6, 2000);
        ASSERT_EQ(answer.size(), 6u);
        EXPECT_EQ(answer[3], 0x00);
        EXPECT_EQ(host.lineBitRate(), 115200u);
        // Still at the old speed on this side: the reader hears noise.
        writeAll(fd, kInfoRequest);
        EXPECT_TRUE(readFor(fd, 1, 400).empty());
        termios tio{};
        tcgetattr(fd, &tio);
        cfsetspeed(&tio, B115200);
        tcsetattr(fd, TCSANOW, &tio);
        writeAll(fd, kInfoRequest);
        EXPECT_EQ(readFor(fd, 18, 2000).size(), 18u);
        // Should the simulator's thread have been held up past the speed
        // change, it took the noise for a request too: drop that answer.
        readFor(fd, 64, 200);

        // The lone self-test byte.
        writeAll(fd, {0xA5});
        answer = readFor(fd, 6, 2000);
        ASSERT_EQ(answer.size(), 6u);
        EXPECT_EQ(answer[2], 0xA5);
        close(fd);
    }
    EXPECT_EQ(access(link.c_str(), F_OK), -1) << "symlink removed on stop";
}

// Paced, the reader keeps real time: an exchange on the pty lasts at least
// the wire time of its bytes, and an inventory its air time, cut at the scan
// time, each frame leaving alone once its tags are found.
TEST(HostPacing, ExchangeTakesItsWireTimeAndInventoryItsAirTime) {
    sim::HostOptions options;
    options.pty = true;
    options.pacing = true;
    options.scenario.settings.scanTime = 3;      // 300 ms
    options.scenario.settings.tagAirMs = 200.0;  // every tag: far past the scan time unbounded
    options.scenario.settings.tagsPerFrame = 1;  // the first frame (21 bytes) ready after 201 ms
    std::size_t total = 0;  // a frame per tag: its record and 8 bytes around it
    for (const sim::Gen2Tag& tag : options.scenario.gen2) total += 9 + tag.epc().size();
    sim::ReaderHost host(options);

    const int serial = openSerial(host.ptyPath(), B57600);
    auto start = Clock::now();
    writeAll(serial, kInfoRequest);
    ASSERT_EQ(readFor(serial, 18, 2000).size(), 18u);
    const auto wire = std::chrono::microseconds((5 + 18) * 10 * 1000000 / 57600);
    EXPECT_GE(Clock::now() - start, wire);
    close(serial);

    const int tcp = connectTo(host.tcpPort());
    start = Clock::now();
    writeAll(tcp, sim::requestFrame(0xFF, 0x01));
    const std::size_t first = readFor(tcp, 1, 2000).size();
    EXPECT_EQ(first, 21u);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(290));
    EXPECT_EQ(readFor(tcp, total - first, 2000).size(), total - first);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(800));
    close(tcp);
}

// Opening, the link routines and the injected faults, end to end against
// the simulated reader over TCP and over a pseudo-terminal.
#include <chrono>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "sim/frame.h"

using namespace e2e;
using Clock = std::chrono::steady_clock;

namespace {

sim::Scenario withAddress(unsigned char address, unsigned char scanTime) {
    sim::Scenario s = sim::defaultScenario();
    s.settings.address = address;
    s.settings.scanTime = scanTime;
    return s;
}

// One raw exchange through the exported link routines.
int rawExchange(int port, const sim::Bytes& request, int (*receive)(unsigned char*, int*, int), sim::Bytes& answer) {
    sim::Bytes frame = request;
    int status = SendDataToPort(frame.data(), static_cast<unsigned>(frame.size()), port);
    if (status != MORVENT_OK) return status;
    std::vector<unsigned char> buffer(MORVENT_RECEIVE_BUFFER + 2);
    int count = 0;
    status = receive(buffer.data(), &count, port);
    if (status == MORVENT_OK) answer.assign(buffer.begin(), buffer.begin() + count);
    return status;
}

}  // namespace

TEST(E2eOpen, NetPortHandshakesAndReportsTheReader) {
    sim::ReaderHost host(bothLinks(withAddress(0x05, 17)));
    Link link = Link::tcp(host);
    ASSERT_EQ(link.status, MORVENT_OK);
    EXPECT_EQ(link.port, host.tcpPort());
    EXPECT_EQ(link.address, 0x05);
    EXPECT_EQ(scanTimeOf(0x05, link.port), 17);
    EXPECT_EQ(scanTimeOf(0xFF, link.port), 17);
    unsigned char address = 0;
    int handle = 0;
    EXPECT_EQ(OpenNetPort(host.tcpPort(), "127.0.0.1", &address, &handle), MORVENT_PORT_OPEN);
    link.close();
    EXPECT_EQ(scanTimeOf(0x05, host.tcpPort()), -MORVENT_COMM_ERROR);
}

TEST(E2eOpen, ComPortOverThePseudoTerminal) {
    sim::ReaderHost host(bothLinks(withAddress(0x02, 9)));
    Link link = Link::serial(host, 7);
    ASSERT_EQ(link.status, MORVENT_OK);
    EXPECT_EQ(link.port, 7);
    EXPECT_EQ(link.address, 0x02);
    EXPECT_EQ(scanTimeOf(0x02, 7), 9);
    unsigned char address;
    int handle;
    EXPECT_EQ(OpenComPort(7, &address, 5, &handle), MORVENT_PORT_OPEN);
}

TEST(E2eOpen, ComPortAtTheWrongSpeedFindsNoReader) {
    sim::ReaderHost host(bothLinks());
    Link link = Link::serial(host, 8, 6);  // the reader runs at 57600
    EXPECT_EQ(link.status, MORVENT_COMM_ERROR);
    EXPECT_EQ(link.port, -1);
    Link again = Link::serial(host, 8, 5);
    EXPECT_EQ(again.status, MORVENT_OK);
}

// Two readers on one pty, as on an RS-485 bus: both answer the broadcast
// handshake at once and their answers collide on the wire; asked at its
// address, one reader opens the bus, and the other is reached on it too.
TEST(E2eOpen, BusOfTwoReadersOpensOnlyAtAnAddress) {
    sim::HostOptions options = bothLinks(withAddress(0x01, 5));
    options.busReaders.push_back(withAddress(0x02, 6));
    sim::ReaderHost host(options);
    Link broadcast = Link::serial(host, 9);
    EXPECT_EQ(broadcast.status, MORVENT_COMM_ERROR);
    unsigned char address = 0x02;
    int handle = -1;
    ASSERT_EQ(OpenComPortAt(9, &address, 5, &handle), MORVENT_OK);
    EXPECT_EQ(scanTimeOf(0x01, 9), 5);
    EXPECT_EQ(CloseSpecComPort(9), MORVENT_OK);
}

TEST(E2eOpen, AutoOpenFindsTheFirstComWithAReader) {
    sim::ReaderHost host(bothLinks());
    mapCom(1, "/nonexistent/com1");
    mapCom(2, "/nonexistent/com2");
    mapCom(3, host.ptyPath());
    int com = 0, handle = 0;
    unsigned char address = 0x33;
    ASSERT_EQ(AutoOpenComPort(&com, &address, 5, &handle), MORVENT_OK);
    EXPECT_EQ(com, 3);
    EXPECT_EQ(handle, 3);
    EXPECT_EQ(address, 0x00);
    EXPECT_EQ(CloseComPort(), 0);
    EXPECT_EQ(scanTimeOf(0x00, 3), -MORVENT_INVALID_PORT);
}

TEST(E2eLink, RawRoutinesAssembleSingleAndMultiFrameAnswers) {
    sim::Scenario scenario = sim::defaultScenario();
    scenario.settings.tagsPerFrame = 2;
    scenario.settings.atModeDelayMs = 1500;
    sim::ReaderHost host(bothLinks(scenario));
    for (bool serial : {false, true}) {
        Link link = serial ? Link::serial(host, 9) : Link::tcp(host);
        ASSERT_EQ(link.status, MORVENT_OK);
        sim::Bytes answer;
        ASSERT_EQ(rawExchange(link.port, sim::requestFrame(0xFF, 0x21), GetDataFromPort, answer), MORVENT_OK);
        EXPECT_EQ(answer.size(), 18u);
        ASSERT_EQ(rawExchange(link.port, sim::requestFrame(0xFF, 0x01), GetInventoryDataFromPort1, answer), MORVENT_OK);
        auto frames = sim::splitFrames(answer);
        ASSERT_EQ(frames.size(), (defaultTags() + 1) / 2) << (serial ? "serial" : "tcp");
        EXPECT_EQ(frames.back()[3], 0x01);
        ASSERT_EQ(rawExchange(link.port, sim::requestFrame(0xFF, 0x43), GetDataFromPort1, answer), MORVENT_OK);
        frames = sim::splitFrames(answer);
        EXPECT_EQ(frames.size(), defaultTags() + 1);
        EXPECT_EQ(frames.back().size(), 6u);
        const auto start = Clock::now();
        ASSERT_EQ(rawExchange(link.port, sim::requestFrame(0xFF, 0x4D, {1}), ATGetDataFromPort, answer), MORVENT_OK);
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1400));
        EXPECT_EQ(answer[2], 0x4D);
    }
}

TEST(E2eLink, KeepAliveBytesDoNotDisturbTheReader) {
    sim::ReaderHost host(bothLinks());
    Link link = Link::tcp(host);
    ASSERT_EQ(link.status, MORVENT_OK);
    std::this_thread::sleep_for(std::chrono::seconds(19));  // the library sends 00 00 after ~17 s idle
    EXPECT_EQ(scanTimeOf(0xFF, link.port), 10);
}

// Each fault gives its status code; with the fault lifted the next command works.
TEST(E2eFaults, EachFaultGivesItsStatusAndTheLinkRecovers) {
    struct Case {
        const char* name;
        sim::FaultPlan plan;
        int expected;
    };
    auto plan = [](auto set) {
        sim::FaultPlan p;
        set(p);
        return p;
    };
    const std::vector<Case> cases = {
        {"corrupt CRC", plan([](sim::FaultPlan& p) { p.corruptCrc = 1; }), MORVENT_CRC_ERROR},
        {"wrong echo", plan([](sim::FaultPlan& p) { p.wrongEcho = 1; }), MORVENT_CMD_MISMATCH},
        {"dropped", plan([](sim::FaultPlan& p) { p.drop = 1; }), MORVENT_COMM_ERROR},
        {"stray before", plan([](sim::FaultPlan& p) { p.strayBefore = 1; }), MORVENT_COMM_ERROR},
        {"stray after", plan([](sim::FaultPlan& p) { p.strayAfter = 1; }), MORVENT_COMM_ERROR},
        {"split with gaps", plan([](sim::FaultPlan& p) { p.split = 1, p.splitGapMs = 60; }), MORVENT_OK},
        {"short latency", plan([](sim::FaultPlan& p) { p.latencyMs = 300; }), MORVENT_OK},
    };
    sim::ReaderHost host(bothLinks());
    for (bool serial : {false, true}) {
        Link link = serial ? Link::serial(host, 10) : Link::tcp(host);
        ASSERT_EQ(link.status, MORVENT_OK);
        for (const Case& c : cases) {
            host.setFaults(c.plan);
            const int got = scanTimeOf(0xFF, link.port);
            EXPECT_EQ(got, c.expected == MORVENT_OK ? 10 : -c.expected) << c.name << (serial ? " serial" : " tcp");
            host.setFaults({});
            EXPECT_EQ(scanTimeOf(0xFF, link.port), 10) << "after " << c.name << (serial ? " serial" : " tcp");
        }
    }
}

TEST(E2eFaults, LateAnswerTimesOutAndIsPurgedOnASerialLink) {
    sim::ReaderHost host(bothLinks());
    Link link = Link::serial(host, 11);
    ASSERT_EQ(link.status, MORVENT_OK);
    sim::FaultPlan late;
    late.latencyMs = 1500;
    host.setFaults(late);
    const auto start = Clock::now();
    EXPECT_EQ(scanTimeOf(0xFF, link.port), -MORVENT_COMM_ERROR);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1400));
    host.setFaults({});
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // the late answer arrives meanwhile
    EXPECT_EQ(scanTimeOf(0xFF, link.port), 10);
}

TEST(E2eFaults, ClosedConnectionFailsUntilReopened) {
    sim::Scenario scenario = sim::defaultScenario();
    scenario.faults.closeAfter = 3;  // the handshake is the first answer
    sim::ReaderHost host(bothLinks(scenario));
    Link link = Link::tcp(host);
    ASSERT_EQ(link.status, MORVENT_OK);
    EXPECT_EQ(scanTimeOf(0xFF, link.port), 10);
    EXPECT_EQ(scanTimeOf(0xFF, link.port), 10);
    EXPECT_EQ(scanTimeOf(0xFF, link.port), -MORVENT_COMM_ERROR);
    link.close();
    Link again = Link::tcp(host);
    ASSERT_EQ(again.status, MORVENT_OK);
    EXPECT_EQ(scanTimeOf(0xFF, again.port), 10);
    EXPECT_EQ(host.connectionsAccepted(), 2u);
}

// Several threads, each with its own reader, opening, commanding and closing
// at once; the library's one lock serialises them.
TEST(E2eThreads, SeveralReadersAtOnce) {
    constexpr int kReaders = 4;
    std::vector<std::unique_ptr<sim::ReaderHost>> hosts;
    for (int i = 0; i < kReaders; ++i) hosts.push_back(std::make_unique<sim::ReaderHost>(bothLinks(withAddress(i, 20 + i))));
    for (int i = 0; i < kReaders; ++i) mapCom(20 + i, hosts[i]->ptyPath());
    std::vector<std::thread> threads;
    std::vector<int> failures(kReaders, 0);
    for (int i = 0; i < kReaders; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round) {
                const bool serial = (i + round) % 2 == 1;
                unsigned char address = 0xFF;
                int port = -1;
                const int opened = serial ? OpenComPort(20 + i, &address, 5, &port)
                                          : OpenNetPort(hosts[i]->tcpPort(), "127.0.0.1", &address, &port);
                if (opened != MORVENT_OK || address != i) {
                    ++failures[i];
                    continue;
                }
                for (int n = 0; n < 10; ++n)
                    if (scanTimeOf(address, port) != 20 + i) ++failures[i];
                serial ? CloseSpecComPort(port) : CloseNetPort(port);
            }
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < kReaders; ++i) EXPECT_EQ(failures[i], 0) << "reader " << i;
}

// Fault injection on the in-memory reader: late answers one step either side
// of every limit, stray bytes, corrupt CRCs, floods, a connection dropped
// mid-frame and a reader that never closes. For each: the promised status,
// the time it took within its bound, and a next command that works.
#include <gtest/gtest.h>

#include "hardening/memory_reader.h"
#include "link/net_link.h"
#include "link/ports.h"
#include "morvent.h"
#include "support/fake_reader.h"
#include "support/test_env.h"

namespace mvtest {
namespace {

using Receiver = int (*)(unsigned char*, int*, int);
// A wait may overshoot a limit by one serial read (510 ms) at most.
constexpr std::uint32_t kOvershootMs = 520;

struct Info {
    std::uint8_t adr = 0x11, pair[2] = {}, b[9] = {};
    int get(int port) {
        return GetReaderInformation(&adr, pair, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &b[8], port);
    }
};

Bytes infoFrame(std::uint8_t first = 0x03) {
    Bytes data = kReaderInfoData;
    data[0] = first;
    return response(0x07, 0x21, 0x00, data);
}

class Faults : public MemoryReaderTest {
protected:
    // The next command on `port` gets its own answer.
    void expectNextCommandWorks(int port) {
        device(port).answerNext({{infoFrame(0x42)}});
        Info info;
        ASSERT_EQ(info.get(port), MORVENT_OK) << "port " << port;
        EXPECT_EQ(info.pair[0], 0x42);
        EXPECT_EQ(info.adr, 0x07);
    }
};

struct LateCase {
    const char* routine;
    Receiver receive;
    int port;
    bool split;  // the first bytes come at once, the rest late: the total limit
    std::uint32_t delayMs;
    bool answered;
    std::uint32_t limitMs;  // the limit that ends a failed wait
};

// Serial reads wait up to 510 ms and limits are tested after each wait, so
// the serial boundaries lie at the end of the read that straddles the limit.
const LateCase kLateCases[] = {
    {"GetDataFromPort idle", GetDataFromPort, 9, false, 490, true, 500},
    {"GetDataFromPort idle", GetDataFromPort, 9, false, 530, false, 500},
    {"GetDataFromPort total", GetDataFromPort, 9, true, 990, true, 1000},
    {"GetDataFromPort total", GetDataFromPort, 9, true, 1030, false, 1000},
    {"GetDataFromPort total", GetDataFromPort, 4100, false, 990, true, 1000},
    {"GetDataFromPort total", GetDataFromPort, 4100, false, 1010, false, 1000},
    {"GetDataFromPort total", GetDataFromPort, 4100, true, 1010, false, 1000},
    {"Inventory idle", GetInventoryDataFromPort1, 9, false, 990, true, 1000},
    {"Inventory idle", GetInventoryDataFromPort1, 9, false, 1030, false, 1000},
    {"Inventory total", GetInventoryDataFromPort1, 9, true, 9990, true, 10000},
    {"Inventory total", GetInventoryDataFromPort1, 9, true, 10250, false, 10000},
    {"Inventory total", GetInventoryDataFromPort1, 4100, false, 990, true, 1000},
    {"Inventory total", GetInventoryDataFromPort1, 4100, true, 1010, false, 1000},
    {"Status-zero idle", GetDataFromPort1, 9, false, 490, true, 500},
    {"Status-zero idle", GetDataFromPort1, 9, false, 530, false, 500},
    {"Status-zero total", GetDataFromPort1, 9, true, 4990, true, 5000},
    {"Status-zero total", GetDataFromPort1, 9, true, 5150, false, 5000},
    {"Status-zero idle", GetDataFromPort1, 4100, false, 490, true, 500},
    {"Status-zero idle", GetDataFromPort1, 4100, false, 510, false, 500},
    {"Status-zero total", GetDataFromPort1, 4100, true, 4990, true, 5000},
    {"Status-zero total", GetDataFromPort1, 4100, true, 5010, false, 5000},
    {"AT idle", ATGetDataFromPort, 9, false, 6990, true, 7000},
    {"AT idle", ATGetDataFromPort, 9, false, 7150, false, 7000},
    {"AT total", ATGetDataFromPort, 9, true, 9990, true, 10000},
    {"AT total", ATGetDataFromPort, 9, true, 10250, false, 10000},
    {"AT idle", ATGetDataFromPort, 4100, false, 6990, true, 7000},
    {"AT idle", ATGetDataFromPort, 4100, false, 7010, false, 7000},
    {"AT total", ATGetDataFromPort, 4100, true, 9990, true, 10000},
    {"AT total", ATGetDataFromPort, 4100, true, 10010, false, 10000},
};

TEST_F(Faults, LateAnswersJustInsideAndJustOutsideEveryLimit) {
    const Bytes frame = infoFrame();
    for (const LateCase& c : kLateCases) {
        SCOPED_TRACE(testing::Message() << c.routine << " port " << c.port << " at " << c.delayMs << " ms");
        device(c.port).clear();
        if (c.split)
            device(c.port).arrive({{Bytes(frame.begin(), frame.begin() + 3)}, {Bytes(frame.begin() + 3, frame.end()), c.delayMs}});
        else
            device(c.port).arrive({{frame, c.delayMs}});
        GuardedBuffer buffer(MORVENT_RECEIVE_BUFFER + 2);
        int count = -1;
        const std::uint32_t start = memdev::now();
        const int result = c.receive(buffer.data(), &count, c.port);
        if (c.answered) {
            EXPECT_EQ(result, MORVENT_OK);
            EXPECT_EQ(count, static_cast<int>(frame.size()));
        } else {
            EXPECT_EQ(result, MORVENT_COMM_ERROR);
            EXPECT_GT(since(start), c.limitMs);
            EXPECT_LE(since(start), c.limitMs + kOvershootMs);
        }
    }
}

// Frames announcing more than comes in time: after the limit their tags come
// with 0x03 (a partial frame after them dropped), not lost with a time-out.
TEST_F(Faults, InventoryCutShortByItsLimitKeepsTheTagsThatCame) {
    const Bytes more = response(0x07, 0x01, 0x03, {0x41, 1, 2, 0xE2, 0x01});
    const std::vector<memdev::Chunk> answers[] = {{{more}}, {{more}, {Bytes(more.begin(), more.begin() + 5), 300}}};
    for (int port : kBothLinks) {
        for (const auto& answer : answers) {
            device(port).answerNext(answer);
            unsigned char adr = 0x11, maskAddress[2] = {}, info = 0, records[5000];
            int length = -1, tags = -1;
            const std::uint32_t start = memdev::now();
            EXPECT_EQ(Inventory_G2(&adr, 0, maskAddress, 0, nullptr, 0, 0, 0, 0, records, &info, &length, &tags, port), 3);
            EXPECT_GT(since(start), port == kNet ? 1000u : 10000u);
            EXPECT_EQ(Bytes(records, records + std::max(length, 0)), (Bytes{2, 0xE2, 0x01})) << "port " << port;
            expectNextCommandWorks(port);
        }
    }
}

TEST_F(Faults, SilenceAcrossTheTickWrapStillTimesOut) {
    for (int port : kBothLinks) {
        memdev::setNow(0xFFFFFF00u);
        device(port).arrive({{infoFrame(), 300}});  // arrives after the wrap
        GuardedBuffer buffer(MORVENT_RECEIVE_BUFFER + 2);
        int count = 0;
        EXPECT_EQ(GetDataFromPort(buffer.data(), &count, port), MORVENT_OK);
        memdev::setNow(0xFFFFFF00u);
        const std::uint32_t start = memdev::now();
        EXPECT_EQ(GetDataFromPort(buffer.data(), &count, port), MORVENT_COMM_ERROR);
        EXPECT_GE(since(start), 500u);
        EXPECT_LE(since(start), 1000u + kOvershootMs);
    }
}

TEST_F(Faults, StrayBytesAfterTheFrameNeverCompleteIt) {
    for (int port : kBothLinks) {
        Bytes withStray = infoFrame();
        withStray.push_back(0x99);
        device(port).answerNext({{withStray}});
        Info info;
        const std::uint32_t start = memdev::now();
        EXPECT_EQ(info.get(port), MORVENT_COMM_ERROR);
        EXPECT_LE(since(start), 1000u + kOvershootMs);
        EXPECT_EQ(info.adr, 0x11);
        expectNextCommandWorks(port);
    }
}

// An answer that came too late, or bytes the reader sent unasked, must not
// pass for the answer to the next request.
TEST_F(Faults, BytesThatArrivedBetweenCommandsAreNotTakenForTheNextAnswer) {
    for (int port : kBothLinks) {
        SCOPED_TRACE(port);
        device(port).answerNext({{infoFrame(0x66), 1500}});  // answers after the time-out
        Info late;
        EXPECT_EQ(late.get(port), MORVENT_COMM_ERROR);
        idle(1000);  // the late answer is now waiting on the link
        expectNextCommandWorks(port);
    }
}

TEST_F(Faults, CorruptCrcIsReportedAndWritesNothing) {
    for (int port : kBothLinks) {
        Bytes corrupt = infoFrame();
        corrupt.back() ^= 0x01;
        device(port).answerNext({{corrupt}});
        Info info;
        EXPECT_EQ(info.get(port), MORVENT_CRC_ERROR);
        EXPECT_EQ(info.adr, 0x11);
        EXPECT_EQ(info.pair[0], 0);
        expectNextCommandWorks(port);
    }
}

TEST_F(Faults, DisconnectMidFrameFailsWithinTheLimit) {
    const Bytes frame = infoFrame();
    device(kNet).answerNext({{Bytes(frame.begin(), frame.begin() + 7)}});
    device(kNet).closeAfterAnswers();
    Info info;
    const std::uint32_t start = memdev::now();
    EXPECT_EQ(info.get(kNet), MORVENT_COMM_ERROR);
    EXPECT_LE(since(start), 1000u + kOvershootMs);
    // The dead link keeps failing promptly; the other link is unaffected.
    const std::uint32_t again = memdev::now();
    EXPECT_EQ(info.get(kNet), MORVENT_COMM_ERROR);
    EXPECT_LE(since(again), 1000u + kOvershootMs);
    expectNextCommandWorks(kSerial);
}

TEST_F(Faults, FloodBeyondTheReceiveBufferIsCutAndTheLinkRecovers) {
    using Routine = std::pair<const char*, Receiver>;
    const Routine routines[] = {{"single", GetDataFromPort},
                                {"inventory", GetInventoryDataFromPort1},
                                {"status-zero", GetDataFromPort1},
                                {"at", ATGetDataFromPort}};
    for (int port : kBothLinks) {
        for (const Routine& r : routines) {
            SCOPED_TRACE(testing::Message() << r.first << " port " << port);
            std::vector<memdev::Chunk> flood;
            // 253-byte frames never line up with 100- or 300-byte chunks below 8000
            // bytes, and their status is never 0.
            for (int i = 0; i < 70; ++i) flood.push_back({Bytes(300, 0xFC)});
            device(port).clear();
            device(port).arrive(std::move(flood));
            GuardedBuffer buffer(MORVENT_RECEIVE_BUFFER + 2);
            int count = -1;
            const std::uint32_t start = memdev::now();
            EXPECT_EQ(r.second(buffer.data(), &count, port), MORVENT_COMM_ERROR);
            EXPECT_LE(count, MORVENT_RECEIVE_BUFFER);
            EXPECT_LE(since(start), 10000u + kOvershootMs);
            expectNextCommandWorks(port);
        }
    }
}

TEST_F(Faults, CloseOfAReaderThatNeverClosesIsBounded) {
    mv::link::setOpen(kNet, true);
    const std::uint32_t start = memdev::now();
    EXPECT_EQ(CloseNetPort(kNet), MORVENT_OK);
    EXPECT_GE(since(start), 1000u);  // the drain waited for the reader's side
    EXPECT_LE(since(start), 1000u + kOvershootMs);
    EXPECT_EQ(mv::link::ports().socket[kNet].load(), mv::plat::kNoSocket);
    EXPECT_FALSE(mv::link::isOpen(kNet));
    expectNextCommandWorks(kSerial);
}

TEST_F(Faults, CloseNeverPullsTheSocketFromUnderAKeepAliveSend) {
    namespace link = mv::link;
    link::setOpen(kNet, true);
    ASSERT_TRUE(link::tryTakeBusy(kNet));  // a keep-alive send that outlasts the close's wait
    const mv::plat::Socket held = link::ports().socket[kNet].load();
    const std::uint32_t start = memdev::now();
    EXPECT_EQ(CloseNetPort(kNet), MORVENT_OK);
    EXPECT_LE(since(start), 3000u + kOvershootMs);
    EXPECT_FALSE(link::isOpen(kNet));
    EXPECT_EQ(link::ports().socket[kNet].load(), held);  // still the keep-alive's to use
    EXPECT_EQ(mv::plat::net().waitWritable(held, 0), mv::plat::Wait::Ready);
    EXPECT_FALSE(link::tryTakeBusy(kNet)) << "the close released a flag it never owned";
    EXPECT_EQ(memdev::misuses(), 0);

    // While the keep-alive still holds it the port cannot be opened again;
    // once it lets go, the next opening closes the leftover socket first.
    EXPECT_EQ(OpenNet(kNet, "127.0.0.1"), MORVENT_COMM_ERROR);
    link::releaseBusy(kNet);
    EXPECT_EQ(OpenNet(kNet, "127.0.0.1"), MORVENT_OK);
    EXPECT_NE(link::ports().socket[kNet].load(), held);
    EXPECT_EQ(memdev::misuses(), 0);
}

// A command restarts its network link's idle count: the keep-alive that was
// about to fall due waits a whole idle period again.
TEST_F(Faults, EveryCommandRestartsTheLinksIdleCount) {
    mv::link::ports().keepAlive[kNet].store(mv::link::kKeepAliveThreshold);
    expectNextCommandWorks(kNet);
    EXPECT_EQ(mv::link::ports().keepAlive[kNet].load(), 0);
}

TEST_F(Faults, FailedWritesShowAsCommunicationErrors) {
    for (int port : kBothLinks) {
        device(port).failWrites(true);
        Info info;
        EXPECT_EQ(info.get(port), MORVENT_COMM_ERROR);
        device(port).failWrites(false);
        expectNextCommandWorks(port);
    }
    device(kNet).blockWrites(true);
    Info info;
    const std::uint32_t start = memdev::now();
    EXPECT_EQ(info.get(kNet), MORVENT_COMM_ERROR);
    EXPECT_LE(since(start), 2000u + kOvershootMs);  // the writability wait, then the receive
    device(kNet).blockWrites(false);
    expectNextCommandWorks(kNet);
}

}  // namespace
}  // namespace mvtest

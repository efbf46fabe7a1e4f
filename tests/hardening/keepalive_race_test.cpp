// The keep-alive against opens and closes, on the in-memory reader: its
// sockets are never reused, and every operation on one after its close is
// counted, so "never writes to a closed or reused socket" is checked exactly.
// The virtual sleep lets the keep-alive sweep thousands of times a second.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "hardening/memory_reader.h"
#include "morvent.h"
#include "link/net_link.h"
#include "support/fake_reader.h"
#include "support/process_probe.h"

namespace mvtest {
namespace {

class KeepAliveRace : public MemoryReaderTest {};

int keepAliveThreads() { return threadsNamed(mv::link::kKeepAliveThreadName); }

TEST_F(KeepAliveRace, NeverTouchesAClosedSocketWhileLinksOpenAndClose) {
    const int ports[] = {4200, 4201, 4202};
    int opened = 0, maxThreads = 0;
    for (int round = 0; round < 40; ++round) {
        for (int port : ports) {
            memdev::netDevice(port).answerNext({{response(0x01, 0x21, 0x00, kReaderInfoData)}});
            std::uint8_t adr = 0;
            int handle = 0;
            if (OpenNetPort(port, "127.0.0.1", &adr, &handle) == MORVENT_OK) ++opened;
        }
        // Long enough, now and then, for the sweeps to reach the threshold.
        std::this_thread::sleep_for(std::chrono::milliseconds((round % 8) * 20));
        maxThreads = std::max(maxThreads, keepAliveThreads());
        for (int i = 0; i < 3; ++i) EXPECT_EQ(CloseNetPort(ports[(round + i) % 3]), MORVENT_OK);
    }
    int keepAlives = 0;
    for (int port : ports) keepAlives += memdev::netDevice(port).keepAlives();
    // The keep-alive ends after a sweep that finds no open link.
    for (int i = 0; i < 300 && keepAliveThreads() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    EXPECT_GT(opened, 100);  // a handshake that meets a keep-alive send may fail: the rule
    EXPECT_GT(keepAlives, 0) << "the race was not exercised";
    EXPECT_EQ(memdev::misuses(), 0);
    EXPECT_LE(maxThreads, 1);
    EXPECT_EQ(keepAliveThreads(), 0);
}

}  // namespace
}  // namespace mvtest

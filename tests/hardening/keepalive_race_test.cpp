// The keep-alive against opens and closes, on the in-memory reader: its
// sockets are never reused, and every operation on one after its close is
// counted, so "never writes to a closed or reused socket" is checked exactly.
// The virtual sleep lets the keep-alive sweep thousands of times a second.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "hardening/memory_reader.h"
#include "morvent.h"
#include "support/fake_reader.h"

namespace mvtest {
namespace {

int threadCount() {
    DIR* d = opendir("/proc/self/task");
    int n = 0;
    while (readdir(d)) ++n;
    closedir(d);
    return n - 2;
}

class KeepAliveRace : public MemoryReaderTest {};

TEST_F(KeepAliveRace, NeverTouchesAClosedSocketWhileLinksOpenAndClose) {
    const int ports[] = {4200, 4201, 4202};
    const int threadsBefore = threadCount();
    int opened = 0, maxThreads = 0;
    for (int cycle = 0; cycle < 600; ++cycle) {
        const int port = ports[cycle % 3];
        memdev::Device reader = memdev::netDevice(port);
        if (cycle % 2 == 0) {
            reader.answerNext({{response(0x01, 0x21, 0x00, kReaderInfoData)}});
            std::uint8_t adr = 0;
            int handle = 0;
            if (OpenNetPort(port, "127.0.0.1", &adr, &handle) == MORVENT_OK) ++opened;
        } else {
            // Let the keep-alive sweep the open links for a while first.
            std::this_thread::sleep_for(std::chrono::microseconds(200 * (cycle % 7)));
            EXPECT_EQ(CloseNetPort(port), MORVENT_OK);
        }
        maxThreads = std::max(maxThreads, threadCount());
    }
    for (int port : ports) CloseNetPort(port);
    int keepAlives = 0;
    for (int port : ports) keepAlives += memdev::netDevice(port).keepAlives();
    // The keep-alive ends after a sweep that finds no open link.
    for (int i = 0; i < 200 && threadCount() > threadsBefore; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    EXPECT_GT(opened, 200);
    EXPECT_GT(keepAlives, 0) << "the race was not exercised";
    EXPECT_EQ(memdev::misuses(), 0);
    EXPECT_LE(maxThreads, threadsBefore + 1);
    EXPECT_EQ(threadCount(), threadsBefore);
}

}  // namespace
}  // namespace mvtest

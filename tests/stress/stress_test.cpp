// Concurrency stress: worker threads issue commands to several readers (TCP
// and pty) while a lifecycle thread closes and reopens links and one TCP
// link idles long enough for keep-alives. Bounded in time: the length comes
// from MORVENT_SOAK_MINUTES (`make soak`), else a short CI run.
//
// Checks: every answer comes from the reader of the link it was asked on and
// is delivered once; every request a reader saw is a whole frame with a good
// CRC (a keep-alive written into a reused socket would break that); at most
// one keep-alive thread; descriptors and resident memory back to their
// starting level once every link is closed.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/crc.h"
#include "morvent.h"
#include "link/net_link.h"
#include "support/fake_reader.h"
#include "support/process_probe.h"

namespace mvtest {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

constexpr int kDefaultSeconds = 24;  // above 17 s: the idle link sees a keep-alive
constexpr int kSerialCom = 41;

int stressSeconds() {
    if (const char* minutes = std::getenv("MORVENT_SOAK_MINUTES")) return std::atoi(minutes) * 60;
    return kDefaultSeconds;
}

bool waitUntil(int timeoutMs, const std::function<bool()>& done) {
    const auto start = Clock::now();
    while (!done()) {
        if (msSince(start) > timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// One reader and the library's link to it. Every answer it gives carries
// its id and a sequence number, so the test can tell whose answer a
// command got and whether any answer was delivered twice.
struct Reader {
    std::uint8_t id;
    std::unique_ptr<FakeReader> fake;
    int port = -1;
    std::atomic<std::uint32_t> nextSeq{0};
    std::mutex seenMutex;
    std::set<std::uint32_t> seen;

    void scriptOneAnswer() {
        const std::uint32_t seq = nextSeq.fetch_add(1);
        Bytes data = kReaderInfoData;
        data[0] = id;
        for (int i = 0; i < 4; ++i) data[2 + i] = static_cast<std::uint8_t>(seq >> (8 * i));
        fake->scriptReaderInfo(id, data);
    }

    // True when the answer is this reader's and was not delivered before.
    bool claim(const std::uint8_t pair[2], const std::uint8_t b[9]) {
        if (pair[0] != id) return false;
        const std::uint32_t seq = b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
        std::lock_guard<std::mutex> guard(seenMutex);
        return seen.insert(seq).second;
    }

    int open() {
        scriptOneAnswer();  // the handshake
        std::uint8_t adr = 0;
        int handle = -1;
        return fake->isTcp() ? OpenNetPort(port, "127.0.0.1", &adr, &handle)
                             : OpenComPort(port, &adr, 0, &handle);
    }

    int close() { return fake->isTcp() ? CloseNetPort(port) : CloseSpecComPort(port); }
};

struct Tally {
    std::atomic<long> commands{0}, answered{0}, crossTalk{0}, unexpected{0};
    std::atomic<int> maxKeepAlives{0};
};

bool expectedFailure(int status) {
    return status == MORVENT_COMM_ERROR || status == MORVENT_INVALID_PORT;
}

void issueCommand(Reader& r, Tally& tally) {
    r.scriptOneAnswer();
    std::uint8_t adr = 0xFF, pair[2] = {}, b[9] = {};
    const int status =
        GetReaderInformation(&adr, pair, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &b[8], r.port);
    ++tally.commands;
    if (status == MORVENT_OK) {
        ++tally.answered;
        if (adr != r.id || !r.claim(pair, b)) ++tally.crossTalk;
    } else if (!expectedFailure(status)) {
        ++tally.unexpected;
    }
}

// Every request a reader received is a whole request frame with a good CRC.
bool requestsIntact(const FakeReader& fake) {
    for (const Request& req : fake.requests()) {
        const Bytes& f = req.bytes;
        if (f.size() < 5 || f[0] + 1u != f.size() || !mv::crcIntact(f.data(), f.size())) return false;
    }
    return true;
}

TEST(Stress, ThreadsLinksAndKeepAlive) {
    const int seconds = stressSeconds();
    std::vector<std::unique_ptr<Reader>> readers;
    for (std::uint8_t id = 1; id <= 4; ++id) {
        auto r = std::make_unique<Reader>();
        r->id = id;
        r->fake = id == 4 ? FakeReader::pty() : FakeReader::tcp();
        ASSERT_NE(r->fake, nullptr);
        if (id == 4) {
            r->fake->mapCom(kSerialCom);
            r->port = kSerialCom;
        } else {
            r->port = r->fake->port();
        }
        readers.push_back(std::move(r));
    }
    Reader& busyTcp = *readers[0];
    Reader& cycledTcp = *readers[1];
    Reader& idleTcp = *readers[2];
    Reader& serial = *readers[3];

    const int fdsBefore = openDescriptors();
    const int threadsBefore = threadCount();
    for (auto& r : readers) ASSERT_EQ(r->open(), MORVENT_OK) << "reader " << int(r->id);

    Tally tally;
    std::atomic<bool> stop{false};
    std::atomic<long> cycles{0};
    std::vector<std::thread> threads;
    // Two workers per busy link, one on the cycled links.
    auto worker = [&](std::vector<Reader*> mine, unsigned seed) {
        while (!stop.load()) {
            Reader& r = *mine[seed++ % mine.size()];
            issueCommand(r, tally);
            if (seed % 16 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(seed % 20));
        }
    };
    threads.emplace_back(worker, std::vector<Reader*>{&busyTcp}, 1u);
    threads.emplace_back(worker, std::vector<Reader*>{&busyTcp, &serial}, 2u);
    threads.emplace_back(worker, std::vector<Reader*>{&serial}, 3u);
    threads.emplace_back(worker, std::vector<Reader*>{&cycledTcp, &serial}, 4u);
    // Lifecycle: close and reopen a TCP link and the serial link, with idle
    // gaps, while the workers keep using them.
    threads.emplace_back([&] {
        for (unsigned n = 0; !stop.load(); ++n) {
            Reader& r = n % 2 ? serial : cycledTcp;
            EXPECT_EQ(r.close(), MORVENT_OK);
            std::this_thread::sleep_for(std::chrono::milliseconds(30 + n % 50));
            const int status = r.open();
            if (status != MORVENT_OK && !expectedFailure(status)) ++tally.unexpected;
            ++cycles;
            std::this_thread::sleep_for(std::chrono::milliseconds(200 + (n % 7) * 100));
        }
    });
    const int workerThreads = static_cast<int>(threads.size());

    const auto start = Clock::now();
    long rssWarm = -1;
    while (msSince(start) < seconds * 1000L) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int keepAlives = threadsNamed(mv::link::kKeepAliveThreadName);
        if (keepAlives > tally.maxKeepAlives.load()) tally.maxKeepAlives = keepAlives;
        if (rssWarm < 0 && msSince(start) > 3000) rssWarm = residentKb();
    }
    stop = true;
    for (auto& t : threads) t.join();
    const long rssEnd = residentKb();

    for (auto& r : readers) EXPECT_EQ(r->close(), MORVENT_OK);
    // The keep-alive thread ends within about a second of the last close.
    EXPECT_TRUE(waitUntil(5000, [] { return threadsNamed(mv::link::kKeepAliveThreadName) == 0; }));
    EXPECT_EQ(threadCount(), threadsBefore);
    const int fdsAfter = openDescriptors();

    std::printf("stress: %d worker threads, %ld commands (%ld answered), %ld close/reopen cycles, %d s\n",
                workerThreads, tally.commands.load(), tally.answered.load(), cycles.load(), seconds);
    std::printf("stress: descriptors %d before, %d after; keep-alive threads %d at most; "
                "resident %ld kB after warm-up, %ld kB at the end\n",
                fdsBefore, fdsAfter, tally.maxKeepAlives.load(), rssWarm, rssEnd);

    EXPECT_EQ(tally.crossTalk.load(), 0);
    EXPECT_EQ(tally.unexpected.load(), 0);
    EXPECT_GT(tally.answered.load(), 100);
    EXPECT_EQ(tally.maxKeepAlives.load(), 1);
    EXPECT_EQ(fdsAfter, fdsBefore);
    for (auto& r : readers) EXPECT_TRUE(requestsIntact(*r->fake)) << "reader " << int(r->id);
    EXPECT_GE(idleTcp.fake->keepAlivesSeen(), 1);
    EXPECT_EQ(serial.fake->keepAlivesSeen(), 0);
    // The kit has fixed buffers and tables only; what may grow is this test's
    // own record of every request and answer (well under 256 bytes each).
    // AddressSanitizer holds freed memory back on purpose, so there its leak
    // check at exit stands in for this one.
    if (!kAddressSanitizer) {
        const long allowanceKb = 16 * 1024 + tally.commands.load() / 4;
        EXPECT_LT(rssEnd - rssWarm, allowanceKb) << "kB grown after warm-up";
    }
}

}  // namespace
}  // namespace mvtest

// Stress against the simulated reader: worker threads run real commands on
// three simulated readers (TCP and pty), one of them injecting faults
// (corrupt CRCs, dropped answers, stray bytes, split answers), while a
// lifecycle thread closes and reopens links. Each reader has its own
// address and scan time, so an answer shows which reader gave it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "morvent.h"
#include "sim/host.h"
#include "support/fake_reader.h"
#include "support/process_probe.h"

namespace mvtest {
namespace {

constexpr int kDefaultSeconds = 20;
constexpr int kFirstCom = 51;
constexpr unsigned char kSimBaudCode = 5;  // the simulated reader's 57600 bit/s

int stressSeconds() {
    if (const char* minutes = std::getenv("MORVENT_SOAK_MINUTES")) return std::atoi(minutes) * 60;
    return kDefaultSeconds;
}

struct SimReader {
    std::unique_ptr<sim::ReaderHost> host;
    std::unique_ptr<ComMapping> com;
    unsigned char address;
    unsigned char scanTime;
    bool serial;
    int port;

    int open() {
        unsigned char adr = 0;
        int handle = -1;
        return serial ? OpenComPort(port, &adr, kSimBaudCode, &handle)
                      : OpenNetPort(port, "127.0.0.1", &adr, &handle);
    }
    int close() { return serial ? CloseSpecComPort(port) : CloseNetPort(port); }
};

struct Tally {
    std::atomic<long> commands{0}, answered{0}, crossTalk{0}, unexpected{0};
};

bool linkFailure(int status) {
    return status == MORVENT_COMM_ERROR || status == MORVENT_CRC_ERROR || status == MORVENT_INVALID_PORT ||
           status == MORVENT_CMD_MISMATCH;
}

// One of three commands; every answer must come from the link's own reader.
void issueCommand(SimReader& r, unsigned n, Tally& tally) {
    unsigned char adr = r.address;
    int status = 0;
    switch (n % 3) {
    case 0: {
        unsigned char pair[2], b[9] = {};
        status = GetReaderInformation(&adr, pair, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &b[8],
                                      r.port);
        if (status == MORVENT_OK && (adr != r.address || b[5] != r.scanTime)) ++tally.crossTalk;
        break;
    }
    case 1: {
        unsigned char maskAddress[2] = {}, frameInfo = 0, tags[5000];
        int total = 0, count = 0;
        status = Inventory_G2(&adr, 0, maskAddress, 0, nullptr, 0, 0, 0, 0, tags, &frameInfo, &total, &count,
                              r.port);
        if (status >= 0x01 && status <= 0x04) status = MORVENT_OK;
        if (status == 0xFB) status = MORVENT_OK;  // no tag: a valid answer too
        break;
    }
    default: {
        status = SetInventoryScanTime(&adr, r.scanTime, r.port);  // keeps the reader's identity
        if (status == MORVENT_OK && adr != r.address) ++tally.crossTalk;
        break;
    }
    }
    ++tally.commands;
    if (status == MORVENT_OK)
        ++tally.answered;
    else if (!linkFailure(status) && ++tally.unexpected == 1)
        std::printf("sim stress: unexpected status 0x%02X from command %u on port %d\n", status, n % 3, r.port);
}

TEST(Stress, SimulatedReadersWithFaults) {
    const int seconds = stressSeconds();
    const int fdsBefore = openDescriptors();
    std::vector<std::unique_ptr<SimReader>> readers;
    for (int i = 0; i < 3; ++i) {
        sim::HostOptions options;
        options.scenario.settings.address = static_cast<unsigned char>(0x10 + i);
        options.scenario.settings.scanTime = static_cast<unsigned char>(3 + i);  // inventories take scan time; 3 is the least
        options.tcp = i != 1;
        options.pty = i == 1;
        if (i == 2) {
            options.scenario.faults.seed = 7;
            options.scenario.faults.corruptCrc = 0.05;
            options.scenario.faults.drop = 0.02;
            options.scenario.faults.strayAfter = 0.03;
            options.scenario.faults.split = 0.2;
        }
        auto r = std::make_unique<SimReader>();
        r->host = std::make_unique<sim::ReaderHost>(options);
        r->address = options.scenario.settings.address;
        r->scanTime = options.scenario.settings.scanTime;
        r->serial = options.pty;
        if (r->serial) {
            r->port = kFirstCom + i;
            r->com = std::make_unique<ComMapping>(r->port, r->host->ptyPath());
        } else {
            r->port = r->host->tcpPort();
        }
        readers.push_back(std::move(r));
    }
    for (auto& r : readers) ASSERT_EQ(r->open(), MORVENT_OK) << "reader " << r->port;

    Tally tally;
    std::atomic<bool> stop{false};
    std::atomic<long> cycles{0};
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < 4; ++w) {
        threads.emplace_back([&, w] {
            for (unsigned n = w; !stop.load(); n += 4) issueCommand(*readers[n % readers.size()], n / 3, tally);
        });
    }
    threads.emplace_back([&] {
        for (unsigned n = 0; !stop.load(); ++n) {
            SimReader& r = *readers[1 + n % 2];
            EXPECT_EQ(r.close(), MORVENT_OK);
            std::this_thread::sleep_for(std::chrono::milliseconds(20 + n % 40));
            const int status = r.open();
            if (status != MORVENT_OK && !linkFailure(status)) ++tally.unexpected;
            ++cycles;
            std::this_thread::sleep_for(std::chrono::milliseconds(300 + (n % 5) * 100));
        }
    });
    const int workers = static_cast<int>(threads.size());
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto& t : threads) t.join();
    for (auto& r : readers) EXPECT_EQ(r->close(), MORVENT_OK);
    readers.clear();  // the simulated readers' own descriptors go too
    const int fdsAfter = openDescriptors();

    std::printf("sim stress: %d threads, %ld commands (%ld answered), %ld close/reopen cycles, %d s; "
                "descriptors %d before, %d after\n",
                workers, tally.commands.load(), tally.answered.load(), cycles.load(), seconds, fdsBefore, fdsAfter);
    EXPECT_EQ(tally.crossTalk.load(), 0);
    EXPECT_EQ(tally.unexpected.load(), 0);
    EXPECT_GT(tally.answered.load(), 50);
    EXPECT_EQ(fdsAfter, fdsBefore);
}

}  // namespace
}  // namespace mvtest

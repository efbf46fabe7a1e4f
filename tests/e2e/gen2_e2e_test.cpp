// Gen2 tag commands end to end: inventories, memory round trips and the
// protection commands change the simulated field as a real reader's would.
#include <vector>

#include "e2e_support.h"

using namespace e2e;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes kEpc1 = {0xE2, 0x00, 0x34, 0x12, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
Bytes kEpc2 = {0x30, 0x00, 0x11, 0x11, 0x22, 0x22, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55};
unsigned char kNoPassword[4] = {0, 0, 0, 0};
unsigned char kAccess2[4] = {0x12, 0x34, 0x56, 0x78};
unsigned char kNoMaskAddress[2] = {0, 0};

struct Inventory {
    int status = -1;
    std::vector<Bytes> epcs;
    std::vector<Bytes> tids;
    int tagCount = -1;
    int totalLength = -1;
};

// Inventory_G2, its records split by the documented layout.
Inventory inventory(int port, const Bytes* mask = nullptr, int tidWords = -1, std::uint8_t maskBank = 1,
                    std::uint16_t maskBit = 0x20) {
    Inventory result;
    unsigned char address = 0xFF, frameInfo = 0;
    unsigned char maskAddress[2] = {static_cast<unsigned char>(maskBit >> 8), static_cast<unsigned char>(maskBit)};
    std::vector<unsigned char> tagData(5000);
    Bytes maskBytes = mask ? *mask : Bytes();
    result.status = Inventory_G2(&address, maskBank, maskAddress, static_cast<unsigned char>(maskBytes.size() * 8),
                                 maskBytes.data(), mask ? 1 : 0, 0, static_cast<unsigned char>(tidWords),
                                 tidWords >= 0 ? 1 : 0, tagData.data(), &frameInfo, &result.totalLength,
                                 &result.tagCount, port);
    for (int at = 0; at < result.totalLength;) {
        const int epcLength = tagData[at];
        result.epcs.emplace_back(tagData.begin() + at + 1, tagData.begin() + at + 1 + epcLength);
        at += 1 + epcLength;
        if (tidWords >= 0) {
            result.tids.emplace_back(tagData.begin() + at + 1, tagData.begin() + at + 1 + tagData[at]);
            at += 1 + tagData[at];
        }
    }
    return result;
}

int readWords(int port, Bytes epc, unsigned char bank, unsigned char pointer, unsigned char count,
              unsigned char* password, Bytes& out, int& errorCode) {
    unsigned char address = 0xFF;
    out.assign(2 * count, 0);
    return ReadData_G2(&address, epc.data(), static_cast<unsigned char>(epc.size() / 2), bank, pointer, count, password,
                       0, kNoMaskAddress, 0, nullptr, out.data(), &errorCode, port);
}

int writeWords(int port, Bytes epc, unsigned char bank, unsigned char pointer, Bytes words, unsigned char* password,
               int& errorCode, bool block = false) {
    unsigned char address = 0xFF;
    auto write = block ? BlockWrite_G2 : WriteData_G2;
    return write(&address, epc.data(), static_cast<unsigned char>(words.size() / 2),
                 static_cast<unsigned char>(epc.size() / 2), bank, pointer, words.data(), password, 0, kNoMaskAddress,
                 0, nullptr, &errorCode, port);
}

class Gen2 : public ::testing::TestWithParam<bool> {
protected:
    Gen2() : host_(bothLinks(scenario())), link_(GetParam() ? Link::serial(host_, 12) : Link::tcp(host_)) {}
    static sim::Scenario scenario() {
        sim::Scenario s = sim::defaultScenario();
        s.settings.tagsPerFrame = 2;  // every full inventory spans three frames
        return s;
    }
    void SetUp() override { ASSERT_EQ(link_.status, MORVENT_OK); }
    int port() const { return link_.port; }

    sim::ReaderHost host_;
    Link link_;
};

}  // namespace

TEST_P(Gen2, InventoryGathersEveryFrame) {
    Inventory all = inventory(port());
    EXPECT_EQ(all.status, 0x01);
    ASSERT_EQ(all.epcs.size(), defaultTags());
    EXPECT_EQ(all.epcs[0], kEpc1);
    EXPECT_EQ(all.epcs[1], kEpc2);
    EXPECT_EQ(all.tagCount, 1) << "the last frame's count";

    const Bytes prefix = {0x30, 0x00};
    Inventory masked = inventory(port(), &prefix, 2);
    EXPECT_EQ(masked.status, 0x01);
    ASSERT_EQ(masked.epcs.size(), 2u);
    EXPECT_EQ(masked.epcs[0], kEpc2);
    EXPECT_EQ(masked.tids[0], (Bytes{0xE2, 0x80, 0x11, 0x05}));

    const Bytes tidPrefix = {0xE2, 0x00, 0x34, 0x12};
    Inventory byTid = inventory(port(), &tidPrefix, -1, 2, 0);
    ASSERT_EQ(byTid.epcs.size(), 1u);
    EXPECT_EQ(byTid.epcs[0], (Bytes{0x30, 0x00, 0xAA, 0xAA, 0xBB, 0xBB}));

    const Bytes nothing = {0x99};
    Inventory none = inventory(port(), &nothing);
    EXPECT_EQ(none.status, 0xFB);
    EXPECT_EQ(none.totalLength, 0);
    EXPECT_EQ(none.tagCount, -1) << "left as the caller set it";

    unsigned char address = 0xFF, tagData[256];
    int tagCount = 0;
    ASSERT_EQ(SingleTagInventory_G2(&address, tagData, nullptr, &tagCount, port()), 0x01);
    EXPECT_EQ(tagCount, 1);
    EXPECT_EQ(Bytes(tagData + 1, tagData + 1 + tagData[0]), kEpc1);
}

TEST_P(Gen2, MemoryRoundTrips) {
    int errorCode = 0;
    Bytes read;
    ASSERT_EQ(writeWords(port(), kEpc1, 3, 4, {0xCA, 0xFE, 0xBA, 0xBE}, kNoPassword, errorCode), MORVENT_OK);
    EXPECT_EQ(errorCode, -1);
    ASSERT_EQ(readWords(port(), kEpc1, 3, 3, 3, kNoPassword, read, errorCode), MORVENT_OK);
    EXPECT_EQ(read, (Bytes{0x66, 0x77, 0xCA, 0xFE, 0xBA, 0xBE}));

    ASSERT_EQ(writeWords(port(), kEpc1, 3, 0, {1, 2, 3, 4, 5, 6}, kNoPassword, errorCode, true), MORVENT_OK);
    unsigned char address = 0xFF;
    ASSERT_EQ(BlockErase_G2(&address, kEpc1.data(), 6, 3, 1, 1, kNoPassword, 0, kNoMaskAddress, 0, nullptr, &errorCode,
                            port()),
              MORVENT_OK);
    ASSERT_EQ(readWords(port(), kEpc1, 3, 0, 3, kNoPassword, read, errorCode), MORVENT_OK);
    EXPECT_EQ(read, (Bytes{1, 2, 0, 0, 5, 6}));

    // Mask addressing: the tag whose TID starts E2003412.
    unsigned char tidMask[4] = {0xE2, 0x00, 0x34, 0x12}, maskAddress[2] = {0, 0};
    Bytes data(4);
    ASSERT_EQ(ReadData_G2(&address, nullptr, 0xFF, 1, 2, 2, kNoPassword, 2, maskAddress, 32, tidMask, data.data(),
                          &errorCode, port()),
              MORVENT_OK);
    EXPECT_EQ(data, (Bytes{0x30, 0x00, 0xAA, 0xAA}));

    EXPECT_EQ(readWords(port(), kEpc1, 3, 40, 1, kNoPassword, read, errorCode), MORVENT_TAG_ERROR);
    EXPECT_EQ(errorCode, 0x03);
    EXPECT_EQ(writeWords(port(), kEpc1, 2, 0, {0, 0}, kNoPassword, errorCode), MORVENT_TAG_ERROR);
    EXPECT_EQ(errorCode, 0x04);
    EXPECT_EQ(readWords(port(), {0x12, 0x34}, 3, 0, 1, kNoPassword, read, errorCode), 0xFB);
}

TEST_P(Gen2, WriteEpcShowsInTheNextInventory) {
    Bytes fresh = {0xAB, 0xCD, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03};
    unsigned char address = 0xFF;
    int errorCode = 0;
    ASSERT_EQ(WriteEPC_G2(&address, kNoPassword, fresh.data(), 4, &errorCode, port()), MORVENT_OK);
    EXPECT_EQ(errorCode, -1);
    Inventory all = inventory(port());
    ASSERT_EQ(all.epcs.size(), defaultTags());
    EXPECT_EQ(all.epcs[0], fresh);
}

TEST_P(Gen2, LockThenWriteWithoutPasswordFails) {
    unsigned char address = 0xFF;
    int errorCode = 0;
    ASSERT_EQ(Lock_G2(&address, kEpc2.data(), 6, 4, 2, kAccess2, 0, kNoMaskAddress, 0, nullptr, &errorCode, port()),
              MORVENT_OK);
    EXPECT_EQ(writeWords(port(), kEpc2, 3, 0, {0x11, 0x11}, kNoPassword, errorCode), MORVENT_TAG_ERROR);
    EXPECT_EQ(errorCode, 0x04);
    EXPECT_EQ(writeWords(port(), kEpc2, 3, 0, {0x11, 0x11}, kAccess2, errorCode), MORVENT_OK);
    EXPECT_EQ(errorCode, -1);
    unsigned char wrong[4] = {0, 0, 0, 9};
    EXPECT_EQ(Lock_G2(&address, kEpc2.data(), 6, 4, 0, wrong, 0, kNoMaskAddress, 0, nullptr, &errorCode, port()),
              MORVENT_TAG_ERROR);
    EXPECT_EQ(errorCode, 0x05);

    // Block lock: words 4 to 7 of user memory.
    ASSERT_EQ(BlockLock_G2(&address, kEpc2.data(), 6, kAccess2, 0x02, 0, kNoMaskAddress, 0, nullptr, &errorCode, port()),
              MORVENT_OK);
    EXPECT_EQ(writeWords(port(), kEpc2, 3, 5, {0, 1}, kAccess2, errorCode), MORVENT_TAG_ERROR);
    EXPECT_EQ(writeWords(port(), kEpc2, 3, 8, {0, 1}, kAccess2, errorCode), MORVENT_OK);
}

TEST_P(Gen2, KillRemovesTheTagFromTheField) {
    unsigned char address = 0xFF, kill[4] = {0x87, 0x65, 0x43, 0x21}, wrong[4] = {1, 2, 3, 4};
    int errorCode = 0;
    EXPECT_EQ(KillTag_G2(&address, kEpc2.data(), 6, wrong, 0, kNoMaskAddress, 0, nullptr, &errorCode, port()),
              MORVENT_TAG_ERROR);
    EXPECT_EQ(errorCode, 0x05);
    ASSERT_EQ(KillTag_G2(&address, kEpc2.data(), 6, kill, 0, kNoMaskAddress, 0, nullptr, &errorCode, port()),
              MORVENT_OK);
    Inventory all = inventory(port());
    EXPECT_EQ(all.epcs.size(), defaultTags() - 1);
    for (const Bytes& epc : all.epcs) EXPECT_NE(epc, kEpc2);
}

TEST_P(Gen2, PrivacyAndEas) {
    unsigned char address = 0xFF, state = 0x77;
    int errorCode = 0;
    ASSERT_EQ(CheckPrivacy_G2(&address, &state, &errorCode, port()), MORVENT_OK);
    EXPECT_EQ(state, 0);
    ASSERT_EQ(SetPrivacyByEPC_G2(&address, kEpc1.data(), 6, kNoPassword, 0, kNoMaskAddress, 0, nullptr, &errorCode,
                                 port()),
              MORVENT_OK);
    ASSERT_EQ(CheckPrivacy_G2(&address, &state, &errorCode, port()), MORVENT_OK);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(inventory(port()).epcs.size(), defaultTags() - 1);
    ASSERT_EQ(ResetPrivacy_G2(&address, kNoPassword, &errorCode, port()), MORVENT_OK);
    EXPECT_EQ(inventory(port()).epcs.size(), defaultTags());
    ASSERT_EQ(SetPrivacyWithoutEPC_G2(&address, kNoPassword, &errorCode, port()), MORVENT_OK);
    EXPECT_EQ(inventory(port()).epcs.size(), defaultTags() - 1);

    EXPECT_EQ(EASAlarm_G2(&address, &errorCode, port()), 0xFB);
    EXPECT_EQ(EASConfigure_G2(&address, kEpc2.data(), 6, kNoPassword, 1, 0, kNoMaskAddress, 0, nullptr, &errorCode,
                              port()),
              MORVENT_TAG_ERROR);
    address = 0xFF;
    ASSERT_EQ(EASConfigure_G2(&address, kEpc2.data(), 6, kAccess2, 1, 0, kNoMaskAddress, 0, nullptr, &errorCode, port()),
              MORVENT_OK);
    EXPECT_EQ(address, 0x00) << "written back on success";
    errorCode = 0;
    EXPECT_EQ(EASAlarm_G2(&address, &errorCode, port()), MORVENT_OK);
    EXPECT_EQ(errorCode, -1);
}

TEST_P(Gen2, TooManyEpcWordsIsRefusedBeforeSending) {
    unsigned char address = 0xFF;
    int errorCode = 7;
    Bytes data(2);
    std::vector<unsigned char> epc(32);
    EXPECT_EQ(ReadData_G2(&address, epc.data(), 16, 3, 0, 1, kNoPassword, 0, kNoMaskAddress, 0, nullptr, data.data(),
                          &errorCode, port()),
              MORVENT_PARAM_RANGE);
    EXPECT_EQ(errorCode, 7);
    EXPECT_EQ(scanTimeOf(0xFF, port()), 10) << "nothing half-sent on the link";
}

INSTANTIATE_TEST_SUITE_P(Links, Gen2, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Serial" : "Tcp"; });

// Frames of 35 tags sent 70 ms apart as their tags are found, longer than a frame takes on the line: all
// 200 tags come back, and the next command gets its own answer, not a stray frame.
class LongInventory : public ::testing::TestWithParam<bool> {};

TEST_P(LongInventory, FramesArrivingApartAllCountAndTheNextCommandIsAnswered) {
    sim::HostOptions options = bothLinks();
    options.pacing = true;
    options.scenario.gen2.clear();
    std::vector<Bytes> field;
    for (int i = 0; i < 200; ++i) {
        field.push_back({0x30, 0x00, 0x20, 0x26, static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)});
        options.scenario.gen2.emplace_back(field.back(), Bytes(), Bytes());
    }
    sim::ReaderHost host(options);
    Link link = GetParam() ? Link::serial(host, 13) : Link::tcp(host);
    ASSERT_TRUE(link.open());
    const Inventory all = inventory(link.port);
    EXPECT_EQ(all.epcs, field);
    EXPECT_EQ(scanTimeOf(0xFF, link.port), 10);
}

INSTANTIATE_TEST_SUITE_P(Links, LongInventory, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Serial" : "Tcp"; });

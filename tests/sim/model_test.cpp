// The reader model answering raw request frames: layouts, statuses and the
// state changes that tag and setting commands make.
#include <gtest/gtest.h>

#include "sim/scenario.h"
#include "sim_support.h"

using namespace simtest;
using sim::ReaderModel;

namespace {

const Bytes kEpc1 = hex("E2003412 0123 4567 89AB CDEF");
const Bytes kEpc2 = hex("3000 1111 2222 3333 4444 5555");
const Bytes kNoPassword{0, 0, 0, 0};
const Bytes kAccess2 = hex("12345678");
const std::size_t kDefaultTags = sim::defaultScenario().gen2.size();

ReaderModel defaultModel() {
    sim::Scenario s = sim::defaultScenario();
    ReaderModel model(s.settings);
    model.gen2Tags() = s.gen2;
    model.tags6B() = s.tags6B;
    return model;
}

// EPC-addressed request data: epcWords, EPC, then the command fields.
Bytes byEpc(const Bytes& epc, const Bytes& fields) {
    return cat({{static_cast<std::uint8_t>(epc.size() / 2)}, epc, fields});
}

Bytes readFields(std::uint8_t bank, std::uint8_t pointer, std::uint8_t count, const Bytes& password) {
    return cat({{bank, pointer, count}, password});
}

Bytes writeRequest(const Bytes& epc, std::uint8_t bank, std::uint8_t pointer, const Bytes& words, const Bytes& password) {
    return cat({{static_cast<std::uint8_t>(words.size() / 2)}, byEpc(epc, cat({{bank, pointer}, words, password}))});
}

// EPCs of an inventory answer's records, across all its frames.
std::vector<Bytes> inventoriedEpcs(const std::vector<Bytes>& frames, bool withTid = false) {
    std::vector<Bytes> epcs;
    for (const Bytes& frame : frames) {
        const Bytes d = body(frame);
        std::size_t at = 2;
        for (int tag = 0; tag < d.at(1); ++tag) {
            epcs.emplace_back(d.begin() + at + 1, d.begin() + at + 1 + d.at(at));
            at += 1 + d.at(at);
            if (withTid) at += 1 + d.at(at);
        }
        EXPECT_EQ(at, d.size());
    }
    return epcs;
}

}  // namespace

TEST(Model, ReaderInformationAndAddressing) {
    ReaderModel model = defaultModel();
    auto frames = ask(model, 0x21);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][0], 0x11);
    EXPECT_EQ(frames[0][1], 0x00);
    EXPECT_EQ(body(frames[0])[7], model.settings().scanTime);
    EXPECT_TRUE(ask(model, 0x21, {}, 0x07).empty()) << "another reader's address gets no answer";
    EXPECT_EQ(status(ask(model, 0x24, {0x07})[0]), 0x00);
    EXPECT_EQ(ask(model, 0x21, {}, 0x07)[0][1], 0x07);
    EXPECT_EQ(status(ask(model, 0x24, {0xFF})[0]), sim::kBadParameter);
    EXPECT_EQ(status(ask(model, 0x77)[0]), sim::kUnknownCommand);
}

TEST(Model, InventoryListsEveryTagAndFillsTheBuffer) {
    ReaderModel model = defaultModel();
    auto frames = ask(model, 0x01);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(status(frames[0]), sim::kInventoryDone);
    auto epcs = inventoriedEpcs(frames);
    ASSERT_EQ(epcs.size(), kDefaultTags);
    EXPECT_EQ(epcs[0], kEpc1);
    EXPECT_EQ(epcs[1], kEpc2);
    EXPECT_EQ(model.tagBuffer().size(), kDefaultTags);
    ask(model, 0x01);
    EXPECT_EQ(model.tagBuffer()[0].count, 2);
}

TEST(Model, InventorySpreadsOverFramesWithMoreStatus) {
    ReaderModel model = defaultModel();
    model.settings().tagsPerFrame = 2;
    auto frames = ask(model, 0x01);
    ASSERT_EQ(frames.size(), (kDefaultTags + 1) / 2);
    for (std::size_t i = 0; i + 1 < frames.size(); ++i) EXPECT_EQ(status(frames[i]), sim::kInventoryMore);
    EXPECT_EQ(status(frames.back()), sim::kInventoryDone);
    EXPECT_EQ(inventoriedEpcs(frames).size(), kDefaultTags);
}

TEST(Model, InventoryOfManyTagsFillsFramesToTheLengthLimit) {
    ReaderModel model;
    for (int i = 0; i < 40; ++i) model.gen2Tags().emplace_back(Bytes(12, static_cast<std::uint8_t>(i)), Bytes(8), Bytes());
    auto frames = ask(model, 0x01);
    ASSERT_GE(frames.size(), 2u);
    for (const Bytes& f : frames) EXPECT_LE(f.size(), 256u);
    EXPECT_EQ(inventoriedEpcs(frames).size(), 40u);
}

TEST(Model, InventoryHonoursMaskAndTid) {
    ReaderModel model = defaultModel();
    // EPC bank, bit 0x20 (the EPC's first bit), 16 bits 0x3000.
    auto frames = ask(model, 0x01, {0x01, 0x00, 0x20, 16, 0x30, 0x00});
    auto epcs = inventoriedEpcs(frames);
    ASSERT_EQ(epcs.size(), 2u);
    EXPECT_EQ(epcs[0], kEpc2);

    frames = ask(model, 0x01, {0x01, 0x00, 0x20, 16, 0x30, 0x00, 0x00, 0x02});
    epcs = inventoriedEpcs(frames, true);
    ASSERT_EQ(epcs.size(), 2u);
    const Bytes d = body(frames[0]);
    const std::size_t tidAt = 2 + 1 + d[2];
    EXPECT_EQ(d[tidAt], 4);
    EXPECT_EQ(Bytes(d.begin() + tidAt + 1, d.begin() + tidAt + 5), hex("E2801105"));

    // TID only, no mask: every tag, each with 2 TID words.
    EXPECT_EQ(inventoriedEpcs(ask(model, 0x01, {0x02, 0x02}), true).size(), kDefaultTags);
    // A mask that nothing matches.
    frames = ask(model, 0x01, {0x01, 0x00, 0x20, 8, 0x99});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(status(frames[0]), sim::kNoTag);
    EXPECT_EQ(status(ask(model, 0x01, {0x01, 0x00, 0x20, 16, 0x30})[0]), sim::kBadLength);
}

TEST(Model, ReadWriteEraseRoundTrips) {
    ReaderModel model = defaultModel();
    const Bytes words = hex("CAFE BABE");
    EXPECT_EQ(status(ask(model, 0x03, writeRequest(kEpc1, 3, 2, words, kNoPassword))[0]), 0x00);
    auto frames = ask(model, 0x02, byEpc(kEpc1, readFields(3, 1, 3, kNoPassword)));
    EXPECT_EQ(body(frames[0]), cat({hex("2233"), words}));

    EXPECT_EQ(status(ask(model, 0x10, writeRequest(kEpc1, 3, 0, hex("0102 0304 0506"), kNoPassword))[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x07, byEpc(kEpc1, readFields(3, 1, 1, kNoPassword)))[0]), 0x00);
    frames = ask(model, 0x02, byEpc(kEpc1, readFields(3, 0, 3, kNoPassword)));
    EXPECT_EQ(body(frames[0]), hex("0102 0000 0506"));

    // Mask addressing reaches the same tag; TID is read-only; overruns.
    const Bytes mask = {0x01, 0x00, 0x20, 32, 0xE2, 0x00, 0x34, 0x12};
    frames = ask(model, 0x02, cat({{0xFF}, readFields(2, 0, 2, kNoPassword), mask}));
    EXPECT_EQ(body(frames[0]), hex("E2801105"));
    frames = ask(model, 0x03, writeRequest(kEpc1, 2, 0, hex("0000"), kNoPassword));
    EXPECT_EQ(body(frames[0]), Bytes{sim::kTagMemoryLocked});
    frames = ask(model, 0x02, byEpc(kEpc1, readFields(3, 15, 2, kNoPassword)));
    EXPECT_EQ(status(frames[0]), sim::kTagFault);
    EXPECT_EQ(body(frames[0]), Bytes{sim::kTagMemoryOverrun});
    EXPECT_EQ(status(ask(model, 0x02, byEpc(hex("0000"), readFields(3, 0, 1, kNoPassword)))[0]), sim::kNoTag);
}

TEST(Model, WriteEpcShowsInTheNextInventoryAndTheEpcBank) {
    ReaderModel model = defaultModel();
    const Bytes fresh = hex("ABCD 0001 0002 0003");
    EXPECT_EQ(status(ask(model, 0x04, cat({{4}, kNoPassword, fresh}))[0]), 0x00);
    EXPECT_EQ(inventoriedEpcs(ask(model, 0x01))[0], fresh);
    auto frames = ask(model, 0x02, byEpc(fresh, readFields(1, 1, 1, kNoPassword)));
    EXPECT_EQ(body(frames[0]), hex("2000")) << "PC word carries 4 EPC words";
    // Writing the PC word shortens the EPC.
    EXPECT_EQ(status(ask(model, 0x03, writeRequest(fresh, 1, 1, hex("1000"), kNoPassword))[0]), 0x00);
    EXPECT_EQ(inventoriedEpcs(ask(model, 0x01))[0], hex("ABCD 0001"));
}

TEST(Model, LockedAreasNeedTheAccessPassword) {
    ReaderModel model = defaultModel();
    const Bytes write = writeRequest(kEpc2, 3, 0, hex("1111"), kNoPassword);
    // Lock user memory (target 4) in the secured mode (2).
    EXPECT_EQ(body(ask(model, 0x06, byEpc(kEpc2, cat({{4, 2}, kNoPassword})))[0]), Bytes{sim::kTagWrongPassword});
    EXPECT_EQ(status(ask(model, 0x06, byEpc(kEpc2, cat({{4, 2}, kAccess2})))[0]), 0x00);
    auto frames = ask(model, 0x03, write);
    EXPECT_EQ(status(frames[0]), sim::kTagFault);
    EXPECT_EQ(body(frames[0]), Bytes{sim::kTagMemoryLocked});
    EXPECT_EQ(status(ask(model, 0x03, writeRequest(kEpc2, 3, 0, hex("1111"), kAccess2))[0]), 0x00);
    EXPECT_EQ(body(ask(model, 0x03, writeRequest(kEpc2, 3, 0, hex("1111"), hex("00000001")))[0]),
              Bytes{sim::kTagWrongPassword});
    // Permanently locked stays locked.
    EXPECT_EQ(status(ask(model, 0x06, byEpc(kEpc2, cat({{4, 3}, kAccess2})))[0]), 0x00);
    EXPECT_EQ(body(ask(model, 0x06, byEpc(kEpc2, cat({{4, 0}, kAccess2})))[0]), Bytes{sim::kTagMemoryLocked});
    EXPECT_EQ(status(ask(model, 0x03, writeRequest(kEpc2, 3, 0, hex("1111"), kAccess2))[0]), sim::kTagFault);
    EXPECT_EQ(status(ask(model, 0x06, byEpc(kEpc2, cat({{5, 0}, kAccess2})))[0]), sim::kBadParameter);
}

TEST(Model, ReadLockedPasswordsAndBlockLocks) {
    ReaderModel model = defaultModel();
    // Secure the access password: reading it then needs the password.
    EXPECT_EQ(status(ask(model, 0x06, byEpc(kEpc2, cat({{1, 2}, kAccess2})))[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x02, byEpc(kEpc2, readFields(0, 2, 2, kNoPassword)))[0]), sim::kTagFault);
    EXPECT_EQ(body(ask(model, 0x02, byEpc(kEpc2, readFields(0, 2, 2, kAccess2)))[0]), kAccess2);
    // Block 1 of user memory (words 4 to 7) permalocked.
    EXPECT_EQ(status(ask(model, 0x0E, byEpc(kEpc2, cat({kAccess2, {0x02}})))[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x03, writeRequest(kEpc2, 3, 3, hex("0001"), kNoPassword))[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x03, writeRequest(kEpc2, 3, 3, hex("0001 0002"), kNoPassword))[0]), sim::kTagFault);
}

TEST(Model, KillRemovesTheTag) {
    ReaderModel model = defaultModel();
    EXPECT_EQ(body(ask(model, 0x05, byEpc(kEpc2, hex("00000001")))[0]), Bytes{sim::kTagWrongPassword});
    EXPECT_EQ(body(ask(model, 0x05, byEpc(kEpc1, hex("00000000")))[0]), Bytes{sim::kTagNonSpecific});
    EXPECT_EQ(status(ask(model, 0x05, byEpc(kEpc2, hex("87654321")))[0]), 0x00);
    auto epcs = inventoriedEpcs(ask(model, 0x01));
    EXPECT_EQ(epcs.size(), kDefaultTags - 1);
    EXPECT_EQ(std::count(epcs.begin(), epcs.end(), kEpc2), 0);
    EXPECT_EQ(status(ask(model, 0x05, byEpc(kEpc2, hex("87654321")))[0]), sim::kNoTag);
}

TEST(Model, PrivacyHidesTheTagUntilReset) {
    ReaderModel model = defaultModel();
    EXPECT_EQ(body(ask(model, 0x0B)[0]), Bytes{0});
    EXPECT_EQ(status(ask(model, 0x08, byEpc(kEpc1, kNoPassword))[0]), 0x00);
    EXPECT_EQ(body(ask(model, 0x0B)[0]), Bytes{1});
    EXPECT_EQ(inventoriedEpcs(ask(model, 0x01)).size(), kDefaultTags - 1);
    EXPECT_EQ(status(ask(model, 0x02, byEpc(kEpc1, readFields(3, 0, 1, kNoPassword)))[0]), sim::kNoTag);
    EXPECT_EQ(status(ask(model, 0x0A, kNoPassword)[0]), 0x00);
    EXPECT_EQ(inventoriedEpcs(ask(model, 0x01)).size(), kDefaultTags);
    EXPECT_EQ(status(ask(model, 0x0A, kNoPassword)[0]), sim::kNoTag);
    // The first visible tag without EPC addressing; then a password mismatch on reset.
    EXPECT_EQ(status(ask(model, 0x09, kNoPassword)[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x08, byEpc(kEpc2, kAccess2))[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x0A, kNoPassword)[0]), 0x00);
    EXPECT_EQ(body(ask(model, 0x0A, hex("00000009"))[0]), Bytes{sim::kTagWrongPassword});
}

TEST(Model, EasAlarmFollowsTheTagsEasState) {
    ReaderModel model = defaultModel();
    EXPECT_EQ(status(ask(model, 0x0D)[0]), sim::kNoTag);
    EXPECT_EQ(body(ask(model, 0x0C, byEpc(kEpc2, cat({kNoPassword, {1}})))[0]), Bytes{sim::kTagWrongPassword});
    EXPECT_EQ(status(ask(model, 0x0C, byEpc(kEpc2, cat({kAccess2, {1}})))[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x0D)[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x0C, byEpc(kEpc2, cat({kAccess2, {0}})))[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x0D)[0]), sim::kNoTag);
}

TEST(Model, SixBFamily) {
    ReaderModel model = defaultModel();
    const Bytes uid1 = hex("E004 0100 1234 5678"), uid2 = hex("E004 0100 8765 4321");
    auto frames = ask(model, 0x50);
    EXPECT_EQ(body(frames[0]), cat({{1}, uid1}));
    // Equal on byte 7 of the UID (address 0, mask bit 0 = compare byte 7).
    frames = ask(model, 0x51, cat({{0, 0, 0x01}, hex("0000000000000021")}));
    EXPECT_EQ(body(frames[0]), cat({{1, 1}, uid2}));
    frames = ask(model, 0x51, cat({{1, 0, 0x00}, Bytes(8)}));
    EXPECT_EQ(status(frames[0]), sim::kNoTag) << "not-equal on no byte selects nothing";
    frames = ask(model, 0x51, cat({{2, 4, 0xF0}, hex("1234567800000000")}));
    EXPECT_EQ(body(frames[0]), cat({{1, 1}, uid2}));
    EXPECT_EQ(body(ask(model, 0x52, cat({{18}, uid1, {5}}))[0]), hex("48656C6C6F"));

    EXPECT_EQ(status(ask(model, 0x53, cat({{30}, uid1, hex("0102")}))[0]), 0x00);
    EXPECT_EQ(body(ask(model, 0x52, cat({{30}, uid1, {2}}))[0]), hex("0102"));
    EXPECT_EQ(body(ask(model, 0x54, cat({{30}, uid1}))[0]), Bytes{0});
    EXPECT_EQ(status(ask(model, 0x55, cat({{30}, uid1}))[0]), 0x00);
    EXPECT_EQ(body(ask(model, 0x54, cat({{30}, uid1}))[0]), Bytes{1});
    EXPECT_EQ(body(ask(model, 0x53, cat({{29}, uid1, hex("0102")}))[0]), Bytes{sim::kTagMemoryLocked});
    EXPECT_EQ(body(ask(model, 0x53, cat({{0}, uid1, hex("01")}))[0]), Bytes{sim::kTagMemoryLocked});
    EXPECT_EQ(body(ask(model, 0x52, cat({{250}, uid1, {10}}))[0]), Bytes{sim::kTagMemoryOverrun});
    EXPECT_EQ(status(ask(model, 0x52, cat({{0}, Bytes(8), {1}}))[0]), sim::kNoTag);
}

TEST(Model, TagBufferIsWalkedAsRecordFramesThenAnEmptyClosingFrame) {
    ReaderModel model = defaultModel();
    auto frames = ask(model, 0x43);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), 6u);
    EXPECT_EQ(status(frames[0]), 0x00);

    ask(model, 0x01);
    ask(model, 0x50);
    frames = ask(model, 0x43);
    ASSERT_EQ(frames.size(), kDefaultTags + 2);  // the Gen2 tags, the 6B tag, the closing frame
    for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
        const Bytes d = body(frames[i]);
        EXPECT_NE(status(frames[i]), 0x00);
        EXPECT_EQ(d.size(), 12u + d[11]);
    }
    const Bytes first = body(frames[0]);
    EXPECT_EQ(Bytes(first.begin() + 12, first.end()), kEpc1);
    EXPECT_EQ(body(frames[kDefaultTags])[0], 1) << "6B record type";
    EXPECT_EQ(frames.back().size(), 6u);
    EXPECT_EQ(status(frames.back()), 0x00);
    ask(model, 0x44);
    EXPECT_EQ(ask(model, 0x43).size(), 1u);
}

TEST(Model, ClockRunsOnFromTheValueSet) {
    auto now = std::chrono::steady_clock::time_point{};
    ReaderModel model({}, [&now] { return now; });
    EXPECT_EQ(status(ask(model, 0x41, {24, 2, 28, 23, 59, 30})[0]), 0x00);
    now += std::chrono::seconds(65);
    EXPECT_EQ(body(ask(model, 0x42)[0]), (Bytes{24, 2, 29, 0, 0, 35}));
    now += std::chrono::hours(24);
    EXPECT_EQ(body(ask(model, 0x42)[0]), (Bytes{24, 3, 1, 0, 0, 35}));
    EXPECT_EQ(status(ask(model, 0x41, {23, 2, 29, 0, 0, 0})[0]), sim::kBadParameter) << "2023 is no leap year";
    EXPECT_EQ(status(ask(model, 0x41, {99, 12, 31, 23, 59, 59})[0]), 0x00);
    now += std::chrono::seconds(1);
    EXPECT_EQ(body(ask(model, 0x42)[0]), (Bytes{0, 1, 1, 0, 0, 0}));
}

TEST(Model, SettingsReadBackThroughTheirQueries) {
    ReaderModel model = defaultModel();
    EXPECT_EQ(status(ask(model, 0x25, {40})[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x25, {1})[0]), sim::kBadParameter);
    EXPECT_EQ(status(ask(model, 0x2F, {31})[0]), sim::kBadParameter);
    EXPECT_EQ(status(ask(model, 0x2F, {12})[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x22, {0x01, 0x02})[0]), 0x00);
    const Bytes info = body(ask(model, 0x21)[0]);
    EXPECT_EQ(info[4], 0x01);
    EXPECT_EQ(info[5], 0x02);
    EXPECT_EQ(info[6], 12);
    EXPECT_EQ(info[7], 40);

    for (auto [cmd, value] : std::vector<std::pair<std::uint8_t, std::uint8_t>>{{0x35, 1}, {0x37, 2}, {0x49, 3}, {0x3D, 6}})
        EXPECT_EQ(status(ask(model, cmd, {value})[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x3C, {4, 5})[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x3B, {0x01, 0x00, 0x20, 12, 0xAB, 0xC0})[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x3E, {1})[0]), 0x00);
    EXPECT_EQ(status(ask(model, 0x3E, {2})[0]), sim::kBadParameter);
    Bytes params = body(ask(model, 0x36)[0]);
    ASSERT_EQ(params.size(), 45u);
    EXPECT_EQ(Bytes(params.begin(), params.begin() + 12), (Bytes{1, 2, 3, 4, 5, 6, 0x01, 0x00, 0x20, 12, 0xAB, 0xC0}));
    EXPECT_EQ(params[42], 1);
    model.settings().shortSystemParameter = true;
    EXPECT_EQ(ask(model, 0x36)[0][0], 0x2F);

    EXPECT_EQ(status(ask(model, 0x46, {0x05})[0]), 0x00);
    model.settings().gpioInputs = 0x3;
    EXPECT_EQ(body(ask(model, 0x47)[0]), Bytes{0x35});
    EXPECT_EQ(status(ask(model, 0x27, {9})[0]), 0x00);
    EXPECT_EQ(body(ask(model, 0x31)[0]), Bytes{9});
    EXPECT_EQ(status(ask(model, 0x29, {0x44})[0]), 0x00);
    EXPECT_EQ(body(ask(model, 0x2A)[0]), Bytes{0x44});
    EXPECT_EQ(status(ask(model, 0x30, {0x02})[0]), 0x00);
    EXPECT_EQ(body(ask(model, 0x32)[0]), Bytes{0x02});
    EXPECT_EQ(body(ask(model, 0x32)[0]), Bytes{0x00});
    EXPECT_EQ(body(ask(model, 0x2C, Bytes(31, 1))[0]), Bytes{31});
    EXPECT_EQ(body(ask(model, 0x2B)[0]), Bytes{31});
    EXPECT_EQ(status(ask(model, 0x4B, hex("5A5A 78563412"))[0]), 0x00);
    EXPECT_EQ(body(ask(model, 0x4C)[0]), hex("78563412"));
    EXPECT_EQ(status(ask(model, 0x4B, hex("5A00 78563412"))[0]), sim::kBadParameter);
    EXPECT_EQ(status(ask(model, 0x25, {})[0]), sim::kBadLength);
}

TEST(Model, BaudRateSwitchAfterTheAnswer) {
    ReaderModel model;
    auto reply = model.handle({0xFF, 0x28, {6}, false});
    ASSERT_TRUE(reply && reply->newBitRate);
    EXPECT_EQ(*reply->newBitRate, 115200u);
    EXPECT_EQ(model.settings().baudCode, 6);
    for (std::uint8_t code : {3, 4, 7}) {
        reply = model.handle({0xFF, 0x28, {code}, false});
        EXPECT_FALSE(reply->newBitRate);
        EXPECT_EQ(reply->wire[3], sim::kBadParameter);
    }
}

TEST(Model, SelfTestTransparentAndAtMode) {
    ReaderModel model;
    model.settings().atModeDelayMs = 1500;
    sim::Request raw;
    raw.command = 0xA5;
    raw.rawSelfTest = true;
    auto reply = model.handle(raw);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->wire[2], 0xA5);
    EXPECT_TRUE(model.selfTest());
    EXPECT_EQ(body(ask(model, 0x4E, {0x00, 1, 2, 3})[0]), (Bytes{1, 2, 3}));
    EXPECT_EQ(ask(model, 0x4E, {0x00})[0].size(), 6u);
    EXPECT_EQ(model.handle({0xFF, 0x4D, {1}, false})->delayMs, 1500u);
}

TEST(Model, ActiveModeRoundsUseTheStoredMaskAndTidParameter) {
    ReaderModel model = defaultModel();
    EXPECT_FALSE(model.activeMode());
    ask(model, 0x35, {0x01});
    ask(model, 0x3B, {0x01, 0x00, 0x20, 16, 0x30, 0x00});
    ask(model, 0x4A, {0x00, 0x01});
    EXPECT_TRUE(model.activeMode());
    auto frames = sim::splitFrames(model.activeRound());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0][2], 0xEE);
    EXPECT_EQ(body(frames[0]), cat({{12}, kEpc2, {2}, hex("E280")}));
    ask(model, 0x3E, {0x01});
    EXPECT_EQ(sim::splitFrames(model.activeRound()).size(), 2u);
}

TEST(Model, MovingTagsEnterAtTheRateAndLeaveAfterTheirStay) {
    auto now = std::chrono::steady_clock::time_point{};
    ReaderModel model({}, [&now] { return now; });
    sim::Population p;
    p.ratePerS = 4;
    p.staySMin = p.staySMax = 1.5;
    p.max = 5;
    model.setPopulation(p);
    EXPECT_EQ(status(ask(model, 0x01)[0]), sim::kNoTag);
    now += std::chrono::milliseconds(1000);
    auto epcs = inventoriedEpcs(ask(model, 0x01));
    ASSERT_EQ(epcs.size(), 4u);
    EXPECT_EQ(epcs[0], hex("3500 0000 0000 0000 0000 0001"));
    EXPECT_EQ(epcs[3], hex("3500 0000 0000 0000 0000 0004"));
    now += std::chrono::milliseconds(1000);  // 4 more due: 1 entered, then 2 as the first two left
    EXPECT_EQ(inventoriedEpcs(ask(model, 0x01)).size(), 5u);
    now += std::chrono::milliseconds(600);  // the first four left; 2 more entered
    epcs = inventoriedEpcs(ask(model, 0x01));
    ASSERT_EQ(epcs.size(), 5u);
    EXPECT_EQ(epcs[0], hex("3500 0000 0000 0000 0000 0005"));
    EXPECT_EQ(model.tagsEntered(), 9u);

    // Unread for 8 s, the field holds the tags of the last stay, not all 40 owed.
    p = {5, 1, 1};
    model.setPopulation(p);
    now += std::chrono::seconds(8);
    EXPECT_NEAR(inventoriedEpcs(ask(model, 0x01)).size(), 5u, 1u);
}

// A reader second on a path sees each of its tags for the dwell, one every
// `every`, from one dwell after the path starts; tags that came and went
// while nobody read are not seen.
TEST(Model, PathTagsPassAtTheirTimes) {
    auto now = std::chrono::steady_clock::time_point{};
    ReaderModel model({}, [&now] { return now; });
    model.addPathStop({2, 1, 3, 1, now});
    EXPECT_EQ(status(ask(model, 0x01)[0]), sim::kNoTag);
    now += std::chrono::milliseconds(1500);
    EXPECT_EQ(inventoriedEpcs(ask(model, 0x01)), std::vector<Bytes>{hex("3602 0000 0000 0000 0000 0001")});
    now += std::chrono::milliseconds(11800);  // 13.3 s: the fifth is here, the first left, the three between went unseen
    EXPECT_EQ(inventoriedEpcs(ask(model, 0x01)), std::vector<Bytes>{hex("3602 0000 0000 0000 0000 0005")});
    EXPECT_EQ(model.gen2Tags().at(0).tid(), hex("E280 1105 3602 0000 0005"));
}

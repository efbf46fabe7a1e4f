// The C++ API against the simulated reader: what the wrapper adds over the
// C functions (ownership, error mapping, record counting over multi-frame
// answers, tag addressing) and the one status table behind every name.
#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "morvent.hpp"
#include "sim/host.h"
#include "support/fake_reader.h"

namespace {

using morvent::Bank;
using morvent::Bytes;
using morvent::Error;
using morvent::Reader;
using morvent::TagRef;

const Bytes kEpc1 = morvent::fromHex("E2003412 0123 4567 89AB CDEF");
const Bytes kEpc2 = morvent::fromHex("3000 1111 2222 3333 4444 5555");

sim::HostOptions tcpOnly(sim::Scenario scenario = sim::defaultScenario()) {
    sim::HostOptions options;
    options.scenario = std::move(scenario);
    return options;
}

int statusOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& error) {
        return error.status();
    }
    return MORVENT_OK;
}

TEST(StatusTable, NamesEveryCodeFromOneTable) {
    EXPECT_STREQ(MorventStatusName(MORVENT_COMM_ERROR), "MORVENT_COMM_ERROR");
    EXPECT_STREQ(MorventStatusName(MORVENT_NO_TAG), "MORVENT_NO_TAG");
    EXPECT_STREQ(MorventStatusName(MORVENT_INVENTORY_MORE), "MORVENT_INVENTORY_MORE");
    EXPECT_STREQ(MorventStatusName(0x5A), "READER_STATUS_0x5A");
    EXPECT_STREQ(MorventStatusName(0xFA), "READER_STATUS_0xFA");
    EXPECT_STREQ(MorventStatusName(MORVENT_EPC_NOT_GS1), "MORVENT_EPC_NOT_GS1");
    EXPECT_STREQ(MorventStatusName(0x200), "MORVENT_UNKNOWN_STATUS");
    EXPECT_STREQ(MorventStatusName(-1), "MORVENT_UNKNOWN_STATUS");
    EXPECT_STREQ(MorventStatusText(MORVENT_CRC_ERROR), "the answer's CRC did not check");
    EXPECT_STREQ(MorventTagErrorName(MORVENT_TAG_ERR_PASSWORD), "MORVENT_TAG_ERR_PASSWORD");
    EXPECT_STREQ(MorventTagErrorName(0x42), "TAG_ERROR_0x42");
    EXPECT_STREQ(MorventTagErrorName(-1), "MORVENT_TAG_ERR_NONE");
    EXPECT_NE(std::string(MorventTagErrorText(0x0B)), MorventTagErrorText(0x42));
    EXPECT_EQ(morvent::version(), MorventVersion());
    EXPECT_NE(std::string(MorventVersion()).find('.'), std::string::npos);
}

TEST(CppApi, ReaderOwnsItsLinkAndCanBeReopened) {
    sim::ReaderHost host(tcpOnly());
    int port = -1;
    {
        Reader reader = Reader::tcp("127.0.0.1", host.tcpPort());
        ASSERT_TRUE(reader.isOpen());
        port = reader.port();
        EXPECT_EQ(port, host.tcpPort());
        Reader moved = std::move(reader);
        EXPECT_FALSE(reader.isOpen());  // NOLINT: the moved-from state is part of the contract
        EXPECT_EQ(moved.port(), port);
        moved.close();
        EXPECT_EQ(statusOf([&] { moved.info(); }), MORVENT_INVALID_PORT);
        moved.reopen();
        EXPECT_EQ(moved.info().scanTime(), 10);
        // The port is open: a second opening of the same index is refused.
        EXPECT_EQ(statusOf([&] { Reader::tcp("127.0.0.1", host.tcpPort()); }), MORVENT_PORT_OPEN);
    }
    // Closed by the destructor: the same index opens again.
    Reader again = Reader::tcp("127.0.0.1", host.tcpPort());
    // A move assignment closes the link it replaces.
    sim::ReaderHost other(tcpOnly());
    again = Reader::tcp("127.0.0.1", other.tcpPort());
    EXPECT_EQ(again.port(), other.tcpPort());
    EXPECT_TRUE(Reader::tcp("127.0.0.1", host.tcpPort()).isOpen());
}

TEST(CppApi, ErrorsCarryStatusNameAndTagError) {
    sim::ReaderHost host(tcpOnly());
    Reader reader = Reader::tcp("localhost", host.tcpPort());
    try {
        reader.read(TagRef::epc(kEpc2), Bank::Reserved, 2, 2, 0x11111111);
        FAIL() << "a wrong password must throw";
    } catch (const Error& error) {
        EXPECT_EQ(error.status(), MORVENT_TAG_ERROR);
        EXPECT_STREQ(error.name(), "MORVENT_TAG_ERROR");
        EXPECT_EQ(error.tagError(), MORVENT_TAG_ERR_PASSWORD);
        EXPECT_STREQ(error.tagErrorName(), "MORVENT_TAG_ERR_PASSWORD");
        EXPECT_NE(std::string(error.what()).find("ReadData_G2"), std::string::npos);
    }
    // Refused before anything is sent: odd EPC, too long a mask, a speed no reader has.
    EXPECT_EQ(statusOf([&] { reader.read(TagRef::epc({1, 2, 3}), Bank::User, 0, 1); }), MORVENT_PARAM_RANGE);
    morvent::Mask tooLong = morvent::Mask::epcPrefix({0xE2});
    tooLong.bitLength = 9;
    EXPECT_EQ(statusOf([&] { reader.read(TagRef::mask(tooLong), Bank::User, 0, 1); }), MORVENT_PARAM_RANGE);
    EXPECT_EQ(statusOf([&] { reader.setBaudRate(12345); }), MORVENT_PARAM_RANGE);
    // A tag that is not there is a failure for a command addressed to it.
    EXPECT_EQ(statusOf([&] { reader.read(TagRef::epc({0xAB, 0xCD}), Bank::User, 0, 1); }), MORVENT_NO_TAG);
    // Nobody listening: the opening fails with a link error.
    const int closedPort = host.tcpPort();
    host.stop();
    reader.close();
    EXPECT_EQ(statusOf([&] { Reader::tcp("127.0.0.1", closedPort); }), MORVENT_COMM_ERROR);
    // A device that is not there is named as such, not as a silent reader.
    auto missing = mvtest::mapComToMissing(34);
    try {
        Reader::serial(34);
        FAIL() << "a missing device must throw";
    } catch (const Error& error) {
        EXPECT_EQ(error.status(), MORVENT_COMM_ERROR);
        EXPECT_STREQ(error.what(), "OpenComPort: no such device /nonexistent/morvent-test-com34 (COM34)");
    }
}

TEST(CppApi, InventoryCountsTheRecordsOfEveryFrame) {
    std::string json = R"({"reader": {"tags_per_frame": 4}, "gen2": [)";
    for (int i = 0; i < 30; ++i) {
        char tag[64];
        std::snprintf(tag, sizeof tag, R"(%s{"epc": "3000 0000 %04X", "tid": "E2801105"})", i ? "," : "", i);
        json += tag;
    }
    json += "]}";
    sim::ReaderHost host(tcpOnly(sim::parseScenario(json)));
    Reader reader = Reader::tcp("127.0.0.1", host.tcpPort());
    const auto tags = reader.inventory();
    ASSERT_EQ(tags.size(), 30u);
    EXPECT_EQ(tags[29].epcHex(), "30000000001D");
    const auto withTid = reader.inventory(morvent::InventoryOptions::withTid(0, 2));
    ASSERT_EQ(withTid.size(), 30u);
    EXPECT_EQ(morvent::hex(withTid[7].tid), "E2801105");
    EXPECT_EQ(withTid[7].epcHex(), "300000000007");
}

TEST(CppApi, MaskAndEpcAddressing) {
    sim::ReaderHost host(tcpOnly());
    Reader reader = Reader::tcp("127.0.0.1", host.tcpPort());
    morvent::InventoryOptions byPrefix;
    byPrefix.mask = morvent::Mask::epcPrefix({0x30, 0x00});
    const auto selected = reader.inventory(byPrefix);
    ASSERT_EQ(selected.size(), 2u);
    for (const auto& tag : selected) EXPECT_EQ(tag.epc[0], 0x30);
    byPrefix.mask = morvent::Mask::epcPrefix({0x99});
    EXPECT_TRUE(reader.inventory(byPrefix).empty());  // no tag: a result, not an error

    // Write through the EPC, read back through a mask on the EPC and through the Tag itself.
    reader.write(TagRef::epc(kEpc1), Bank::User, 2, {0xCA, 0xFE, 0xF0, 0x0D});
    EXPECT_EQ(reader.read(TagRef::mask(morvent::Mask::epcPrefix({0xE2, 0x00, 0x34})), Bank::User, 2, 2),
              (Bytes{0xCA, 0xFE, 0xF0, 0x0D}));
    morvent::Tag tag{kEpc1, {}};
    EXPECT_EQ(reader.read(tag, Bank::User, 0, 1), (Bytes{0x00, 0x11}));
    EXPECT_EQ(reader.read(TagRef::any(), Bank::Tid, 0, 2), morvent::fromHex("E2801105"));

    reader.erase(TagRef::epc(kEpc1), Bank::User, 2, 2);
    EXPECT_EQ(reader.read(TagRef::epc(kEpc1), Bank::User, 2, 2), (Bytes{0, 0, 0, 0}));
}

TEST(CppApi, SettingsAndActiveMode) {
    sim::ReaderHost host(tcpOnly());
    Reader reader = Reader::tcp("127.0.0.1", host.tcpPort());
    reader.setPower(17);
    reader.setScanTime(7);
    const auto info = reader.info();
    EXPECT_EQ(info.power(), 17);
    EXPECT_EQ(info.scanTime(), 7);
    EXPECT_EQ(statusOf([&] { reader.setPower(99); }), MORVENT_PARAM_RANGE);  // the reader refuses it

    morvent::Mask twelveBits = morvent::Mask::epcPrefix({0x30, 0x00});
    twelveBits.bitLength = 12;  // the last byte is half a byte of mask, and kept
    reader.setMask(twelveBits);
    reader.setWorkMode(morvent::WorkMode::Active);
    const auto parameters = reader.systemParameters();
    EXPECT_EQ(parameters.workMode, 1);
    EXPECT_EQ(parameters.mask.bits, (Bytes{0x30, 0x00}));
    EXPECT_EQ(parameters.mask.bitAddress, 0x20);

    Bytes frames;
    for (int i = 0; i < 40 && frames.empty(); ++i) frames = reader.readActiveModeData();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[2], 0xEE);
    reader.setWorkMode(morvent::WorkMode::Answer);
    ASSERT_GE(frames.size(), 7u);
    EXPECT_TRUE(morvent::frameIntact(frames.data(), frames[0] + 1u));
    Bytes spoiled(frames.begin(), frames.begin() + frames[0] + 1);
    spoiled[3] ^= 1;
    EXPECT_FALSE(morvent::frameIntact(spoiled.data(), spoiled.size()));
    EXPECT_FALSE(morvent::frameIntact(spoiled.data(), 2));
}

// What the command-line tool needs beyond the plain commands: the closing
// inventory status, the address the commands carry, the serial number, the
// 6B write count.
TEST(CppApi, InventoryStatusAddressSerialNumberAnd6BWriteCount) {
    sim::ReaderHost host(tcpOnly());
    Reader reader = Reader::tcp("127.0.0.1", host.tcpPort());
    const auto round = reader.inventoryRound();
    EXPECT_EQ(round.status, MORVENT_INVENTORY_DONE);
    EXPECT_EQ(round.tags.size(), sim::defaultScenario().gen2.size());
    morvent::InventoryOptions none;
    none.mask = morvent::Mask::epcPrefix({0x99});
    const auto empty = reader.inventoryRound(none);
    EXPECT_EQ(empty.status, MORVENT_NO_TAG);
    EXPECT_TRUE(empty.tags.empty());

    reader.useAddress(reader.info().address);
    EXPECT_EQ(reader.address(), 0);
    reader.useAddress(0x42);  // no reader has it: no answer
    EXPECT_EQ(statusOf([&] { reader.info(); }), MORVENT_COMM_ERROR);
    reader.useAddress(0xFF);

    // No tag answers the EAS alarm until one is set, through its access password.
    EXPECT_FALSE(reader.easAlarm());
    reader.setEas(TagRef::epc(kEpc2), 1, 0x12345678);
    EXPECT_TRUE(reader.easAlarm());

    reader.setSerialNumber(0xFEDCBA98u);
    EXPECT_EQ(reader.serialNumber(), 0xFEDCBA98u);
    const morvent::Uid uid{0xE0, 0x04, 0x01, 0x00, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(reader.write6BCounted(uid, 30, {1, 2, 3}), 3);
    EXPECT_EQ(reader.read6B(uid, 30, 3), (Bytes{1, 2, 3}));
}

// Every status that carries records gives its tags as a result, the one of
// an answer cut short (0x03) too; any other status is an error.
TEST(CppApi, InventoryStatusesWithRecordsAreResults) {
    auto fake = mvtest::FakeReader::tcp();
    ASSERT_TRUE(fake);
    fake->scriptReaderInfo(0x00);
    Reader reader = Reader::tcp("127.0.0.1", fake->port());
    for (const int status : {0x01, 0x02, 0x03, 0x04}) {
        fake->scriptFrame(0x00, 0x01, static_cast<std::uint8_t>(status), {0x01, 1, 2, 0xAB, 0xCD});
        const auto round = reader.inventoryRound();
        EXPECT_EQ(round.status, status);
        ASSERT_EQ(round.tags.size(), 1u) << status;
        EXPECT_EQ(round.tags[0].epcHex(), "ABCD");
    }
    fake->scriptFrame(0x00, 0x01, 0x05, {0x01, 1, 2, 0xAB, 0xCD});
    EXPECT_EQ(statusOf([&] { reader.inventoryRound(); }), 0x05);
}

// The record walk the gateway shares: a record without EPC bytes is still a tag here, a cut one is an error.
TEST(CppApi, SplitRecordsTakesWholeRecordsOnly) {
    const std::uint8_t plain[] = {2, 0xAB, 0xCD, 0, 1, 0xEE};
    const auto tags = Reader::splitRecords(plain, sizeof plain, false);
    ASSERT_EQ(tags.size(), 3u);
    EXPECT_TRUE(tags[1].epc.empty());
    EXPECT_EQ(tags[2].epcHex(), "EE");
    const std::uint8_t withTid[] = {2, 0x12, 0x34, 2, 0xE2, 0x80};
    EXPECT_EQ(morvent::hex(Reader::splitRecords(withTid, sizeof withTid, true).at(0).tid), "E280");
    EXPECT_EQ(statusOf([&] { Reader::splitRecords(withTid, sizeof withTid - 1, true); }), MORVENT_COMM_ERROR);
}

}  // namespace

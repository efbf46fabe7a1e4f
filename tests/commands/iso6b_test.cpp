// ISO 18000-6B commands: inventories that deliver whatever the status,
// byte counts, and requests at the frame limit.
#include <cstring>

#include "commands/tag_fixture.h"
#include "support/test_env.h"

using namespace tagtest;
using mvtest::request;

namespace {

unsigned char kUid[8] = {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7};
const Bytes kUidBytes(kUid, kUid + 8);

Bytes records(std::size_t count) {
  Bytes b(count * 9);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i + 1);
  return b;
}

// InventoryMultiple_6B's answer data: the tag count the reader announces,
// then `count` records.
Bytes announcedRecords(std::uint8_t announced, std::size_t count) {
  Bytes b{announced};
  const Bytes r = records(count);
  b.insert(b.end(), r.begin(), r.end());
  return b;
}

class Iso6BOps : public OpenReader {
 protected:
  unsigned char adr = kCallerAdr;
  int errorCode = kSentinel;
};

using Iso6BTest = OverTcp<Iso6BOps>;
using Iso6BLinkTest = OverBothLinks<Iso6BOps>;

TEST_P(Iso6BLinkTest, InventorySingleDeliversTheRecordWhateverTheStatus) {
  unsigned char record[9];
  std::memset(record, 0xA5, sizeof record);
  answer(0x50, 0xFB);
  EXPECT_EQ(InventorySingle_6B(&adr, record, port()), 0xFB);
  EXPECT_EQ(sent(), request(kCallerAdr, 0x50));
  EXPECT_EQ(adr, kAnswerAdr);
  EXPECT_EQ(record[0], 0xA5);

  // A record cut short is not delivered.
  const Bytes cut = records(1);
  answer(0x50, 0x00, Bytes(cut.begin(), cut.begin() + 8));
  EXPECT_EQ(InventorySingle_6B(&adr, record, port()), 0x00);
  EXPECT_EQ(record[0], 0xA5);

  answer(0x50, 0xFB, records(1));
  EXPECT_EQ(InventorySingle_6B(&adr, record, port()), 0xFB);
  EXPECT_EQ(Bytes(record, record + 9), records(1));
}

TEST_P(Iso6BLinkTest, InventoryMultipleDeliversCountAndRecords) {
  unsigned char compare[8] = {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7};
  mvtest::GuardedBuffer tagRecords(27);
  int tagCount = kSentinel;
  answer(0x51, 0x00, announcedRecords(3, 3));
  EXPECT_EQ(InventoryMultiple_6B(&adr, 0x01, 0x08, 0xFF, compare, tagRecords.data(), &tagCount, port()), 0x00);
  EXPECT_EQ(sent(), request(kCallerAdr, 0x51, {0x01, 0x08, 0xFF, 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7}));
  EXPECT_EQ(tagCount, 3);
  EXPECT_EQ(Bytes(tagRecords.data(), tagRecords.data() + 27), records(3));
  EXPECT_EQ(adr, kAnswerAdr);
}

INSTANTIATE_TEST_SUITE_P(Links, Iso6BLinkTest, ::testing::Values(LinkKind::Network, LinkKind::Serial), linkName);

TEST_F(Iso6BTest, InventoryMultipleWithoutTagsOrData) {
  unsigned char compare[8] = {};
  unsigned char tagRecords[9] = {0xA5};
  int tagCount = kSentinel;
  answer(0x51, 0x00, {0});
  EXPECT_EQ(InventoryMultiple_6B(&adr, 0, 0, 0, compare, tagRecords, &tagCount, port()), 0x00);
  EXPECT_EQ(tagCount, 0);
  EXPECT_EQ(tagRecords[0], 0xA5);

  tagCount = kSentinel;
  answer(0x51, 0xFB);
  EXPECT_EQ(InventoryMultiple_6B(&adr, 0, 0, 0, compare, tagRecords, &tagCount, port()), 0xFB);
  EXPECT_EQ(tagCount, kSentinel);
}

// A count beyond the records the frame holds delivers and counts only those.
TEST_F(Iso6BTest, InventoryMultipleCountsOnlyRecordsTheFrameHolds) {
  unsigned char compare[8] = {};
  Bytes tagRecords(255 * 9, 0xA5);
  int tagCount = kSentinel;
  answer(0x51, 0x00, announcedRecords(30, 2));
  EXPECT_EQ(InventoryMultiple_6B(&adr, 0, 0, 0, compare, tagRecords.data(), &tagCount, port()), 0x00);
  EXPECT_EQ(tagCount, 2);
  EXPECT_EQ(Bytes(tagRecords.begin(), tagRecords.begin() + 18), records(2));
  EXPECT_EQ(tagRecords[18], 0xA5);

  // One tag announced, its record cut to 8 bytes: no tag.
  const Bytes cut{1, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78};
  answer(0x51, 0x00, cut);
  tagRecords.assign(tagRecords.size(), 0xA5);
  EXPECT_EQ(InventoryMultiple_6B(&adr, 0, 0, 0, compare, tagRecords.data(), &tagCount, port()), 0x00);
  EXPECT_EQ(tagCount, 0);
  EXPECT_EQ(tagRecords[0], 0xA5);
}

// byteCount bytes are copied, however many the reader sent; a short answer
// fills only what it carries.
TEST_F(Iso6BTest, ReadDataCopiesByteCountBytes) {
  mvtest::GuardedBuffer data(8);
  const Bytes answered = records(2);
  answer(0x52, 0x00, answered);
  EXPECT_EQ(ReadData_6B(&adr, kUid, 0x10, 8, data.data(), &errorCode, port()), 0x00);
  EXPECT_EQ(Bytes(data.data(), data.data() + 8), Bytes(answered.begin(), answered.begin() + 8));

  std::memset(data.data(), 0xA5, 8);
  answer(0x52, 0x00, {0x61, 0x62, 0x63});
  EXPECT_EQ(ReadData_6B(&adr, kUid, 0x10, 8, data.data(), &errorCode, port()), 0x00);
  EXPECT_EQ(Bytes(data.data(), data.data() + 4), (Bytes{0x61, 0x62, 0x63, 0xA5}));
}

TEST_F(Iso6BTest, WriteDataReportsTheLengthWrittenAndRefusesOversizedData) {
  Bytes payload(243, 0x42);
  unsigned char written = 0xA5;
  answer(0x53, 0x00);
  EXPECT_EQ(WriteData_6B(&adr, kUid, 0x20, payload.data(), 242, &written, &errorCode, port()), 0x00);
  EXPECT_EQ(sent()[0], 255);
  EXPECT_EQ(written, 242);

  written = 0xA5;
  adr = kCallerAdr;
  EXPECT_EQ(WriteData_6B(&adr, kUid, 0x20, payload.data(), 243, &written, &errorCode, port()), MORVENT_PARAM_RANGE);
  EXPECT_EQ(written, 0xA5);
  EXPECT_EQ(adr, kCallerAdr);
  EXPECT_EQ(commandsSent(), 1u);
}

TEST_F(Iso6BTest, CheckLockDeliversTheState) {
  unsigned char state = 0xA5;
  answer(0x54, 0x00, {0x01});
  EXPECT_EQ(CheckLock_6B(&adr, kUid, 0x31, &state, &errorCode, port()), 0x00);
  EXPECT_EQ(state, 1);
  EXPECT_EQ(adr, kAnswerAdr);
}

}  // namespace

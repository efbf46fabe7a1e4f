// Inventory_G2 (multi-frame answers gathered without CRC or echo checks)
// and SingleTagInventory_G2.
#include <cstring>

#include "commands/tag_fixture.h"
#include "support/test_env.h"

using namespace tagtest;
using mvtest::request;
using mvtest::response;

namespace {

constexpr std::uint8_t kInventory = 0x01;
constexpr std::uint8_t kSingleTag = 0x0F;
constexpr std::size_t kWorkArea = 5000;

// An inventory frame: status, frame information, tag count, records.
Bytes inventoryFrame(std::uint8_t status, std::uint8_t info, std::uint8_t count, const Bytes& records) {
  Bytes data{info, count};
  data.insert(data.end(), records.begin(), records.end());
  return response(kAnswerAdr, kInventory, status, data);
}

Bytes join(std::initializer_list<Bytes> frames) {
  Bytes all;
  for (const Bytes& f : frames) all.insert(all.end(), f.begin(), f.end());
  return all;
}

// Outputs of one Inventory_G2 call, with sentinels where nothing is written.
struct Inventory {
  int result = -1;
  mvtest::GuardedBuffer tagData{kWorkArea};
  unsigned char frameInfo = 0xA5;
  int totalLength = kSentinel;
  int tagCount = kSentinel;
};

class InventoryOps : public OpenReader {
 protected:
  void inventory(Inventory& out, unsigned char maskFlag = 0, unsigned char tidFlag = 0,
                 unsigned char maskBitLength = 0, unsigned char* mask = nullptr) {
    unsigned char adr = kCallerAdr;
    unsigned char maskAddress[2] = {0x00, 0x20};
    out.result = Inventory_G2(&adr, 0x01, maskAddress, maskBitLength, mask, maskFlag, 0x02, 0x06, tidFlag,
                              out.tagData.data(), &out.frameInfo, &out.totalLength, &out.tagCount, port());
    EXPECT_EQ(adr, kCallerAdr) << "Inventory_G2 never writes the address back";
  }

  Bytes gathered(Inventory& out) {
    return Bytes(out.tagData.data(), out.tagData.data() + (out.totalLength > 0 ? out.totalLength : 0));
  }
};

using InventoryTest = OverBothLinks<InventoryOps>;
using InventoryTcpTest = OverTcp<InventoryOps>;

TEST_P(InventoryTest, TwoFramesAreGatheredBackToBack) {
  const Bytes first{0x10, 0x11, 0x12, 0x13, 0x14, 0x15};
  const Bytes second{0x20, 0x21, 0x22};
  answerRaw(join({inventoryFrame(0x03, 0x41, 2, first), inventoryFrame(0x01, 0x42, 1, second)}));
  Inventory out;
  inventory(out);
  EXPECT_EQ(out.result, 0x01);
  EXPECT_EQ(gathered(out), join({first, second}));
  EXPECT_EQ(out.tagCount, 1);
  EXPECT_EQ(out.frameInfo, 0x42);
  EXPECT_EQ(sent(), request(kCallerAdr, kInventory));
}

TEST_P(InventoryTest, AFrameWithoutRecordsEndsTheWalk) {
  const Bytes first{0x10, 0x11, 0x12};
  answerRaw(join({inventoryFrame(0x03, 0x41, 1, first), response(kAnswerAdr, kInventory, 0xFB),
                  inventoryFrame(0x01, 0x42, 1, {0x30, 0x31})}));
  Inventory out;
  inventory(out);
  EXPECT_EQ(out.result, 0xFB);
  EXPECT_EQ(gathered(out), first);
  EXPECT_EQ(out.tagCount, 1);
  EXPECT_EQ(out.frameInfo, 0x41);
}

INSTANTIATE_TEST_SUITE_P(Links, InventoryTest, ::testing::Values(LinkKind::Network, LinkKind::Serial), linkName);

// Only statuses 0x01..0x04 carry records.
TEST_F(InventoryTcpTest, RecordStatusesDeliverTheirRecords) {
  for (std::uint8_t status : {0x01, 0x04}) {
    reader().script({{inventoryFrame(status, 0x41, 1, {0x10, 0x11})}});
    Inventory out;
    inventory(out);
    EXPECT_EQ(out.result, status);
    EXPECT_EQ(gathered(out), (Bytes{0x10, 0x11}));
    EXPECT_EQ(out.frameInfo, 0x41);
    EXPECT_EQ(out.tagCount, 1);
  }
}

TEST_F(InventoryTcpTest, OtherStatusesDeliverAnEmptyListAndKeepTheFrameOutputs) {
  for (std::uint8_t status : {0x00, 0x05, 0xFB}) {
    reader().script({{inventoryFrame(status, 0x41, 1, {0x10, 0x11})}});
    Inventory out;
    inventory(out);
    EXPECT_EQ(out.result, status);
    EXPECT_EQ(out.totalLength, 0);
    EXPECT_EQ(out.frameInfo, 0xA5);
    EXPECT_EQ(out.tagCount, kSentinel);
  }
}

TEST_F(InventoryTcpTest, FrameCrcAndEchoAreNotChecked) {
  Bytes frame = inventoryFrame(0x01, 0x41, 1, {0x10, 0x11});
  frame[2] = 0x77;
  answerRaw(withBadCrc(frame));
  Inventory out;
  inventory(out);
  EXPECT_EQ(out.result, 0x01);
  EXPECT_EQ(gathered(out), (Bytes{0x10, 0x11}));
}

TEST_F(InventoryTcpTest, RequestCarriesTheMaskAndTidOnlyWhenTheirFlagIsOne) {
  unsigned char mask[32];
  for (int i = 0; i < 32; ++i) mask[i] = static_cast<unsigned char>(0x80 + i);
  const Bytes selection{0x01, 0x00, 0x20};
  struct {
    unsigned char maskFlag, tidFlag, bits;
    unsigned char* mask;
    Bytes data;
  } const cases[] = {
      {2, 0, 12, nullptr, {}},                                   // 2 counts as clear; nothing read
      {0, 1, 0, nullptr, {0x02, 0x06}},
      {1, 0, 0, nullptr, join({selection, {0}})},                // no mask bytes
      {1, 0, 12, mask, join({selection, {12, 0x80, 0x81}})},
      {1, 1, 255, mask, join({selection, {255}, Bytes(mask, mask + 32), {0x02, 0x06}})},  // Len 42
  };
  for (const auto& c : cases) {
    answer(kInventory, 0xFB);
    Inventory out;
    inventory(out, c.maskFlag, c.tidFlag, c.bits, c.mask);
    EXPECT_EQ(sent(), request(kCallerAdr, kInventory, c.data)) << int(c.maskFlag) << "/" << int(c.bits);
  }
}

// Answers that cannot be walked safely are refused and write nothing.
TEST_F(InventoryTcpTest, MalformedAnswersAreRefused) {
  const Bytes malformed[] = {
      join({inventoryFrame(0x03, 0x41, 1, {0x10}), response(kAnswerAdr, kInventory, 0x01, {0x41})}),  // Len 6
      {0x02, kAnswerAdr, kInventory},  // no status byte
  };
  for (const Bytes& answerBytes : malformed) {
    answerRaw(answerBytes);
    Inventory out;
    inventory(out);
    EXPECT_EQ(out.result, MORVENT_COMM_ERROR);
    EXPECT_EQ(out.totalLength, kSentinel);
    EXPECT_EQ(out.tagCount, kSentinel);
    EXPECT_EQ(out.tagData.data()[0], 0xA7);
  }
}

// 19 full frames (4864 bytes) fit the work area and their records fill most
// of the caller's 5000 bytes; 21 (5376 bytes) do not fit and are refused.
TEST_F(InventoryTcpTest, AnswersBeyondTheWorkAreaAreRefused) {
  const Bytes records(248, 0x5C);
  const Bytes frame = inventoryFrame(0x03, 0x41, 20, records);
  ASSERT_EQ(frame.size(), 256u);
  Bytes fits, tooLong;
  for (int i = 0; i < 19; ++i) fits.insert(fits.end(), frame.begin(), frame.end());
  for (int i = 0; i < 21; ++i) tooLong.insert(tooLong.end(), frame.begin(), frame.end());

  answerRaw(fits);
  Inventory ok;
  inventory(ok);
  EXPECT_EQ(ok.result, 0x03);
  EXPECT_EQ(ok.totalLength, 19 * 248);

  answerRaw(tooLong);
  Inventory refused;
  inventory(refused);
  EXPECT_EQ(refused.result, MORVENT_COMM_ERROR);
  EXPECT_EQ(refused.totalLength, kSentinel);
}

// ---- SingleTagInventory_G2 --------------------------------------------------

class SingleTagOps : public OpenReader {
 protected:
  int single() {
    adr = kCallerAdr;
    tagCount = kSentinel;
    std::memset(tagData, 0xA5, sizeof tagData);
    return SingleTagInventory_G2(&adr, tagData, nullptr, &tagCount, port());
  }
  bool dataUntouched() const { return tagData[0] == 0xA5; }

  unsigned char adr = kCallerAdr;
  int tagCount = kSentinel;
  unsigned char tagData[250];
};

using SingleTagTest = OverBothLinks<SingleTagOps>;
using SingleTagTcpTest = OverTcp<SingleTagOps>;

TEST_P(SingleTagTest, TagFoundWritesCountDataAndAddress) {
  answer(kSingleTag, 0x01, {0x01, 0xE2, 0x00, 0x12, 0x34});
  EXPECT_EQ(single(), 0x01);
  EXPECT_EQ(sent(), request(kCallerAdr, kSingleTag));
  EXPECT_EQ(adr, kAnswerAdr);
  EXPECT_EQ(tagCount, 1);
  EXPECT_EQ(Bytes(tagData, tagData + 5), (Bytes{0xE2, 0x00, 0x12, 0x34, 0xA5}));
}

TEST_P(SingleTagTest, OtherStatusesWriteNothing) {
  for (std::uint8_t status : {0x00, 0xFB}) {
    answer(kSingleTag, status, {0x01, 0xE2});
    EXPECT_EQ(single(), status);
    EXPECT_EQ(adr, kCallerAdr);
    EXPECT_EQ(tagCount, kSentinel);
    EXPECT_TRUE(dataUntouched());
  }
}

INSTANTIATE_TEST_SUITE_P(Links, SingleTagTest, ::testing::Values(LinkKind::Network, LinkKind::Serial), linkName);

TEST_F(SingleTagTcpTest, TagFoundWithoutCountByteIsRefused) {
  answer(kSingleTag, 0x01);
  EXPECT_EQ(single(), MORVENT_COMM_ERROR);
  EXPECT_EQ(adr, kCallerAdr);
  EXPECT_EQ(tagCount, kSentinel);
  EXPECT_TRUE(dataUntouched());
}

}  // namespace

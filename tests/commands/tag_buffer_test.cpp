// GetTagBufferInfo: gathering the records of a multi-frame answer, and
// staying inside every buffer when the answer does not add up.
#include <gtest/gtest.h>

#include "commands/command_test.h"
#include "support/test_env.h"

using namespace mvtest;

namespace {

constexpr std::uint8_t kGetTagBuffer = 0x43;
constexpr std::size_t kRoom = 5000;

// A record: 11 head bytes, L, then L tail bytes, all marked with `mark`.
Bytes tagRecord(std::uint8_t tail, std::uint8_t mark) {
  Bytes r(11, mark);
  r.push_back(tail);
  r.insert(r.end(), tail, static_cast<std::uint8_t>(mark + 1));
  return r;
}

Bytes recordFrame(const Bytes& data) { return response(kAnswering, kGetTagBuffer, 0x01, data); }
Bytes closingFrame() { return response(kAnswering, kGetTagBuffer, 0x00); }

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct Reading {
  GuardedBuffer records{kRoom};
  int count = -1;
  int result = -1;
};

void readBuffer(ReaderLink& link, const Bytes& answer, Reading& got) {
  link.reader().script({{answer}});
  unsigned char address = 0xFF;
  got.result = GetTagBufferInfo(&address, got.records.data(), &got.count, link.portIndex());
  EXPECT_EQ(address, 0xFF);
}

bool untouched(Reading& got, std::size_t from = 0) {
  for (std::size_t i = from; i < kRoom; ++i)
    if (got.records.data()[i] != 0xA7) return false;
  return true;
}

class TagBuffer : public testing::TestWithParam<LinkKind> {};

TEST_P(TagBuffer, GathersRecordsBackToBack) {
  ReaderLink link = openLink(GetParam());
  ASSERT_EQ(link.openStatus(), MORVENT_OK);

  Reading empty;
  readBuffer(link, closingFrame(), empty);
  EXPECT_EQ(link.reader().lastRequest(), request(0xFF, kGetTagBuffer));
  EXPECT_EQ(empty.result, MORVENT_OK);
  EXPECT_EQ(empty.count, 0);
  EXPECT_TRUE(untouched(empty));

  // The second frame carries two bytes past its record; they are not taken.
  Bytes second = tagRecord(8, 0x20);
  second.push_back(0xEE);
  second.push_back(0xEE);
  Reading two;
  readBuffer(link, join({recordFrame(tagRecord(12, 0x10)), recordFrame(second), closingFrame()}), two);
  EXPECT_EQ(two.result, MORVENT_OK);
  ASSERT_EQ(two.count, 44);
  EXPECT_EQ(Bytes(two.records.data(), two.records.data() + 44), join({tagRecord(12, 0x10), tagRecord(8, 0x20)}));
  EXPECT_TRUE(untouched(two, 44));
}

MVTEST_BOTH_LINKS(TagBuffer);

TEST(TagBufferFaults, ShortOrInconsistentAnswersAreRefused) {
  ReaderLink link = openLink(LinkKind::Network);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);

  // A closing frame cut short: Len 4 with status 0, five bytes.
  Reading cut;
  readBuffer(link, {0x04, kAnswering, kGetTagBuffer, 0x00, 0x00}, cut);
  EXPECT_EQ(cut.result, MORVENT_COMM_ERROR);

  // L says 200 tail bytes but the frame holds 4.
  Bytes lying = tagRecord(4, 0x30);
  lying[11] = 200;
  Reading past;
  readBuffer(link, join({recordFrame(tagRecord(4, 0x40)), recordFrame(lying), closingFrame()}), past);
  EXPECT_EQ(past.result, MORVENT_COMM_ERROR);

  // L one byte too long: the record would take in the frame's CRC.
  Bytes intoCrc = tagRecord(4, 0x50);
  intoCrc[11] = 5;
  Reading crc;
  readBuffer(link, join({recordFrame(intoCrc), closingFrame()}), crc);
  EXPECT_EQ(crc.result, MORVENT_COMM_ERROR);

  for (Reading* refused : {&cut, &past, &crc}) {
    EXPECT_EQ(refused->count, -1);
    EXPECT_TRUE(untouched(*refused));
  }
}

// 24 records of 212 bytes would need 5088 bytes: the run ends after 23.
TEST(TagBufferFaults, RunLongerThanTheRoomIsCutAtARecord) {
  ReaderLink link = openLink(LinkKind::Network);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  Bytes answer;
  for (int i = 0; i < 24; ++i) {
    const Bytes frame = recordFrame(tagRecord(200, static_cast<std::uint8_t>(i)));
    answer.insert(answer.end(), frame.begin(), frame.end());
  }
  const Bytes closing = closingFrame();
  answer.insert(answer.end(), closing.begin(), closing.end());
  ASSERT_GT(answer.size(), kRoom);

  Reading got;
  readBuffer(link, answer, got);
  EXPECT_EQ(got.result, MORVENT_OK);
  ASSERT_EQ(got.count, 23 * 212);
  EXPECT_EQ(Bytes(got.records.data() + 22 * 212, got.records.data() + 23 * 212), tagRecord(200, 22));
}

}  // namespace

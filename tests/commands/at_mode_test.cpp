// ChangeATMode's long wait, and TransparentCMD's pass-through. The slow
// AT-mode cases are separate tests so that ctest runs them side by side.
#include <gtest/gtest.h>

#include "commands/command_test.h"

using namespace mvtest;

namespace {

constexpr std::uint8_t kChangeAtMode = 0x4D;
constexpr std::uint8_t kTransparent = 0x4E;

TEST(ChangeATMode, AnswerAfterSixSecondsIsTaken) {
  ReaderLink link = openLink(LinkKind::Serial);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  link.reader().scriptFrame(kAnswering, kChangeAtMode, 0x00, {}, 6000);
  unsigned char address = 0xFF;
  const auto start = Clock::now();
  EXPECT_EQ(ChangeATMode(&address, 0x02, link.portIndex()), MORVENT_OK);
  EXPECT_GE(msSince(start), 5900);
  EXPECT_EQ(link.reader().lastRequest(), request(0xFF, kChangeAtMode, {0x02}));
  EXPECT_EQ(address, kAnswering);
}

// ChangeATMode against a reader that never completes its answer: 0x30 and
// the address kept. Returns how long the call took, in ms.
long long failingChange(const std::vector<Chunk>& answer) {
  ReaderLink link = openLink(LinkKind::Network);
  EXPECT_EQ(link.openStatus(), MORVENT_OK);
  if (answer.empty())
    link.reader().scriptSilence();
  else
    link.reader().script(answer);
  unsigned char address = 0xFF;
  const auto start = Clock::now();
  EXPECT_EQ(ChangeATMode(&address, 0x01, link.portIndex()), MORVENT_COMM_ERROR);
  const long long took = msSince(start);
  EXPECT_EQ(address, 0xFF);
  return took;
}

TEST(ChangeATMode, SilentReaderFailsAfterTheIdleWindow) {
  const long long took = failingChange({});
  EXPECT_GE(took, 6800);
  EXPECT_LT(took, 9500);
}

TEST(ChangeATMode, UnfinishedAnswerFailsAfterTheTotalLimit) {
  const Bytes answer = response(kAnswering, kChangeAtMode, 0x00);
  const long long took = failingChange({{Bytes(answer.begin(), answer.begin() + 3), 100}});
  EXPECT_GE(took, 9800);
  EXPECT_LT(took, 13000);
}

class Transparent : public testing::TestWithParam<LinkKind> {};

TEST_P(Transparent, PassesBytesBothWays) {
  ReaderLink link = openLink(GetParam());
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  unsigned char address = 0xFF;
  unsigned char sendData[3] = {0x10, 0x20, 0x30};
  unsigned char length = kSentinel;
  Bytes answer(250, kSentinel);

  link.reader().scriptFrame(kAnswering, kTransparent, 0x00, {0x61, 0x62});
  EXPECT_EQ(TransparentCMD(&address, 0x07, 3, sendData, &length, answer.data(), link.portIndex()), MORVENT_OK);
  EXPECT_EQ(link.reader().lastRequest(), request(0xFF, kTransparent, {0x07, 0x10, 0x20, 0x30}));
  EXPECT_EQ(length, 2);
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 3), (Bytes{0x61, 0x62, kSentinel}));

  // Nothing to send, nothing in the answer.
  link.reader().scriptFrame(kAnswering, kTransparent, 0x00);
  EXPECT_EQ(TransparentCMD(&address, 0x08, 0, nullptr, &length, answer.data(), link.portIndex()), MORVENT_OK);
  EXPECT_EQ(link.reader().lastRequest(), request(0xFF, kTransparent, {0x08}));
  EXPECT_EQ(link.reader().lastRequest().size(), 6u);
  EXPECT_EQ(length, 0);

  // The largest answer fills exactly the 250 bytes of room.
  const Bytes full(250, 0x5C);
  link.reader().scriptFrame(kAnswering, kTransparent, 0x00, full);
  EXPECT_EQ(TransparentCMD(&address, 0x08, 0, nullptr, &length, answer.data(), link.portIndex()), MORVENT_OK);
  EXPECT_EQ(length, 250);
  EXPECT_EQ(answer, full);

  length = kSentinel;
  link.reader().scriptFrame(kAnswering, kTransparent, 0x1F, {0x61});
  EXPECT_EQ(TransparentCMD(&address, 0x07, 3, sendData, &length, answer.data(), link.portIndex()), 0x1F);
  EXPECT_EQ(length, kSentinel);
  EXPECT_EQ(address, 0xFF);
}

MVTEST_BOTH_LINKS(Transparent);

TEST(TransparentLimits, MoreThan250BytesIsRefusedUnsent) {
  ReaderLink link = openLink(LinkKind::Network);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  Bytes sendData(255, 0x11);
  unsigned char address = 0xFF, length = kSentinel, answer[250];
  const std::size_t before = link.reader().requestCount();
  EXPECT_EQ(TransparentCMD(&address, 0, 251, sendData.data(), &length, answer, link.portIndex()), MORVENT_PARAM_RANGE);
  EXPECT_EQ(link.reader().requestCount(), before);

  link.reader().scriptFrame(kAnswering, kTransparent, 0x00);
  EXPECT_EQ(TransparentCMD(&address, 0, 250, sendData.data(), &length, answer, link.portIndex()), MORVENT_OK);
  EXPECT_EQ(link.reader().lastRequest().size(), 256u);
}

}  // namespace

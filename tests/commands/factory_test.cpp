// InSelfTestMode: the framed command or the bare byte, either answer code.
#include <gtest/gtest.h>

#include "commands/command_test.h"

using namespace mvtest;

namespace {

constexpr std::uint8_t kSelfTest = 0x26;
constexpr std::uint8_t kSelfTestByte = 0xA5;

class SelfTest : public testing::TestWithParam<LinkKind> {};

TEST_P(SelfTest, FlagZeroSendsTheBareByte) {
  ReaderLink link = openLink(GetParam());
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  link.reader().setRawMode(true);  // a lone 0xA5 is no frame the fake could cut
  link.reader().scriptFrame(0x03, kSelfTest, 0x00);
  unsigned char address = 0xFF;
  EXPECT_EQ(InSelfTestMode(&address, 0, link.portIndex()), MORVENT_OK);
  EXPECT_EQ(link.reader().lastRequest(), Bytes{kSelfTestByte});
  EXPECT_EQ(address, 0x03);
}

TEST_P(SelfTest, NonZeroFlagSendsTheFrame) {
  ReaderLink link = openLink(GetParam());
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  unsigned char address = 0xFF;
  // Tested as a whole int: 0x100 is not 0. The address is written whatever the status.
  for (const int flag : {1, 0x100}) {
    link.reader().scriptFrame(0x03, kSelfTestByte, 0x1F);
    address = 0xFF;
    EXPECT_EQ(InSelfTestMode(&address, flag, link.portIndex()), 0x1F);
    EXPECT_EQ(link.reader().lastRequest(), request(0xFF, kSelfTest));
    EXPECT_EQ(address, 0x03);
  }
  link.reader().scriptFrame(0x03, 0x27, 0x00);
  address = 0xFF;
  EXPECT_EQ(InSelfTestMode(&address, 1, link.portIndex()), MORVENT_CMD_MISMATCH);
  EXPECT_EQ(address, 0xFF);
}

MVTEST_BOTH_LINKS(SelfTest);

}  // namespace

// InSelfTestMode: the framed command or the bare byte, either answer code.
#include <gtest/gtest.h>

#include "commands/reader_link.h"

using namespace mvtest;

namespace {

constexpr std::uint8_t kSelfTest = 0x26;
constexpr std::uint8_t kSelfTestByte = 0xA5;

class SelfTest : public testing::TestWithParam<Transport> {};

TEST_P(SelfTest, FlagZeroSendsTheBareByte) {
  ReaderLink link(GetParam());
  ASSERT_TRUE(link.ok());
  link->setRawMode(true);  // a lone 0xA5 is no frame the fake could cut
  link->scriptFrame(0x03, kSelfTest, 0x00);
  unsigned char address = 0xFF;
  EXPECT_EQ(InSelfTestMode(&address, 0, link.port), MORVENT_OK);
  EXPECT_EQ(link->lastRequest(), Bytes{kSelfTestByte});
  EXPECT_EQ(address, 0x03);
}

TEST_P(SelfTest, NonZeroFlagSendsTheFrame) {
  ReaderLink link(GetParam());
  ASSERT_TRUE(link.ok());
  unsigned char address = 0xFF;
  // Tested as a whole int: 0x100 is not 0. The address is written whatever the status.
  for (const int flag : {1, 0x100}) {
    link->scriptFrame(0x03, kSelfTestByte, 0x1F);
    address = 0xFF;
    EXPECT_EQ(InSelfTestMode(&address, flag, link.port), 0x1F);
    EXPECT_EQ(link->lastRequest(), request(0xFF, kSelfTest));
    EXPECT_EQ(address, 0x03);
  }
  link->scriptFrame(0x03, 0x27, 0x00);
  address = 0xFF;
  EXPECT_EQ(InSelfTestMode(&address, 1, link.port), MORVENT_CMD_MISMATCH);
  EXPECT_EQ(address, 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Link, SelfTest, testing::Values(Transport::Tcp, Transport::Pty), transportName);

}  // namespace

// SetBaudRate: the host's serial port follows the reader's new rate after
// the answer; TCP links change nothing on the host.
#include <gtest/gtest.h>

#include "commands/reader_link.h"

using namespace mvtest;

namespace {

constexpr std::uint8_t kSetBaudRate = 0x28;
constexpr std::uint8_t kBaud9600 = 0;

speed_t hostSpeed(const ReaderLink& link) {
  const termios line = link->slaveTermios();
  return cfgetospeed(&line);
}

TEST(SetBaudRate, SerialPortFollowsTheNewRate) {
  ReaderLink link(Transport::Pty, kBaud9600);
  ASSERT_TRUE(link.ok());
  ASSERT_EQ(hostSpeed(link), B9600);

  // A non-zero status and another echoed code still count as an answer.
  link->scriptFrame(kAnswering, 0x29, 0x13);
  unsigned char address = 0xFF;
  EXPECT_EQ(SetBaudRate(&address, 6, link.port), 0x13);
  EXPECT_EQ(link->lastRequest(), request(0xFF, kSetBaudRate, {0x06}));
  EXPECT_EQ(address, 0xFF);
  const termios line = link->slaveTermios();
  EXPECT_EQ(cfgetospeed(&line), B115200);
  EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));

  // The link keeps working at the new rate.
  unsigned char delay = 0;
  link->scriptFrame(kAnswering, 0x31, 0x00, {0x07});
  EXPECT_EQ(GetRevDelay(&address, &delay, link.port), MORVENT_OK);
  EXPECT_EQ(delay, 0x07);
}

TEST(SetBaudRate, UnsupportedAndKeepingCodesOnSerial) {
  ReaderLink link(Transport::Pty, kBaud9600);
  ASSERT_TRUE(link.ok());
  unsigned char address = 0xFF;

  // Codes 3 and 4 are refused only after the reader has had them.
  link->scriptFrame(kAnswering, kSetBaudRate, 0x00);
  EXPECT_EQ(SetBaudRate(&address, 3, link.port), MORVENT_PARAM_RANGE);
  EXPECT_EQ(link->lastRequest(), request(0xFF, kSetBaudRate, {0x03}));
  EXPECT_EQ(hostSpeed(link), B9600);

  link->scriptFrame(kAnswering, kSetBaudRate, 0x00);
  EXPECT_EQ(SetBaudRate(&address, 9, link.port), MORVENT_OK);
  EXPECT_EQ(hostSpeed(link), B9600);

  Bytes corrupt = response(kAnswering, kSetBaudRate, 0x00);
  corrupt[3] ^= 0x40;
  link->script({{corrupt}});
  EXPECT_EQ(SetBaudRate(&address, 6, link.port), MORVENT_CRC_ERROR);
  EXPECT_EQ(hostSpeed(link), B9600);
}

TEST(SetBaudRate, TcpReturnsTheStatusForEveryCode) {
  ReaderLink link(Transport::Tcp);
  ASSERT_TRUE(link.ok());
  unsigned char address = 0xFF;
  for (const std::uint8_t code : {3, 4, 6}) {
    link->scriptFrame(kAnswering, kSetBaudRate, 0x00);
    EXPECT_EQ(SetBaudRate(&address, code, link.port), MORVENT_OK) << int(code);
  }
  link->scriptFrame(kAnswering, kSetBaudRate, 0x05);
  EXPECT_EQ(SetBaudRate(&address, 3, link.port), 0x05);
}

}  // namespace

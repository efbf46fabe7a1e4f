// SetBaudRate: the host's serial port follows the reader's new rate after
// the answer; TCP links change nothing on the host.
#include <gtest/gtest.h>

#include "commands/command_test.h"

using namespace mvtest;

namespace {

constexpr std::uint8_t kSetBaudRate = 0x28;
speed_t hostSpeed(ReaderLink& link) {
  const termios line = link.reader().slaveTermios();
  return cfgetospeed(&line);
}

// Puts the line (the library's port and the fake's end share it) at 9600.
void startAt9600(ReaderLink& link) {
  termios line = link.reader().slaveTermios();
  cfsetispeed(&line, B9600);
  cfsetospeed(&line, B9600);
  link.reader().setSlaveTermios(line);
  ASSERT_EQ(hostSpeed(link), B9600);
}

TEST(SetBaudRate, SerialPortFollowsTheNewRate) {
  ReaderLink link = openLink(LinkKind::Serial);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  startAt9600(link);

  // A non-zero status and another echoed code still count as an answer.
  link.reader().scriptFrame(kAnswering, 0x29, 0x13);
  unsigned char address = 0xFF;
  EXPECT_EQ(SetBaudRate(&address, 6, link.portIndex()), 0x13);
  EXPECT_EQ(link.reader().lastRequest(), request(0xFF, kSetBaudRate, {0x06}));
  EXPECT_EQ(address, 0xFF);
  const termios line = link.reader().slaveTermios();
  EXPECT_EQ(cfgetospeed(&line), B115200);
  EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));

  // The link keeps working at the new rate.
  unsigned char delay = 0;
  link.reader().scriptFrame(kAnswering, 0x31, 0x00, {0x07});
  EXPECT_EQ(GetRevDelay(&address, &delay, link.portIndex()), MORVENT_OK);
  EXPECT_EQ(delay, 0x07);
}

TEST(SetBaudRate, UnsupportedAndKeepingCodesOnSerial) {
  ReaderLink link = openLink(LinkKind::Serial);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  startAt9600(link);
  unsigned char address = 0xFF;

  // Codes 3 and 4 are refused only after the reader has had them.
  link.reader().scriptFrame(kAnswering, kSetBaudRate, 0x00);
  EXPECT_EQ(SetBaudRate(&address, 3, link.portIndex()), MORVENT_PARAM_RANGE);
  EXPECT_EQ(link.reader().lastRequest(), request(0xFF, kSetBaudRate, {0x03}));
  EXPECT_EQ(hostSpeed(link), B9600);

  link.reader().scriptFrame(kAnswering, kSetBaudRate, 0x00);
  EXPECT_EQ(SetBaudRate(&address, 9, link.portIndex()), MORVENT_OK);
  EXPECT_EQ(hostSpeed(link), B9600);

  Bytes corrupt = response(kAnswering, kSetBaudRate, 0x00);
  corrupt[3] ^= 0x40;
  link.reader().script({{corrupt}});
  EXPECT_EQ(SetBaudRate(&address, 6, link.portIndex()), MORVENT_CRC_ERROR);
  EXPECT_EQ(hostSpeed(link), B9600);
}

TEST(SetBaudRate, TcpReturnsTheStatusForEveryCode) {
  ReaderLink link = openLink(LinkKind::Network);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  unsigned char address = 0xFF;
  for (const std::uint8_t code : {3, 4, 6}) {
    link.reader().scriptFrame(kAnswering, kSetBaudRate, 0x00);
    EXPECT_EQ(SetBaudRate(&address, code, link.portIndex()), MORVENT_OK) << int(code);
  }
  link.reader().scriptFrame(kAnswering, kSetBaudRate, 0x05);
  EXPECT_EQ(SetBaudRate(&address, 3, link.portIndex()), 0x05);
}

}  // namespace

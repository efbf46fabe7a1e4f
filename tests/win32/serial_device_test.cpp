// What only the Windows build has: the settings that reach the COM device
// through the driver (DCB, COMMTIMEOUTS), read back from the handle the
// library holds, and the driver's timed reads.
#include <windows.h>

#include <gtest/gtest.h>

#include "link/ports.h"
#include "morvent.h"
#include "support/reader_link.h"

using namespace mvtest;

namespace {

HANDLE libraryHandle(int com) { return reinterpret_cast<HANDLE>(mv::link::ports().serial[com]); }

DCB stateOf(int com) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  EXPECT_TRUE(GetCommState(libraryHandle(com), &dcb));
  return dcb;
}

// The line is `rate` 8N1 and the read time-outs are interval, multiplier and
// constant, the write time-outs 20 ms per byte plus 20 ms.
void expectDevice(int com, DWORD rate, DWORD interval, DWORD multiplier, DWORD constant) {
  const DCB dcb = stateOf(com);
  EXPECT_EQ(dcb.BaudRate, rate);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  COMMTIMEOUTS t{};
  ASSERT_TRUE(GetCommTimeouts(libraryHandle(com), &t));
  EXPECT_EQ(t.ReadIntervalTimeout, interval);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, multiplier);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, constant);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 20u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 20u);
}

void setPtySpeed(FakeReader& reader, speed_t speed) {
  termios t = reader.slaveTermios();
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  reader.setSlaveTermios(t);
}

}  // namespace

TEST(Win32Serial, OpenSetsRateEightNoneOneAndTheOpeningTimeouts) {
  auto reader = FakeReader::pty();
  reader->mapCom(41);
  ASSERT_EQ(OpenCom(41, 6), MORVENT_OK);
  expectDevice(41, 115200, 10, 5, 10);
  // The driver put the same settings on the line itself.
  const termios line = reader->slaveTermios();
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(CloseSpecComPort(41), MORVENT_OK);
}

TEST(Win32Serial, BaudCodesReachTheDeviceOrKeepItsRate) {
  const struct {
    unsigned char code;
    DWORD rate;
  } cases[] = {{0, 9600}, {1, 19200}, {2, 38400}, {5, 57600}, {6, 115200}, {7, 19200}, {255, 19200}};
  auto reader = FakeReader::pty();
  reader->mapCom(42);
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.code));
    setPtySpeed(*reader, B19200);
    ASSERT_EQ(OpenCom(42, c.code), MORVENT_OK);
    EXPECT_EQ(stateOf(42).BaudRate, c.rate);
    EXPECT_EQ(CloseSpecComPort(42), MORVENT_OK);
  }
}

TEST(Win32Serial, TimedReadOnASilentLineEndsAfterMultiplierAndConstant) {
  auto reader = FakeReader::pty();
  reader->mapCom(43);
  ASSERT_EQ(OpenCom(43, 9), MORVENT_OK);
  // 100 bytes asked: 5 * 100 + 10 ms.
  unsigned char buffer[100];
  for (int i = 0; i < 3; ++i) {
    DWORD got = 99;
    const auto start = Clock::now();
    EXPECT_TRUE(ReadFile(libraryHandle(43), buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_GE(msSince(start), 480);
    EXPECT_LT(msSince(start), 900);
  }
  EXPECT_EQ(CloseSpecComPort(43), MORVENT_OK);
}

TEST(Win32Serial, SilentDeviceTimesOutAfterTheFirstTimedRead) {
  auto reader = FakeReader::pty();
  reader->mapCom(44);
  ASSERT_EQ(OpenCom(44, 9), MORVENT_OK);
  unsigned char buffer[MORVENT_RECEIVE_BUFFER + 2];
  int count = -1;
  // One 100-byte read ends after 510 ms; the idle window of 500 ms has
  // passed by then, however coarse the system's tick.
  for (int i = 0; i < 3; ++i) {
    const auto start = Clock::now();
    EXPECT_EQ(GetDataFromPort(buffer, &count, 44), MORVENT_COMM_ERROR);
    EXPECT_EQ(count, 0);
    EXPECT_GE(msSince(start), 480);
    EXPECT_LT(msSince(start), 900);
  }
  EXPECT_EQ(CloseSpecComPort(44), MORVENT_OK);
}

TEST(Win32Serial, SetBaudRateGivesTheDeviceTheNewRateAndItsOwnTimeouts) {
  ReaderLink link(LinkKind::Serial, 46);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  for (unsigned char code : {6, 9}) {  // 9: the rate stays, the rest is set anew
    SCOPED_TRACE(static_cast<int>(code));
    link.reader().scriptFrame(0x00, 0x28, 0x00);
    unsigned char address = 0x00;
    ASSERT_EQ(SetBaudRate(&address, code, 46), MORVENT_OK);
    expectDevice(46, 115200, 15, 10, 10);
  }
}

TEST(Win32Serial, ActiveModeTakesAtMostFiftyQueuedBytesAndKeepsTheRest) {
  ReaderLink link(LinkKind::Serial, 47);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  Bytes sent(80);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i + 1);
  link.reader().sendUnsolicited(sent);
  Sleep(300);  // all 80 queued in the driver
  unsigned char data[50];
  int count = -1;
  ASSERT_EQ(ReadActiveModeData(data, &count, 47), MORVENT_OK);
  ASSERT_EQ(count, 50);
  EXPECT_EQ(Bytes(data, data + 50), Bytes(sent.begin(), sent.begin() + 50));
  // The other 30 stayed queued, in order; then nothing is, and the call does not wait.
  ASSERT_EQ(ReadActiveModeData(data, &count, 47), MORVENT_OK);
  EXPECT_EQ(Bytes(data, data + count), Bytes(sent.begin() + 50, sent.end()));
  const auto start = Clock::now();
  EXPECT_EQ(ReadActiveModeData(data, &count, 47), MORVENT_NO_DATA);
  EXPECT_EQ(count, 0);
  EXPECT_LT(msSince(start), 300);
}

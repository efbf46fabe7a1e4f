// Opening, configuring and closing links by port index, and what sends and
// receives do on indexes that are invalid or not open.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "morvent.h"
#include "support/reader_link.h"

using namespace mvtest;

namespace {

// Settings a serial driver may well have before the library opens it: line
// editing, echo, CR/LF mapping, flow control, 7 bits with parity.
termios cookedSettings(const FakeReader& reader) {
  termios t = reader.slaveTermios();
  t.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
  t.c_iflag |= ICRNL | IXON | ISTRIP;
  t.c_oflag |= OPOST | ONLCR;
  t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
  cfsetispeed(&t, B4800);
  cfsetospeed(&t, B4800);
  return t;
}

const ReceiveRoutine kReceiveRoutines[] = {GetDataFromPort, GetDataFromPort1,
                                           GetInventoryDataFromPort1, ATGetDataFromPort};

}  // namespace

TEST(OpenCom, PutsTheLineInRawEightBitMode) {
  auto reader = FakeReader::pty();
  reader->mapCom(31);
  reader->setSlaveTermios(cookedSettings(*reader));
  ASSERT_EQ(OpenCom(31, 9), MORVENT_OK);
  const termios t = reader->slaveTermios();
  EXPECT_EQ(t.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | PARMRK), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_EQ(CloseSpecComPort(31), MORVENT_OK);
}

TEST(OpenCom, BaudCodesSetTheRateOrKeepIt) {
  const struct {
    unsigned char code;
    speed_t speed;
  } cases[] = {{0, B9600}, {1, B19200}, {2, B38400}, {5, B57600},
               {6, B115200}, {7, B4800}, {9, B4800}, {255, B4800}};
  auto reader = FakeReader::pty();
  reader->mapCom(32);
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.code));
    reader->setSlaveTermios(cookedSettings(*reader));  // B4800
    ASSERT_EQ(OpenCom(32, c.code), MORVENT_OK);
    termios settings = reader->slaveTermios();
    EXPECT_EQ(cfgetospeed(&settings), c.speed);
    EXPECT_EQ(CloseSpecComPort(32), MORVENT_OK);
  }
}

TEST(OpenCom, RefusesBaudCodesThreeAndFourAndReopensAtOnce) {
  auto reader = FakeReader::pty();
  reader->mapCom(33);
  EXPECT_EQ(OpenCom(33, 3), MORVENT_COMM_ERROR);
  EXPECT_EQ(OpenCom(33, 4), MORVENT_COMM_ERROR);
  Bytes frame = request(0x00, 0x21);
  EXPECT_EQ(SendDataToPort(frame.data(), 5, 33), MORVENT_INVALID_PORT);  // left closed
  ASSERT_EQ(OpenCom(33, 6), MORVENT_OK);
  EXPECT_EQ(CloseSpecComPort(33), MORVENT_OK);
}

TEST(OpenCom, RefusesIndexesOutsideOneTo255WithoutTouchingADevice) {
  auto reader = FakeReader::pty();
  reader->mapCom(256);
  reader->mapCom(0);
  const termios before = cookedSettings(*reader);
  reader->setSlaveTermios(before);
  for (int index : {0, 256, -1, 1024}) {
    EXPECT_EQ(OpenCom(index, 9), MORVENT_INVALID_PORT) << index;
  }
  EXPECT_EQ(reader->slaveTermios().c_lflag, before.c_lflag);
}

TEST(OpenCom, MissingDeviceIsAnInvalidPort) {
  auto missing = mapComToMissing(34);
  EXPECT_EQ(OpenCom(34, 9), MORVENT_INVALID_PORT);
}

// A device is not shared: while one COM number holds it, another that names
// the same device cannot open it.
TEST(OpenCom, DeviceHeldByAnotherPortIsBusy) {
  auto reader = FakeReader::pty();
  reader->mapCom(38);
  reader->mapCom(39);
  ASSERT_EQ(OpenCom(38, 9), MORVENT_OK);
  EXPECT_EQ(OpenCom(39, 9), MORVENT_INVALID_PORT);
  EXPECT_EQ(CloseSpecComPort(38), MORVENT_OK);
  EXPECT_EQ(OpenCom(39, 9), MORVENT_OK);
  EXPECT_EQ(CloseSpecComPort(39), MORVENT_OK);
}

// Opening a link that is already open is refused and leaves it working.
TEST(Reopen, LinksAlreadyOpenAreRefusedAndKeepWorking) {
  ReaderLink serial(LinkKind::Serial, 40);
  ReaderLink network(LinkKind::Network);
  ASSERT_EQ(serial.openStatus(), MORVENT_OK);
  ASSERT_EQ(network.openStatus(), MORVENT_OK);
  EXPECT_EQ(OpenCom(40, 9), MORVENT_INVALID_PORT);
  EXPECT_EQ(OpenNet(network.portIndex(), "127.0.0.1"), MORVENT_PORT_OPEN);
  EXPECT_EQ(askReaderInformation(serial.reader(), 40), MORVENT_OK);
  EXPECT_EQ(askReaderInformation(network.reader(), network.portIndex()), MORVENT_OK);
  EXPECT_EQ(network.reader().connectionsAccepted(), 1);
}

TEST(SerialLink, EveryByteValuePassesUnchanged) {
  ReaderLink link(LinkKind::Serial, 35);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  Bytes all(256);
  all[0] = 0xFF;  // Len: 255 bytes follow
  for (int i = 1; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i - 1);
  link.reader().script({{all}});
  ASSERT_EQ(link.send(all), MORVENT_OK);
  unsigned char buffer[MORVENT_RECEIVE_BUFFER + 2];
  int count = 0;
  ASSERT_EQ(GetDataFromPort(buffer, &count, 35), MORVENT_OK);
  EXPECT_EQ(Bytes(buffer, buffer + count), all);
  EXPECT_EQ(link.reader().lastRequest(), all);
}

// Bytes that came unasked after the last answer are dropped before the next
// request goes out, on a line and on a connection whose receives have waited.
TEST(Links, SendDiscardsStaleInput) {
  for (LinkKind kind : {LinkKind::Serial, LinkKind::Network}) {
    ReaderLink link(kind, 36);
    ASSERT_EQ(link.openStatus(), MORVENT_OK);
    link.reader().sendUnsolicited({0x09, 0x09, 0x09});
    usleep(100 * 1000);
    EXPECT_EQ(askReaderInformation(link.reader(), link.portIndex()), MORVENT_OK);
  }
}

TEST(Close, CloseComPortLeavesNetworkLinksOpen) {
  ReaderLink serial(LinkKind::Serial, 37);
  ReaderLink last(LinkKind::Serial, 255);
  ReaderLink network(LinkKind::Network);
  ASSERT_EQ(serial.openStatus(), MORVENT_OK);
  ASSERT_EQ(last.openStatus(), MORVENT_OK);
  ASSERT_EQ(network.openStatus(), MORVENT_OK);
  EXPECT_EQ(CloseComPort(), MORVENT_OK);
  EXPECT_EQ(askReaderInformation(serial.reader(), 37), MORVENT_INVALID_PORT);
  EXPECT_EQ(askReaderInformation(last.reader(), 255), MORVENT_INVALID_PORT);
  EXPECT_EQ(askReaderInformation(network.reader(), network.portIndex()), MORVENT_OK);
  EXPECT_TRUE(network.reader().connected());
}

TEST(Close, IndexesOutsideTheirRangeTouchNoLink) {
  ReaderLink serial(LinkKind::Serial, 3);
  ReaderLink network(LinkKind::Network);
  ASSERT_EQ(serial.openStatus(), MORVENT_OK);
  ASSERT_EQ(network.openStatus(), MORVENT_OK);
  for (int index : {3, 0, -1, 1023, 65536, 70000}) EXPECT_EQ(CloseNetPort(index), 0) << index;
  for (int index : {network.portIndex(), 0, -5, 256, 1024})
    EXPECT_EQ(CloseSpecComPort(index), 0) << index;
  EXPECT_EQ(askReaderInformation(serial.reader(), 3), MORVENT_OK);
  EXPECT_EQ(askReaderInformation(network.reader(), network.portIndex()), MORVENT_OK);
  // Both still count as open.
  unsigned char address = 0xFF;
  int handle = 0;
  EXPECT_EQ(OpenComPort(3, &address, 9, &handle), MORVENT_PORT_OPEN);
  EXPECT_EQ(OpenNetPort(network.portIndex(), "127.0.0.1", &address, &handle), MORVENT_PORT_OPEN);
}

// The close waits for the reader to close its side, but not for ever.
TEST(Close, CloseNetPortGivesUpOnAReaderThatKeepsItsSideOpen) {
  ReaderLink network(LinkKind::Network);
  ASSERT_EQ(network.openStatus(), MORVENT_OK);
  network.reader().setIgnorePeerClose(true);
  const auto start = Clock::now();
  network.close();
  EXPECT_LT(msSince(start), 2500);
  EXPECT_TRUE(network.reader().connected());
}

TEST(Close, PortsNeverOpenedCloseQuietly) {
  EXPECT_EQ(CloseSpecComPort(77), MORVENT_OK);
  EXPECT_EQ(CloseComPort(), MORVENT_OK);
  EXPECT_EQ(CloseNetPort(50000), MORVENT_OK);
}

TEST(Transfer, SerialIndexNotOpenOrInvalidIndexIsAnInvalidPort) {
  Bytes frame = request(0x00, 0x21);
  unsigned char buffer[MORVENT_RECEIVE_BUFFER + 2];
  for (int index : {78, 0, 300, 70000, -1}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(SendDataToPort(frame.data(), 5, index), MORVENT_INVALID_PORT);
    for (ReceiveRoutine routine : kReceiveRoutines) {
      int count = 0;
      EXPECT_EQ(routine(buffer, &count, index), MORVENT_INVALID_PORT);
    }
  }
  auto reader = FakeReader::pty();
  EXPECT_EQ(askReaderInformation(*reader, 78), MORVENT_INVALID_PORT);
}

TEST(Transfer, NetworkSendOnAClosedLinkFails) {
  ReaderLink network(LinkKind::Network);
  ASSERT_EQ(network.openStatus(), MORVENT_OK);
  const int port = network.portIndex();
  network.close();
  Bytes frame = request(0x00, 0x21);
  const auto start = Clock::now();
  EXPECT_EQ(SendDataToPort(frame.data(), 5, port), MORVENT_COMM_ERROR);
  EXPECT_LT(msSince(start), 2500);
  EXPECT_EQ(network.reader().requestCount(), 1u);  // the handshake only
  // The ends of the network range are network ports too, not invalid ones.
  for (int index : {1024, 65535}) EXPECT_EQ(SendDataToPort(frame.data(), 5, index), MORVENT_COMM_ERROR) << index;
}

// A loopback socket on a free port: bound only (connections are refused),
// or listening with a backlog of one that `fill` takes (further connections
// wait without being accepted). No other test can take the port meanwhile.
namespace {

int peerSocket(bool listening, int* port, int* fill) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  *port = ntohs(address.sin_port);
  *fill = -1;
  if (listening) {
    EXPECT_EQ(listen(fd, 0), 0);
    *fill = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connect(*fill, reinterpret_cast<sockaddr*>(&address), size), 0);
  }
  return fd;
}

}  // namespace

TEST(OpenNet, NothingListeningOrAcceptingFailsWithinAboutASecond) {
  for (const bool listening : {false, true}) {
    SCOPED_TRACE(listening ? "not accepting" : "refused");
    int port = 0, fill = -1;
    const int fd = peerSocket(listening, &port, &fill);
    const auto start = Clock::now();
    EXPECT_EQ(OpenNet(port, "127.0.0.1"), MORVENT_COMM_ERROR);
    EXPECT_LT(msSince(start), 2500);
    Bytes frame = request(0x00, 0x21);
    EXPECT_EQ(SendDataToPort(frame.data(), 5, port), MORVENT_COMM_ERROR);
    if (fill >= 0) close(fill);
    close(fd);
  }
}

// Checks of the fake reader itself, driven over plain sockets and the pty.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/fake_reader.h"
#include "support/test_env.h"

using namespace mvtest;

namespace {

int connectTo(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TEST(FakeReader, ResponseFrameCarriesLenAndCrc) {
  EXPECT_EQ(request(0xFF, 0x21), (Bytes{0x04, 0xFF, 0x21, 0x19, 0x95}));
  const Bytes frame = response(0x00, 0x21, 0x00, kReaderInfoData);
  ASSERT_EQ(frame.size(), 18u);
  EXPECT_EQ(frame[0], 0x11);
}

TEST(FakeReader, TcpAssemblesSplitRequestAndCountsKeepAlives) {
  auto reader = FakeReader::tcp();
  ASSERT_TRUE(reader);
  reader->scriptReaderInfo(0x07, kReaderInfoData, 100);
  int fd = connectTo(reader->port());
  ASSERT_GE(fd, 0);
  const Bytes req = request(0xFF, 0x21);
  writeAll(fd, {0x00, 0x00});
  writeAll(fd, Bytes(req.begin(), req.begin() + 2));
  EXPECT_FALSE(reader->waitForRequests(1, 100));
  const auto sent = Clock::now();
  writeAll(fd, Bytes(req.begin() + 2, req.end()));
  ASSERT_TRUE(reader->waitForRequests(1, 1000));
  EXPECT_EQ(reader->lastRequest(), req);
  EXPECT_EQ(reader->keepAlivesSeen(), 1);

  const Bytes answer = readFor(fd, 18, 2000);
  EXPECT_GE(msSince(sent), 90);
  EXPECT_EQ(answer, response(0x07, 0x21, 0x00, kReaderInfoData));
  close(fd);
  EXPECT_TRUE(reader->waitForDisconnect(1000));
}

TEST(FakeReader, PtyAnswersInDelayedChunksAndSupportsRawMode) {
  auto reader = FakeReader::pty();
  int fd = open(reader->slavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  reader->script({{{0x01, 0x02}, 0}, {{0x03}, 150}});
  const auto sent = Clock::now();
  writeAll(fd, request(0x00, 0x22, {0x0D, 0x0A}));
  EXPECT_EQ(readFor(fd, 2, 1000), (Bytes{0x01, 0x02}));
  EXPECT_EQ(readFor(fd, 1, 1000), (Bytes{0x03}));
  EXPECT_GE(msSince(sent), 140);
  EXPECT_EQ(reader->lastRequest(), request(0x00, 0x22, {0x0D, 0x0A}));

  reader->setRawMode(true);
  writeAll(fd, {0xA5});
  ASSERT_TRUE(reader->waitForRequests(2, 1000));
  EXPECT_EQ(reader->lastRequest(), Bytes{0xA5});
  close(fd);
}

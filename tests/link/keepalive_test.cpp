// Keep-alive on idle TCP links. These cases take 20 to 30 s each; ctest runs
// them beside the rest.
#include <gtest/gtest.h>

#include <thread>

#include "morvent.h"
#include "support/reader_link.h"

using namespace mvtest;
using std::chrono::seconds;

namespace {

long long msBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

}  // namespace

// Two idle readers each get 00 00 after about 17 s; a command on one of them
// at 8 s postpones its keep-alive to about 17 s after the command.
TEST(KeepAlive, IdleLinksGetZeroBytesAndACommandRestartsTheCount) {
  const auto opened = Clock::now();
  ReaderLink idle(LinkKind::Network);
  ReaderLink busy(LinkKind::Network);
  ASSERT_EQ(idle.openStatus(), MORVENT_OK);
  ASSERT_EQ(busy.openStatus(), MORVENT_OK);

  std::this_thread::sleep_for(seconds(8));
  EXPECT_EQ(busy.reader().keepAlivesSeen(), 0);
  const auto commanded = Clock::now();
  ASSERT_EQ(askReaderInformation(busy.reader(), busy.portIndex()), MORVENT_OK);

  ASSERT_TRUE(idle.reader().waitForKeepAlives(1, 20000));
  const auto idleAt = idle.reader().keepAliveTimes().front();
  EXPECT_GE(msBetween(opened, idleAt), 14000);
  EXPECT_LE(msBetween(opened, idleAt), 23000);
  EXPECT_EQ(busy.reader().keepAlivesSeen(), 0);

  ASSERT_TRUE(busy.reader().waitForKeepAlives(1, 20000));
  const auto busyAt = busy.reader().keepAliveTimes().front();
  EXPECT_GE(msBetween(commanded, busyAt), 14000);
  EXPECT_LE(msBetween(commanded, busyAt), 23000);

  // Nothing but the pairs of zero bytes arrived besides the requests.
  EXPECT_EQ(idle.reader().requestCount(), 1u);
  EXPECT_EQ(busy.reader().requestCount(), 2u);
  EXPECT_EQ(idle.reader().keepAlivesSeen(), 1);
}

// The first handshake goes unanswered, so the link opens more than a second
// after its connection was made; it still gets keep-alive once open.
TEST(KeepAlive, LinkOpenedAfterASlowHandshakeGetsKeepAlive) {
  auto reader = FakeReader::tcp();
  reader->scriptSilence();
  reader->scriptReaderInfo(0x00);
  unsigned char address = 0xFF;
  int handle = -1;
  const auto start = Clock::now();
  ASSERT_EQ(OpenNetPort(reader->port(), "127.0.0.1", &address, &handle), MORVENT_OK);
  const auto opened = Clock::now();
  ASSERT_GE(msBetween(start, opened), 1000);
  EXPECT_TRUE(reader->waitForKeepAlives(1, 25000));
  if (reader->keepAlivesSeen() > 0) {
    EXPECT_GE(msBetween(opened, reader->keepAliveTimes().front()), 14000);
  }
  CloseNetPort(handle);
}

// The sweep stops below 65535: a reader there works but never gets keep-alive.
TEST(KeepAlive, ReaderOnPort65535NeverGetsKeepAlive) {
  ReaderLink link(LinkKind::Network, 0, 0x00, 65535);
  if (link.openStatus() == -1) GTEST_SKIP() << "TCP port 65535 is taken on this machine";
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  EXPECT_EQ(link.portIndex(), 65535);
  EXPECT_FALSE(link.reader().waitForKeepAlives(1, 21000));
  EXPECT_EQ(askReaderInformation(link.reader(), 65535), MORVENT_OK);
}

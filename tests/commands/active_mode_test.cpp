// ReadActiveModeData: draining what the reader sent by itself.
#include <gtest/gtest.h>

#include <thread>

#include "commands/command_test.h"
#include "support/test_env.h"

using namespace mvtest;

namespace {

Bytes activeBytes(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

TEST(ReadActiveModeData, SerialTakesAtMostFiftyQueuedBytesAndKeepsTheRest) {
  ReaderLink link = openLink(LinkKind::Serial);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  const Bytes all = activeBytes(80);
  link.reader().sendUnsolicited(all);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  GuardedBuffer data(50);
  int count = -1;
  EXPECT_EQ(ReadActiveModeData(data.data(), &count, link.portIndex()), MORVENT_OK);
  ASSERT_EQ(count, 50);
  EXPECT_EQ(Bytes(data.data(), data.data() + 50), activeBytes(50));

  // The other 30 stayed queued, in order; then an empty queue answers at once.
  EXPECT_EQ(ReadActiveModeData(data.data(), &count, link.portIndex()), MORVENT_OK);
  ASSERT_EQ(count, 30);
  EXPECT_EQ(Bytes(data.data(), data.data() + 30), Bytes(all.begin() + 50, all.end()));
  const auto start = Clock::now();
  count = -1;
  EXPECT_EQ(ReadActiveModeData(data.data(), &count, link.portIndex()), MORVENT_NO_DATA);
  EXPECT_EQ(count, 0);
  EXPECT_LT(msSince(start), 200);
  EXPECT_EQ(link.reader().requestCount(), 1u);  // only the opening's handshake went out
}

TEST(ReadActiveModeData, TcpDeliversWhatArrives) {
  ReaderLink link = openLink(LinkKind::Network);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  link.reader().sendUnsolicited(activeBytes(120));
  Bytes data(8000, kSentinel);
  int count = -1;
  EXPECT_EQ(ReadActiveModeData(data.data(), &count, link.portIndex()), MORVENT_OK);
  ASSERT_EQ(count, 120);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 120), activeBytes(120));
  EXPECT_EQ(data[120], kSentinel);

  // Nothing within the second: a communication error, count untouched.
  const auto start = Clock::now();
  count = -1;
  EXPECT_EQ(ReadActiveModeData(data.data(), &count, link.portIndex()), MORVENT_COMM_ERROR);
  EXPECT_EQ(count, -1);
  EXPECT_GE(msSince(start), 900);
  EXPECT_LT(msSince(start), 3000);
}

TEST(ReadActiveModeData, PortsWithoutALink) {
  unsigned char data[50];
  int count = -1;
  EXPECT_EQ(ReadActiveModeData(data, &count, 65535), MORVENT_NO_DATA);
  EXPECT_EQ(ReadActiveModeData(data, &count, 300), MORVENT_NO_DATA);
  EXPECT_EQ(ReadActiveModeData(data, &count, 0), MORVENT_NO_DATA);
  EXPECT_EQ(ReadActiveModeData(data, &count, 4321), MORVENT_COMM_ERROR);
  EXPECT_EQ(ReadActiveModeData(data, &count, 200), MORVENT_INVALID_PORT);
  EXPECT_EQ(count, -1);
}

}  // namespace

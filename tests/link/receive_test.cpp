// The receive routines against a scripted reader, over a pty and over TCP:
// when each one considers a response complete, and when it gives up.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "morvent.h"
#include "support/reader_link.h"
#include "support/test_env.h"

using namespace mvtest;

namespace {

struct Received {
  int status;
  int count;
  Bytes bytes;  // the first `count` bytes of the buffer
  long long ms;
};

// Sends a request, then runs `routine` into a guarded receive buffer.
Received exchange(ReaderLink& link, ReceiveRoutine routine) {
  EXPECT_EQ(link.send(request(0x00, 0x01)), MORVENT_OK);
  GuardedBuffer buffer(MORVENT_RECEIVE_BUFFER + 2);
  int count = 0;
  const auto start = Clock::now();
  const int status = routine(buffer.data(), &count, link.portIndex());
  Received got{status, count, {}, msSince(start)};
  if (count > 0 && count <= MORVENT_RECEIVE_BUFFER)
    got.bytes.assign(buffer.data(), buffer.data() + count);
  return got;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes infoFrame() { return response(0x00, 0x21, 0x00, kReaderInfoData); }

class Receive : public ::testing::TestWithParam<LinkKind> {
 protected:
  void SetUp() override {
    link_ = std::make_unique<ReaderLink>(GetParam(), 21);
    ASSERT_EQ(link_->openStatus(), MORVENT_OK);
  }
  void TearDown() override { link_.reset(); }
  bool serial() const { return GetParam() == LinkKind::Serial; }
  FakeReader& reader() { return link_->reader(); }
  Received exchange(ReceiveRoutine routine) { return ::exchange(*link_, routine); }

  std::unique_ptr<ReaderLink> link_;
};

TEST_P(Receive, FrameInSeveralChunksIsAcceptedAtItsLastByte) {
  const Bytes frame = infoFrame();
  reader().script({{Bytes(frame.begin(), frame.begin() + 5)},
                   {Bytes(frame.begin() + 5, frame.begin() + 11), 40},
                   {Bytes(frame.begin() + 11, frame.end()), 40}});
  const Received got = exchange(GetDataFromPort);
  EXPECT_EQ(got.status, MORVENT_OK);
  EXPECT_EQ(got.bytes, frame);
  EXPECT_GE(got.ms, 60);
  EXPECT_LT(got.ms, 450);
}

TEST_P(Receive, StrayBytesAfterTheFrameMeanTimeOut) {
  reader().script({{concat({infoFrame(), {0xAA, 0x55}})}});
  const Received got = exchange(GetDataFromPort);
  EXPECT_EQ(got.status, MORVENT_COMM_ERROR);
  EXPECT_GE(got.ms, 900);
  EXPECT_LT(got.ms, 2600);
}

TEST_P(Receive, InventoryRoutineReturnsTwoWholeFrames) {
  const Bytes first = response(0x00, 0x01, 0x03, {0x01, 0x0C, 0xE2, 0x00});
  const Bytes second = response(0x00, 0x01, 0x01, {0x00});
  reader().script({{concat({first, second})}});
  const Received got = exchange(GetInventoryDataFromPort1);
  EXPECT_EQ(got.status, MORVENT_OK);
  EXPECT_EQ(got.count, static_cast<int>(first.size() + second.size()));
  EXPECT_EQ(got.bytes, concat({first, second}));
  EXPECT_LT(got.ms, 500);
}

TEST_P(Receive, InventoryRoutineWaitsForTheRestOfAHalfFrame) {
  const Bytes first = response(0x00, 0x01, 0x03, {0x01, 0x0C, 0xE2, 0x00});
  const Bytes second = response(0x00, 0x01, 0x01, {0x05, 0x06, 0x07, 0x08});
  const Bytes firstAndHalf = concat({first, Bytes(second.begin(), second.begin() + 4)});
  reader().script({{firstAndHalf}, {Bytes(second.begin() + 4, second.end()), 300}});
  const Received got = exchange(GetInventoryDataFromPort1);
  EXPECT_EQ(got.status, MORVENT_OK);
  EXPECT_EQ(got.bytes, concat({first, second}));
  EXPECT_GE(got.ms, 250);
}

TEST_P(Receive, StatusRoutineEndsAtTheFrameWithStatusZero) {
  const Bytes more = response(0x00, 0x72, 0x01, {0x11, 0x22});
  const Bytes last = response(0x00, 0x72, 0x00, {0x33});
  reader().script({{more}, {last, 200}});
  const Received got = exchange(GetDataFromPort1);
  EXPECT_EQ(got.status, MORVENT_OK);
  EXPECT_EQ(got.bytes, concat({more, last}));
  EXPECT_GE(got.ms, 150);
}

TEST_P(Receive, StatusRoutineReturnsASingleStatusZeroFrameAtOnce) {
  const Bytes only = response(0x00, 0x72, 0x00, {0x33});
  reader().script({{only}});
  const Received got = exchange(GetDataFromPort1);
  EXPECT_EQ(got.status, MORVENT_OK);
  EXPECT_EQ(got.bytes, only);
  EXPECT_LT(got.ms, 450);
}

// The fourth byte of a status-0 frame ends the run: its CRC is not awaited.
TEST_P(Receive, StatusRoutineEndsAtTheStatusByteOfAStatusZeroFrame) {
  const Bytes only = response(0x00, 0x72, 0x00, {0x33});
  reader().script({{Bytes(only.begin(), only.begin() + 4)}, {Bytes(only.begin() + 4, only.end()), 600}});
  const Received got = exchange(GetDataFromPort1);
  EXPECT_EQ(got.status, MORVENT_OK);
  EXPECT_EQ(got.bytes, Bytes(only.begin(), only.begin() + 4));
  EXPECT_LT(got.ms, 450);
  usleep(650 * 1000);  // let the rest go by
}

// A status-0 frame followed in the same chunk by another frame does not end
// the run; the next status-0 frame does.
TEST_P(Receive, StatusZeroFrameFollowedByMoreDoesNotEndTheRun) {
  const Bytes zero = response(0x00, 0x72, 0x00, {0x01});
  const Bytes one = response(0x00, 0x72, 0x01, {0x02});
  const Bytes end = response(0x00, 0x72, 0x00, {0x03});
  reader().script({{concat({zero, one})}, {end, 300}});
  const Received got = exchange(GetDataFromPort1);
  EXPECT_EQ(got.status, MORVENT_OK);
  EXPECT_EQ(got.bytes, concat({zero, one, end}));
  EXPECT_GE(got.ms, 250);
}

TEST_P(Receive, AtRoutineAcceptsAWholeFrame) {
  reader().script({{infoFrame(), 100}});
  const Received got = exchange(ATGetDataFromPort);
  EXPECT_EQ(got.status, MORVENT_OK);
  EXPECT_EQ(got.bytes, infoFrame());
}

// A whole answer ends the read at its last byte: no routine waits out the
// 10 ms gap a serial read otherwise needs to see the answer has ended. The
// fastest of a few exchanges keeps a loaded machine from failing the test.
TEST_P(Receive, WholeAnswerEndsTheReadAtItsLastByte) {
#ifdef _WIN32
  if (serial()) GTEST_SKIP() << "the Win32 serial read still waits out the interval time-out";
#endif
  const Bytes inventoryEnd = response(0x00, 0x01, 0x01, {0x01, 0x01, 0x0C, 0xE2, 0x00});
  const struct {
    const char* name;
    ReceiveRoutine routine;
    Bytes answer;
  } cases[] = {{"GetDataFromPort", GetDataFromPort, infoFrame()},
               {"ATGetDataFromPort", ATGetDataFromPort, infoFrame()},
               {"GetDataFromPort1", GetDataFromPort1, response(0x00, 0x72, 0x00, {0x33})},
               {"GetInventoryDataFromPort1", GetInventoryDataFromPort1, inventoryEnd}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    long long fastest = 1000;
    for (int i = 0; i < 5; ++i) {
      reader().script({{c.answer}});
      const Received got = exchange(c.routine);
      ASSERT_EQ(got.status, MORVENT_OK);
      ASSERT_EQ(got.bytes, c.answer);
      fastest = std::min(fastest, got.ms);
    }
    EXPECT_LT(fastest, 6);
  }
}

// A frame with status 0x03 announces more: a frame that comes apart from it still belongs to the answer.
TEST_P(Receive, InventoryFrameAnnouncingMoreWaitsForTheRest) {
  const Bytes more = response(0x00, 0x01, 0x03, {0x01, 0x01, 0x0C, 0xE2, 0x00});
  const Bytes last = response(0x00, 0x01, 0x01, {0x01, 0x01, 0x0C, 0xE2, 0x01});
  reader().script({{more}, {last, 50}});
  const Received got = exchange(GetInventoryDataFromPort1);
  EXPECT_EQ(got.status, MORVENT_OK);
  EXPECT_EQ(got.bytes, concat({more, last}));
}

// Answers a network link accepts and a serial one does not: a Len of 3 or
// less never completes on serial (the total time-out ends it), and a serial
// read gives up after 510 ms without a byte while a network wait lasts 1 s.
struct SerialRefusal {
  const char* name;
  Bytes frame;
  int delayMs;
  long long serialMinMs, serialMaxMs;
};

TEST_P(Receive, AnswersOnlyTheNetworkAccepts) {
  const SerialRefusal cases[] = {
      {"short frame", {0x03, 0x00, 0x01, 0x00}, 0, 900, 2200},
      {"answer after 800 ms", infoFrame(), 800, 400, 799},
  };
  for (const SerialRefusal& c : cases) {
    SCOPED_TRACE(c.name);
    reader().script({{c.frame, c.delayMs}});
    const Received got = exchange(GetDataFromPort);
    if (serial()) {
      EXPECT_EQ(got.status, MORVENT_COMM_ERROR);
      EXPECT_GE(got.ms, c.serialMinMs);
      EXPECT_LE(got.ms, c.serialMaxMs);
      usleep((c.delayMs + 50) * 1000);  // let the late answer go by
    } else {
      EXPECT_EQ(got.status, MORVENT_OK);
      EXPECT_EQ(got.bytes, c.frame);
    }
  }
}

TEST(NetworkReceive, ConnectionClosedMidFrameTimesOut) {
  ReaderLink link(LinkKind::Network);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  const Bytes frame = infoFrame();
  link.reader().scriptAnswerThenDrop({{Bytes(frame.begin(), frame.begin() + 9)}});
  const Received got = exchange(link, GetDataFromPort);
  EXPECT_EQ(got.status, MORVENT_COMM_ERROR);
  EXPECT_LT(got.ms, 2500);
  EXPECT_TRUE(link.reader().waitForDisconnect(1000));
}

// ---- Silence: each routine gives up within its limits ----

struct SilentCase {
  const char* name;
  ReceiveRoutine routine;
  long long serialMin, serialMax, networkMin, networkMax;
};

// Serial reads return after 510 ms of silence and the limits are tested
// between reads; network waits last up to 1 s each.
const SilentCase kSilentCases[] = {
    {"GetDataFromPort", GetDataFromPort, 400, 900, 900, 2300},
    {"GetDataFromPort1", GetDataFromPort1, 400, 900, 400, 2300},
    {"GetInventoryDataFromPort1", GetInventoryDataFromPort1, 900, 1800, 900, 2300},
};

TEST_P(Receive, SilentReaderTimesOutWithinTheLimits) {
  for (const SilentCase& c : kSilentCases) {
    SCOPED_TRACE(c.name);
    reader().scriptSilence();
    const Received got = exchange(c.routine);
    EXPECT_EQ(got.status, MORVENT_COMM_ERROR);
    EXPECT_GE(got.ms, serial() ? c.serialMin : c.networkMin);
    EXPECT_LE(got.ms, serial() ? c.serialMax : c.networkMax);
  }
}

TEST_P(Receive, SlowAtRoutineWaitsSixSecondsForAnAnswer) {
  reader().script({{infoFrame(), 6000}});
  const Received got = exchange(ATGetDataFromPort);
  EXPECT_EQ(got.status, MORVENT_OK);
  EXPECT_EQ(got.bytes, infoFrame());
  EXPECT_GE(got.ms, 5900);
}

TEST_P(Receive, SlowAtRoutineGivesUpAfterSevenSilentSeconds) {
  reader().scriptSilence();
  const Received got = exchange(ATGetDataFromPort);
  EXPECT_EQ(got.status, MORVENT_COMM_ERROR);
  EXPECT_GE(got.ms, 6500);
  EXPECT_LE(got.ms, 11000);
}

INSTANTIATE_TEST_SUITE_P(Links, Receive, ::testing::Values(LinkKind::Serial, LinkKind::Network),
                         [](const auto& info) { return linkName(info.param); });

// ---- Flood: more bytes than the receive buffer holds ----

// 9000 bytes that never complete a run: the frame boundaries they describe
// (Len 0xFE first, then 0xFF) fall on odd offsets, while the bytes arrive in
// 200-byte pieces so every read ends on an even offset; no frame has status 0.
Bytes floodBytes() {
  Bytes flood(9000, 0x01);
  flood[0] = 0xFE;
  for (std::size_t at = 255; at < flood.size(); at += 256) flood[at] = 0xFF;
  return flood;
}

struct FloodCase {
  const char* name;
  ReceiveRoutine routine;
};
const FloodCase kFloodCases[] = {{"GetDataFromPort", GetDataFromPort},
                                 {"GetDataFromPort1", GetDataFromPort1},
                                 {"GetInventoryDataFromPort1", GetInventoryDataFromPort1}};

class Flood : public ::testing::TestWithParam<std::tuple<LinkKind, int>> {};

TEST_P(Flood, NoRoutineWritesPastTheReceiveBuffer) {
  const auto [kind, caseIndex] = GetParam();
  ReaderLink link(kind, 22);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  std::vector<Chunk> pieces;
  const Bytes flood = floodBytes();
  for (std::size_t at = 0; at < flood.size(); at += 200)
    pieces.push_back({Bytes(flood.begin() + at, flood.begin() + at + 200), 12});
  link.reader().script(pieces);
  const Received got = exchange(link, kFloodCases[caseIndex].routine);  // overflow faults
  EXPECT_EQ(got.status, MORVENT_COMM_ERROR);
  EXPECT_LE(got.count, MORVENT_RECEIVE_BUFFER);
}

INSTANTIATE_TEST_SUITE_P(Links, Flood,
                         ::testing::Combine(::testing::Values(LinkKind::Serial, LinkKind::Network),
                                            ::testing::Range(0, 3)),
                         [](const auto& info) {
                           return linkName(std::get<0>(info.param)) +
                                  kFloodCases[std::get<1>(info.param)].name;
                         });

}  // namespace

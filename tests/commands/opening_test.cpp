// Opening a reader (OpenComPort, OpenComPortAt, AutoOpenComPort,
// OpenNetPort) and the reader-information command, against the fake reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "morvent.h"
#include "support/reader_link.h"

using namespace mvtest;

namespace {

const Bytes kHandshake = {0x04, 0xFF, 0x21, 0x19, 0x95};

// The address asked: 0xFF opens with OpenComPort or OpenNetPort, another with OpenComPortAt.
struct Way { LinkKind kind; unsigned char asked; };
void PrintTo(const Way& way, std::ostream* out) { *out << linkName(way.kind) << " asking " << int(way.asked); }

// One opening attempt on a fake reader of either kind, by its own means.
struct Opening {
  LinkKind kind;
  std::unique_ptr<FakeReader> reader;
  int com;
  unsigned char asked;

  Opening(Way way, int comNumber)
      : kind(way.kind), reader(kind == LinkKind::Serial ? FakeReader::pty() : FakeReader::tcp()),
        com(comNumber), asked(way.asked) {
    if (kind == LinkKind::Serial) reader->mapCom(com);
  }
  int index() const { return kind == LinkKind::Serial ? com : reader->port(); }
  Bytes handshake() const { return request(asked, 0x21); }
  int open(unsigned char* address, int* handle) {
    unsigned char at = asked;  // read by OpenComPortAt; a failure leaves *address as it was
    const int atStatus = asked == 0xFF ? -1 : OpenComPortAt(com, &at, 9, handle);
    if (atStatus == MORVENT_OK) *address = at;
    if (asked != 0xFF) return atStatus;
    return kind == LinkKind::Serial ? OpenComPort(com, address, 9, handle)
                                    : OpenNetPort(reader->port(), "127.0.0.1", address, handle);
  }
  void close() {
    if (kind == LinkKind::Serial)
      CloseSpecComPort(com);
    else
      CloseNetPort(reader->port());
  }
};

// Both handshake attempts get what `answer()` scripts, which is no
// handshake: the opening fails, names no port, and asked twice.
template <class Answer>
void expectNoHandshake(Opening& opening, Answer answer) {
  answer();
  answer();
  unsigned char address = 0x42;
  int handle = 0;
  EXPECT_EQ(opening.open(&address, &handle), MORVENT_COMM_ERROR);
  EXPECT_EQ(handle, -1);
  EXPECT_EQ(opening.reader->requestCount(), 2u);
}

class Open : public ::testing::TestWithParam<Way> {};

TEST_P(Open, HandshakesWithAnyReaderAndReturnsItsAddress) {
  Opening opening(GetParam(), 51);
  opening.reader->scriptReaderInfo(0x2A);
  unsigned char address = 0x42;  // ignored on input
  int handle = 0;
  ASSERT_EQ(opening.open(&address, &handle), MORVENT_OK);
  EXPECT_EQ(address, 0x2A);
  EXPECT_EQ(handle, opening.index());
  ASSERT_EQ(opening.reader->requestCount(), 1u);
  EXPECT_EQ(opening.reader->lastRequest(), opening.handshake());

  // Opening it again is refused without a word to the reader.
  EXPECT_EQ(opening.open(&address, &handle), MORVENT_PORT_OPEN);
  EXPECT_FALSE(opening.reader->waitForRequests(2, 300));
  EXPECT_EQ(askReaderInformation(*opening.reader, opening.index()), MORVENT_OK);
  opening.close();
}

TEST_P(Open, SilentReaderFailsTwoHandshakesAndIsClosedAgain) {
  Opening opening(GetParam(), 52);
  opening.reader->scriptSilence();
  opening.reader->scriptSilence();
  unsigned char address = 0x42;
  int handle = 0;
  const auto start = Clock::now();
  EXPECT_EQ(opening.open(&address, &handle), MORVENT_COMM_ERROR);
  EXPECT_EQ(handle, -1);
  EXPECT_EQ(address, 0x42);
  EXPECT_LT(msSince(start), 6000);
  const auto requests = opening.reader->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].bytes, opening.handshake());
  EXPECT_EQ(requests[1].bytes, opening.handshake());
  if (opening.kind == LinkKind::Serial) {
    Bytes frame = request(0x00, 0x21);
    EXPECT_EQ(SendDataToPort(frame.data(), 5, opening.com), MORVENT_INVALID_PORT);
  } else {
    EXPECT_TRUE(opening.reader->waitForDisconnect(2000));
  }
  // The port is not marked open: it can be opened once a reader answers.
  opening.reader->scriptReaderInfo(0x2A);
  EXPECT_EQ(opening.open(&address, &handle), MORVENT_OK);
  opening.close();
}

TEST_P(Open, AnswersWithBadCrcFailTheHandshake) {
  Opening opening(GetParam(), 53);
  Bytes corrupt = response(0x00, 0x21, 0x00, kReaderInfoData);
  corrupt.back() ^= 0x01;
  expectNoHandshake(opening, [&] { opening.reader->script({{corrupt}}); });
}

// The first handshake may fail; the second attempt opens the port.
TEST_P(Open, SecondHandshakeAttemptCanSucceed) {
  Opening opening(GetParam(), 54);
  opening.reader->scriptSilence();
  opening.reader->scriptReaderInfo(0x2A);
  unsigned char address = 0x42;
  int handle = 0;
  ASSERT_EQ(opening.open(&address, &handle), MORVENT_OK);
  EXPECT_EQ(address, 0x2A);
  EXPECT_EQ(handle, opening.index());
  opening.close();
}

INSTANTIATE_TEST_SUITE_P(Links, Open,
                         ::testing::Values(Way{LinkKind::Serial, 0xFF}, Way{LinkKind::Network, 0xFF},
                                           Way{LinkKind::Serial, 0x2A}),
                         [](const auto& i) { return linkName(i.param.kind) + (i.param.asked == 0xFF ? "" : "At"); });

// An answer from a reader at another address than the one asked (on a bus:
// another reader) opens nothing.
TEST(OpenComPortAt, AnswerFromAnotherAddressThanAskedIsNoHandshake) {
  Opening opening(Way{LinkKind::Serial, 0x2A}, 56);
  expectNoHandshake(opening, [&] { opening.reader->scriptReaderInfo(0x2B); });
}

TEST(OpenNetPort, RefusesPortsOutsideTheNetworkRangeAndStaysUsable) {
  unsigned char address = 0x42;
  for (int port : {80, 0, 1023, 65536}) {
    int handle = 0;
    EXPECT_EQ(OpenNetPort(port, "127.0.0.1", &address, &handle), MORVENT_INVALID_PORT) << port;
  }
  ReaderLink link(LinkKind::Network);  // the lock was released
  EXPECT_EQ(link.openStatus(), MORVENT_OK);
}

TEST(OpenComPort, ComNumberOutsideTheRangeFailsAfterItsAttempts) {
  for (auto open : {OpenComPort, OpenComPortAt}) {
    unsigned char address = 0x42;
    int handle = 0;
    EXPECT_EQ(open(256, &address, 9, &handle), MORVENT_COMM_ERROR);
    EXPECT_EQ(handle, -1);
  }
}

// What the status of a failed opening cannot tell apart from a silent
// reader: a device that is not there, a host name and its address.
TEST(OpeningCauses, DevicesAndHostNamesAreLookedUp) {
  char device[64];
#ifdef _WIN32
  EXPECT_EQ(MorventSerialDevice(200, device, sizeof device), MORVENT_DEVICE_MISSING);
  EXPECT_STREQ(device, "\\\\.\\COM200");
#else
  auto missing = mapComToMissing(34);
  EXPECT_EQ(MorventSerialDevice(34, device, sizeof device), MORVENT_DEVICE_MISSING);
  EXPECT_STREQ(device, "/nonexistent/morvent-test-com34");
  auto reader = FakeReader::pty();
  reader->mapCom(35);
  EXPECT_EQ(MorventSerialDevice(35, device, 8), MORVENT_DEVICE_PRESENT);
  EXPECT_EQ(std::string(device), reader->slavePath().substr(0, 7));  // cut to its room
#endif
  EXPECT_EQ(MorventSerialDevice(256, device, sizeof device), MORVENT_INVALID_PORT);

  char ip[16] = "untouched";
  EXPECT_EQ(MorventResolveHost("10.1.5", ip), MORVENT_PARAM_RANGE);  // never read as 10.1.0.5
  EXPECT_EQ(MorventResolveHost("", ip), MORVENT_PARAM_RANGE);
  EXPECT_NE(MorventResolveHost("no-such-host.invalid", ip), MORVENT_OK);
  EXPECT_STREQ(ip, "untouched");
  ASSERT_EQ(MorventResolveHost("localhost", ip), MORVENT_OK);
  EXPECT_STREQ(ip, "127.0.0.1");
  ASSERT_EQ(MorventResolveHost("192.168.0.255", ip), MORVENT_OK);
  EXPECT_STREQ(ip, "192.168.0.255");
}

// COM1..COM12 other than the reader's are mapped to missing devices so that
// no serial port of the machine takes part.
std::vector<std::unique_ptr<ComMapping>> missingComsExcept(std::initializer_list<int> keep) {
  std::vector<std::unique_ptr<ComMapping>> missing;
  for (int com = 1; com <= 12; ++com)
    if (std::find(keep.begin(), keep.end(), com) == keep.end())
      missing.push_back(mapComToMissing(com));
  return missing;
}

// Runs AutoOpenComPort, expecting it to open `expectedCom`, whose reader
// answers from `expectedAddress`.
void expectAutoOpenFinds(int expectedCom, unsigned char expectedAddress) {
  int com = 0, handle = 0;
  unsigned char address = 0x42;
  ASSERT_EQ(AutoOpenComPort(&com, &address, 9, &handle), MORVENT_OK);
  EXPECT_EQ(com, expectedCom);
  EXPECT_EQ(handle, expectedCom);
  EXPECT_EQ(address, expectedAddress);
}

// COM12 is the last port scanned.
TEST(AutoOpenComPort, FindsTheReaderOnCom3OrCom12) {
  for (const int readerCom : {3, 12}) {
    SCOPED_TRACE(readerCom);
    auto missing = missingComsExcept({readerCom});
    auto reader = FakeReader::pty();
    reader->mapCom(readerCom);
    reader->scriptReaderInfo(0x05);
    expectAutoOpenFinds(readerCom, 0x05);
    EXPECT_EQ(reader->lastRequest(), kHandshake);
    EXPECT_EQ(CloseSpecComPort(readerCom), MORVENT_OK);
  }
}

// A COM port that is already open answers 0x35 and the scan moves on.
TEST(AutoOpenComPort, PassesOverAPortAlreadyOpen) {
  auto missing = missingComsExcept({3, 4});
  ReaderLink first(LinkKind::Serial, 3, 0x01);
  ASSERT_EQ(first.openStatus(), MORVENT_OK);
  auto second = FakeReader::pty();
  second->mapCom(4);
  second->scriptReaderInfo(0x02);
  expectAutoOpenFinds(4, 0x02);
  EXPECT_EQ(first.reader().requestCount(), 1u);  // its handshake only
  EXPECT_EQ(CloseSpecComPort(4), MORVENT_OK);
}

TEST(AutoOpenComPort, NoReaderGivesMinusOneAndTheLastPortsResult) {
  auto missing = missingComsExcept({});
  int com = 0, handle = 0;
  unsigned char address = 0x42;
  EXPECT_EQ(AutoOpenComPort(&com, &address, 9, &handle), MORVENT_COMM_ERROR);
  EXPECT_EQ(com, -1);
  EXPECT_EQ(handle, -1);
}

// ---- GetReaderInformation ----

// The outputs of GetReaderInformation, pre-filled with a sentinel.
struct InfoOutputs {
  unsigned char address = 0x00;
  std::array<unsigned char, 12> bytes;  // infoPair[2], info2..info6, scanTime, info8..info10
  InfoOutputs() { bytes.fill(0xC3); }
  int call(int port) {
    unsigned char* b = bytes.data();
    return GetReaderInformation(&address, b, b + 2, b + 3, b + 4, b + 5, b + 6, b + 7, b + 8,
                                b + 9, b + 10, port);
  }
};

class ReaderInformation : public ::testing::TestWithParam<LinkKind> {
 protected:
  void SetUp() override {
    link_ = std::make_unique<ReaderLink>(GetParam(), 55, 0x00);
    ASSERT_EQ(link_->openStatus(), MORVENT_OK);
  }
  FakeReader& reader() { return link_->reader(); }
  std::unique_ptr<ReaderLink> link_;
};

TEST_P(ReaderInformation, FillsEveryOutputFromTheAnswer) {
  const Bytes data = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B};
  reader().scriptFrame(0x33, 0x21, 0x00, data);
  InfoOutputs out;
  out.address = 0x00;
  ASSERT_EQ(out.call(link_->portIndex()), MORVENT_OK);
  EXPECT_EQ(reader().lastRequest(), request(0x00, 0x21));
  EXPECT_EQ(out.address, 0x33);
  for (int k = 0; k < 11; ++k) EXPECT_EQ(out.bytes[k], data[k]) << "data byte " << k;
  EXPECT_EQ(out.bytes[11], 0xC3);
}

struct FailedAnswer {
  const char* name;
  Bytes frame;
  int status;
};

TEST_P(ReaderInformation, FailuresLeaveEveryOutputUnchanged) {
  Bytes badCrc = response(0x33, 0x21, 0x00, kReaderInfoData);
  badCrc[6] ^= 0x40;
  const FailedAnswer cases[] = {
      {"reader status", response(0x33, 0x21, 0x05, kReaderInfoData), 0x05},
      {"other command", response(0x33, 0x22, 0x00, kReaderInfoData), MORVENT_CMD_MISMATCH},
      {"bad CRC", badCrc, MORVENT_CRC_ERROR},
      {"success without the information",
       response(0x33, 0x21, 0x00, Bytes(kReaderInfoData.begin(), kReaderInfoData.begin() + 10)),
       MORVENT_COMM_ERROR},
  };
  for (const FailedAnswer& c : cases) {
    SCOPED_TRACE(c.name);
    reader().script({{c.frame}});
    InfoOutputs out;
    out.address = 0x07;
    EXPECT_EQ(out.call(link_->portIndex()), c.status);
    EXPECT_EQ(out.address, 0x07);
    for (unsigned char b : out.bytes) EXPECT_EQ(b, 0xC3);
  }
}

INSTANTIATE_TEST_SUITE_P(Links, ReaderInformation,
                         ::testing::Values(LinkKind::Serial, LinkKind::Network),
                         [](const auto& info) { return linkName(info.param); });

}  // namespace

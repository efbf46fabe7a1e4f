// SetMask's mask length, and GetSystemParameter's short and long answers.
#include <gtest/gtest.h>

#include <cstring>

#include "commands/command_test.h"

using namespace mvtest;

namespace {

constexpr std::uint8_t kSetMask = 0x3B;
constexpr std::uint8_t kGetSystemParameter = 0x36;

TEST(SetMask, SendsWholeBytesForTheBitLength) {
  ReaderLink link = openLink(LinkKind::Network);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  unsigned char address = 0xFF;
  unsigned char maskAddress[2] = {0x12, 0x34};
  unsigned char mask[32];
  for (int i = 0; i < 32; ++i) mask[i] = static_cast<unsigned char>(0xC0 + i);

  for (const int bits : {0, 9, 255}) {
    SCOPED_TRACE(bits);
    const std::size_t n = (bits + 7) / 8;
    link.reader().scriptFrame(kAnswering, kSetMask, 0x00);
    EXPECT_EQ(SetMask(&address, 0x02, maskAddress, static_cast<unsigned char>(bits), mask, link.portIndex()),
              MORVENT_OK);
    Bytes data{0x02, 0x12, 0x34, static_cast<std::uint8_t>(bits)};
    for (std::size_t i = 0; i < n; ++i) data.push_back(mask[i]);
    const Bytes sent = link.reader().lastRequest();
    EXPECT_EQ(sent, request(0xFF, kSetMask, data));
    EXPECT_EQ(sent.size(), n + 9);
  }
  EXPECT_EQ(address, 0xFF);
}

struct SystemParameters {
  unsigned char p[6], bank, maskAddress[2], bitLength, mask[32], ext[3];
  SystemParameters() { std::memset(this, kSentinel, sizeof *this); }
  int read(unsigned char* address, int port) {
    return GetSystemParameter(address, &p[0], &p[1], &p[2], &p[3], &p[4], &p[5], &bank, maskAddress,
                              &bitLength, mask, &ext[0], &ext[1], &ext[2], port);
  }
};

Bytes record(std::size_t size) {
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i + 1);
  return data;
}

class GetSystemParameterTest : public testing::TestWithParam<LinkKind> {};

TEST_P(GetSystemParameterTest, LongAndShortAnswers) {
  ReaderLink link = openLink(GetParam());
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  unsigned char address = 0xFF;

  SystemParameters got;
  link.reader().scriptFrame(kAnswering, kGetSystemParameter, 0x00, record(45));
  EXPECT_EQ(got.read(&address, link.portIndex()), MORVENT_OK);
  EXPECT_EQ(link.reader().lastRequest(), request(0xFF, kGetSystemParameter));
  EXPECT_EQ(Bytes(got.p, got.p + 6), (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(got.bank, 7);
  EXPECT_EQ(Bytes(got.maskAddress, got.maskAddress + 2), (Bytes{8, 9}));
  EXPECT_EQ(got.bitLength, 10);
  const Bytes sent = record(42);
  EXPECT_EQ(Bytes(got.mask, got.mask + 32), Bytes(sent.begin() + 10, sent.end()));
  EXPECT_EQ(Bytes(got.ext, got.ext + 3), (Bytes{43, 44, 45}));

  SystemParameters shortAnswer;
  link.reader().scriptFrame(kAnswering, kGetSystemParameter, 0x00, record(42));
  EXPECT_EQ(shortAnswer.read(&address, link.portIndex()), MORVENT_OK);
  EXPECT_EQ(shortAnswer.mask[31], 42);
  EXPECT_EQ(Bytes(shortAnswer.ext, shortAnswer.ext + 3), (Bytes{0, kSentinel, kSentinel}));
  EXPECT_EQ(address, 0xFF);
}

MVTEST_BOTH_LINKS(GetSystemParameterTest);

TEST(GetSystemParameterFailures, WriteNothing) {
  ReaderLink link = openLink(LinkKind::Network);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  unsigned char address = 0xFF;
  const SystemParameters untouched;
  SystemParameters got;

  link.reader().scriptFrame(kAnswering, kGetSystemParameter, 0xFE, record(45));
  EXPECT_EQ(got.read(&address, link.portIndex()), 0xFE);
  // Neither short (Len 0x2F) nor long enough for the extension bytes.
  link.reader().scriptFrame(kAnswering, kGetSystemParameter, 0x00, record(43));
  EXPECT_EQ(got.read(&address, link.portIndex()), MORVENT_COMM_ERROR);

  EXPECT_EQ(std::memcmp(&got, &untouched, sizeof got), 0);
  EXPECT_EQ(address, 0xFF);
}

}  // namespace

// Gen2 memory commands: the addressing forms on the wire, the read data
// length, and requests refused at the frame limit.
#include <cstring>

#include "commands/tag_fixture.h"
#include "support/test_env.h"

using namespace tagtest;
using mvtest::request;

namespace {

unsigned char kPassword[4] = {0x11, 0x22, 0x33, 0x44};
unsigned char kMaskAddress[2] = {0x01, 0x02};

Bytes sequence(std::size_t n, std::uint8_t first) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i);
  return b;
}

class MemoryTest : public TagTest {
 protected:
  unsigned char adr = kCallerAdr;
  int errorCode = kSentinel;
};

TEST_F(MemoryTest, ReadDataAddressingForms) {
  Bytes mask = sequence(12, 0x90);
  unsigned char data[64];
  answer(0x02, 0x00);
  EXPECT_EQ(ReadData_G2(&adr, nullptr, 0, 3, 2, 2, kPassword, 1, kMaskAddress, 96, mask.data(), data, &errorCode,
                        port()),
            MORVENT_OK);
  EXPECT_EQ(sent(), request(kCallerAdr, 0x02, {0, 3, 2, 2, 0x11, 0x22, 0x33, 0x44}));  // Len 12

  answer(0x02, 0x00);
  EXPECT_EQ(ReadData_G2(&adr, nullptr, 0xFF, 3, 2, 2, kPassword, 1, kMaskAddress, 96, mask.data(), data,
                        &errorCode, port()),
            MORVENT_OK);
  const Bytes frame = sent();
  ASSERT_EQ(frame.size(), 29u);  // Len 28
  EXPECT_EQ(frame[3], 0xFF);
  EXPECT_EQ(Bytes(frame.begin() + 11, frame.begin() + 27),
            (Bytes{1, 0x01, 0x02, 96, 0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B}));
}

// The reader's data length counts: a 4-byte answer to a request for 8
// words fills exactly 4 bytes.
TEST_F(MemoryTest, ReadDataCopiesTheAnswersDataLength) {
  mvtest::GuardedBuffer data(4);
  answer(0x02, 0x00, {0xCA, 0xFE, 0xBA, 0xBE});
  unsigned char epc[12] = {};
  EXPECT_EQ(ReadData_G2(&adr, epc, 6, 3, 0, 8, kPassword, 0, nullptr, 0, nullptr, data.data(), &errorCode, port()),
            MORVENT_OK);
  EXPECT_EQ(sent().size(), 25u);  // Len 24
  EXPECT_EQ(Bytes(data.data(), data.data() + 4), (Bytes{0xCA, 0xFE, 0xBA, 0xBE}));
  EXPECT_EQ(adr, kAnswerAdr);
}

TEST_F(MemoryTest, WriteDataPutsTheWordCountBeforeTheAddress) {
  unsigned char words[2] = {0xBE, 0xEF};
  answer(0x03, 0x00);
  EXPECT_EQ(WriteData_G2(&adr, nullptr, 1, 0xFF, 3, 4, words, kPassword, 1, kMaskAddress, 0, nullptr, &errorCode,
                         port()),
            MORVENT_OK);
  EXPECT_EQ(sent(), request(kCallerAdr, 0x03, {1, 0xFF, 3, 4, 0xBE, 0xEF, 0x11, 0x22, 0x33, 0x44, 1, 0x01, 0x02, 0}));
}

// Len is one byte: the largest requests that fit go out, one more word is
// refused with nothing sent and nothing written.
TEST_F(MemoryTest, RequestsBeyondOneFrameAreRefused) {
  Bytes words = sequence(2 * 123, 0x00);
  answer(0x03, 0x00);
  EXPECT_EQ(WriteData_G2(&adr, nullptr, 121, 0, 3, 0, words.data(), kPassword, 0, nullptr, 0, nullptr, &errorCode,
                         port()),
            MORVENT_OK);
  EXPECT_EQ(sent()[0], 254);
  answer(0x04, 0x00);
  EXPECT_EQ(WriteEPC_G2(&adr, kPassword, words.data(), 123, &errorCode, port()), MORVENT_OK);
  EXPECT_EQ(sent()[0], 255);
  const std::size_t sentSoFar = commandsSent();

  adr = kCallerAdr;
  errorCode = kSentinel;
  EXPECT_EQ(WriteData_G2(&adr, nullptr, 122, 0, 3, 0, words.data(), kPassword, 0, nullptr, 0, nullptr, &errorCode,
                         port()),
            MORVENT_PARAM_RANGE);
  // 120 words fit alone, not with a 255-bit (32-byte) mask.
  EXPECT_EQ(BlockWrite_G2(&adr, nullptr, 120, 0xFF, 3, 0, words.data(), kPassword, 1, kMaskAddress, 255,
                          words.data(), &errorCode, port()),
            MORVENT_PARAM_RANGE);
  EXPECT_EQ(WriteEPC_G2(&adr, kPassword, words.data(), 124, &errorCode, port()), MORVENT_PARAM_RANGE);
  EXPECT_EQ(errorCode, kSentinel);
  EXPECT_EQ(adr, kCallerAdr);
  EXPECT_EQ(commandsSent(), sentSoFar);
}

}  // namespace

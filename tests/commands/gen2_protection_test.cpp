// Gen2 protection commands: field order with each addressing form, and the
// privacy state.
#include <algorithm>

#include "commands/tag_fixture.h"

using namespace tagtest;
using mvtest::request;

namespace {

unsigned char kPassword[4] = {0x11, 0x22, 0x33, 0x44};
unsigned char kMaskAddress[2] = {0x01, 0x02};
unsigned char kMask[2] = {0xAB, 0xCD};
unsigned char kEpc[2] = {0xE0, 0xE1};

class ProtectionTest : public TagTest {
 protected:
  unsigned char adr = kCallerAdr;
  int errorCode = kSentinel;
};

TEST_F(ProtectionTest, KillByMaskWithoutMaskBytes) {
  answer(0x05, 0x00);
  EXPECT_EQ(KillTag_G2(&adr, nullptr, 0xFF, kPassword, 1, kMaskAddress, 0, nullptr, &errorCode, port()), MORVENT_OK);
  EXPECT_EQ(sent(), request(kCallerAdr, 0x05, {0xFF, 0x11, 0x22, 0x33, 0x44, 1, 0x01, 0x02, 0}));  // Len 13
}

// Fifteen words is the longest EPC a tag is addressed by.
TEST_F(ProtectionTest, KillByAFifteenWordEpc) {
  Bytes epc(30);
  for (std::size_t i = 0; i < epc.size(); ++i) epc[i] = static_cast<std::uint8_t>(0x80 + i);
  answer(0x05, 0x00);
  EXPECT_EQ(KillTag_G2(&adr, epc.data(), 15, kPassword, 0, nullptr, 0, nullptr, &errorCode, port()), MORVENT_OK);
  Bytes expected(1 + 30 + 4, 15);
  std::copy(epc.begin(), epc.end(), expected.begin() + 1);
  std::copy(kPassword, kPassword + 4, expected.begin() + 31);
  EXPECT_EQ(sent(), request(kCallerAdr, 0x05, expected));
}

TEST_F(ProtectionTest, LockPutsItsCodesBeforeThePassword) {
  answer(0x06, 0x00);
  EXPECT_EQ(Lock_G2(&adr, nullptr, 0, 2, 3, kPassword, 0, nullptr, 0, nullptr, &errorCode, port()), MORVENT_OK);
  EXPECT_EQ(sent(), request(kCallerAdr, 0x06, {0, 2, 3, 0x11, 0x22, 0x33, 0x44}));  // Len 11

  answer(0x06, 0x00);
  EXPECT_EQ(Lock_G2(&adr, nullptr, 0xFF, 2, 3, kPassword, 1, kMaskAddress, 16, kMask, &errorCode, port()),
            MORVENT_OK);
  EXPECT_EQ(sent(), request(kCallerAdr, 0x06, {0xFF, 2, 3, 0x11, 0x22, 0x33, 0x44, 1, 0x01, 0x02, 16, 0xAB, 0xCD}));
}

TEST_F(ProtectionTest, EasConfigurePutsItsStateAfterThePassword) {
  answer(0x0C, 0x00);
  EXPECT_EQ(EASConfigure_G2(&adr, kEpc, 1, kPassword, 0x01, 0, nullptr, 0, nullptr, &errorCode, port()), MORVENT_OK);
  EXPECT_EQ(sent(), request(kCallerAdr, 0x0C, {1, 0xE0, 0xE1, 0x11, 0x22, 0x33, 0x44, 0x01}));  // Len 12
}

TEST_F(ProtectionTest, CheckPrivacyDeliversTheState) {
  unsigned char state = 0xA5;
  answer(0x0B, 0x00, {0x01});
  EXPECT_EQ(CheckPrivacy_G2(&adr, &state, &errorCode, port()), MORVENT_OK);
  EXPECT_EQ(state, 1);
  EXPECT_EQ(errorCode, -1);
  EXPECT_EQ(adr, kCallerAdr);
}

}  // namespace

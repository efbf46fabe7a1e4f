// Every tag command with an errorCode, over both links: the exact request
// for one argument set, and what each kind of answer writes: status 0, a tag
// error, another status, a broken CRC, a wrong echo, and (for the commands
// that address a tag) epcWords 0x10 refused with nothing sent.
#include <cstring>

#include "commands/tag_fixture.h"

using namespace tagtest;
using mvtest::request;
using mvtest::response;

namespace {

enum class WriteBack { Never, OnSuccess, Always };

unsigned char kEpc[12] = {0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB};
unsigned char kPassword[4] = {0x11, 0x22, 0x33, 0x44};
unsigned char kUid[8] = {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7};
unsigned char kMaskAddress[2] = {0x00, 0x20};
unsigned char kMask[2] = {0xAB, 0xC0};
unsigned char kWords[2] = {0xBE, 0xEF};
unsigned char kBytes6B[4] = {0x01, 0x02, 0x03, 0x04};
// Where the commands put their other outputs (data, state bytes, lengths).
unsigned char gOut[64];

const Bytes kEpcBytes(kEpc, kEpc + 12);
const Bytes kPw(kPassword, kPassword + 4);
const Bytes kUidBytes(kUid, kUid + 8);

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

using Call = int (*)(unsigned char* adr, unsigned char epcWords, int* errorCode, int port);

struct Case {
  const char* name;
  std::uint8_t cmd;
  WriteBack writeBack;
  bool addressed;
  Bytes requestData;  // with epcWords 6
  Call call;
};

const Case kCases[] = {
    {"ReadData_G2", 0x02, WriteBack::OnSuccess, true, cat({{6}, kEpcBytes, {3, 2, 2}, kPw}),
     [](unsigned char* a, unsigned char e, int* ec, int p) {
       return ReadData_G2(a, kEpc, e, 3, 2, 2, kPassword, 1, kMaskAddress, 12, kMask, gOut, ec, p);
     }},
    {"WriteData_G2", 0x03, WriteBack::OnSuccess, true, cat({{1, 6}, kEpcBytes, {3, 4, 0xBE, 0xEF}, kPw}),
     [](unsigned char* a, unsigned char e, int* ec, int p) {
       return WriteData_G2(a, kEpc, 1, e, 3, 4, kWords, kPassword, 1, kMaskAddress, 12, kMask, ec, p);
     }},
    {"BlockWrite_G2", 0x10, WriteBack::OnSuccess, true, cat({{1, 6}, kEpcBytes, {3, 4, 0xBE, 0xEF}, kPw}),
     [](unsigned char* a, unsigned char e, int* ec, int p) {
       return BlockWrite_G2(a, kEpc, 1, e, 3, 4, kWords, kPassword, 1, kMaskAddress, 12, kMask, ec, p);
     }},
    {"WriteEPC_G2", 0x04, WriteBack::Never, false, cat({{6}, kPw, kEpcBytes}),
     [](unsigned char* a, unsigned char, int* ec, int p) { return WriteEPC_G2(a, kPassword, kEpc, 6, ec, p); }},
    {"BlockErase_G2", 0x07, WriteBack::Never, true, cat({{6}, kEpcBytes, {3, 0, 4}, kPw}),
     [](unsigned char* a, unsigned char e, int* ec, int p) {
       return BlockErase_G2(a, kEpc, e, 3, 0, 4, kPassword, 1, kMaskAddress, 12, kMask, ec, p);
     }},
    {"KillTag_G2", 0x05, WriteBack::Never, true, cat({{6}, kEpcBytes, kPw}),
     [](unsigned char* a, unsigned char e, int* ec, int p) {
       return KillTag_G2(a, kEpc, e, kPassword, 1, kMaskAddress, 12, kMask, ec, p);
     }},
    {"Lock_G2", 0x06, WriteBack::Never, true, cat({{6}, kEpcBytes, {2, 1}, kPw}),
     [](unsigned char* a, unsigned char e, int* ec, int p) {
       return Lock_G2(a, kEpc, e, 2, 1, kPassword, 1, kMaskAddress, 12, kMask, ec, p);
     }},
    {"SetPrivacyByEPC_G2", 0x08, WriteBack::Never, true, cat({{6}, kEpcBytes, kPw}),
     [](unsigned char* a, unsigned char e, int* ec, int p) {
       return SetPrivacyByEPC_G2(a, kEpc, e, kPassword, 1, kMaskAddress, 12, kMask, ec, p);
     }},
    {"SetPrivacyWithoutEPC_G2", 0x09, WriteBack::Never, false, kPw,
     [](unsigned char* a, unsigned char, int* ec, int p) { return SetPrivacyWithoutEPC_G2(a, kPassword, ec, p); }},
    {"ResetPrivacy_G2", 0x0A, WriteBack::Never, false, kPw,
     [](unsigned char* a, unsigned char, int* ec, int p) { return ResetPrivacy_G2(a, kPassword, ec, p); }},
    {"CheckPrivacy_G2", 0x0B, WriteBack::Never, false, {},
     [](unsigned char* a, unsigned char, int* ec, int p) { return CheckPrivacy_G2(a, gOut, ec, p); }},
    {"EASConfigure_G2", 0x0C, WriteBack::OnSuccess, true, cat({{6}, kEpcBytes, kPw, {1}}),
     [](unsigned char* a, unsigned char e, int* ec, int p) {
       return EASConfigure_G2(a, kEpc, e, kPassword, 1, 1, kMaskAddress, 12, kMask, ec, p);
     }},
    {"EASAlarm_G2", 0x0D, WriteBack::OnSuccess, false, {},
     [](unsigned char* a, unsigned char, int* ec, int p) { return EASAlarm_G2(a, ec, p); }},
    {"BlockLock_G2", 0x0E, WriteBack::Never, true, cat({{6}, kEpcBytes, kPw, {5}}),
     [](unsigned char* a, unsigned char e, int* ec, int p) {
       return BlockLock_G2(a, kEpc, e, kPassword, 5, 1, kMaskAddress, 12, kMask, ec, p);
     }},
    {"ReadData_6B", 0x52, WriteBack::Always, false, cat({{0x10}, kUidBytes, {8}}),
     [](unsigned char* a, unsigned char, int* ec, int p) { return ReadData_6B(a, kUid, 0x10, 8, gOut, ec, p); }},
    {"WriteData_6B", 0x53, WriteBack::Always, false, cat({{0x20}, kUidBytes, {1, 2, 3, 4}}),
     [](unsigned char* a, unsigned char, int* ec, int p) {
       return WriteData_6B(a, kUid, 0x20, kBytes6B, 4, gOut, ec, p);
     }},
    {"Lock_6B", 0x55, WriteBack::Always, false, cat({{0x30}, kUidBytes}),
     [](unsigned char* a, unsigned char, int* ec, int p) { return Lock_6B(a, kUid, 0x30, ec, p); }},
    {"CheckLock_6B", 0x54, WriteBack::OnSuccess, false, cat({{0x31}, kUidBytes}),
     [](unsigned char* a, unsigned char, int* ec, int p) { return CheckLock_6B(a, kUid, 0x31, gOut, ec, p); }},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class TagConvention : public ::testing::TestWithParam<std::tuple<Case, LinkKind>>, public OpenReader {
 protected:
  void SetUp() override { open(std::get<1>(GetParam())); }
  void TearDown() override { close(); }

  const Case& tc() const { return std::get<0>(GetParam()); }

  // Runs the command with fresh sentinels; the outputs land in the members.
  int run(unsigned char epcWords = 6) {
    adr = kCallerAdr;
    errorCode = kSentinel;
    std::memset(gOut, 0xA5, sizeof gOut);
    return tc().call(&adr, epcWords, &errorCode, port());
  }

  bool outputsUntouched() const {
    for (unsigned char b : gOut)
      if (b != 0xA5) return false;
    return true;
  }

  void expectNothingWritten() const {
    EXPECT_EQ(errorCode, kSentinel);
    EXPECT_EQ(adr, kCallerAdr);
    EXPECT_TRUE(outputsUntouched());
  }

  unsigned char adr = kCallerAdr;
  int errorCode = kSentinel;
};

TEST_P(TagConvention, RequestAndUnpackingFollowTheErrorCodeConvention) {
  const Case& c = tc();
  if (c.addressed) {
    EXPECT_EQ(run(0x10), MORVENT_PARAM_RANGE);
    expectNothingWritten();
  }

  answer(c.cmd, 0x00, {0x01, 0x02});
  EXPECT_EQ(run(), MORVENT_OK);
  EXPECT_EQ(sent(), request(kCallerAdr, c.cmd, c.requestData));
  EXPECT_EQ(commandsSent(), 1u) << "a refused request went out";
  EXPECT_EQ(errorCode, -1);
  EXPECT_EQ(adr, c.writeBack == WriteBack::Never ? kCallerAdr : kAnswerAdr);

  answer(c.cmd, MORVENT_TAG_ERROR, {0x0B});
  EXPECT_EQ(run(), 252);
  EXPECT_EQ(errorCode, 11);
  EXPECT_EQ(adr, c.writeBack == WriteBack::Always ? kAnswerAdr : kCallerAdr);
  EXPECT_TRUE(outputsUntouched());

  // A tag error without its code byte leaves errorCode alone.
  answer(c.cmd, MORVENT_TAG_ERROR);
  EXPECT_EQ(run(), 252);
  EXPECT_EQ(errorCode, kSentinel);

  answer(c.cmd, 0x05, {0x0B});
  EXPECT_EQ(run(), 0x05);
  EXPECT_EQ(errorCode, kSentinel);
  EXPECT_EQ(adr, c.writeBack == WriteBack::Always ? kAnswerAdr : kCallerAdr);
  EXPECT_TRUE(outputsUntouched());

  // Failed checks write nothing, not even the address.
  answerRaw(withBadCrc(response(kAnswerAdr, c.cmd, 0x00, {0x01, 0x02})));
  EXPECT_EQ(run(), MORVENT_CRC_ERROR);
  expectNothingWritten();
  answer(static_cast<std::uint8_t>(c.cmd + 1), 0x00, {0x01, 0x02});
  EXPECT_EQ(run(), MORVENT_CMD_MISMATCH);
  expectNothingWritten();
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<Case, LinkKind>>& info) {
  return std::string(std::get<0>(info.param).name) + "_" + mvtest::linkName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(AllTagCommands, TagConvention,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Values(LinkKind::Network, LinkKind::Serial)),
                         caseName);

}  // namespace

// Every setter and simple query: the exact request, the result and outputs
// for status 0 and for another status, and when the answering address is
// written back. Run over TCP and over a pty.
#include <gtest/gtest.h>

#include <cstring>

#include "commands/command_test.h"

using namespace mvtest;

namespace {

enum class Back { Never, OnSuccess, Always };
using Call = int (*)(unsigned char* address, unsigned char* out, int port);

struct Case {
  const char* name;
  std::uint8_t code;
  Bytes request;  // data after Len, Adr, Cmd
  Back back;
  Bytes answer;   // data in the answer; a query copies all of it to `out`
  Call call;
};

unsigned char kClock[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
unsigned char kCalibration[31];
unsigned char kMaskAddress[2] = {0x00, 0x20};
unsigned char kMask[2] = {0xE2, 0x80};

Bytes calibrationBytes() {
  for (int i = 0; i < 31; ++i) kCalibration[i] = static_cast<unsigned char>(0x40 + i);
  return Bytes(kCalibration, kCalibration + 31);
}

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"SetRegion", 0x22, {0x31, 0x32}, Back::Always, {},
       [](unsigned char* a, unsigned char*, int p) { return SetRegion(a, 0x31, 0x32, p); }},
      {"SetAddress", 0x24, {0x09}, Back::Always, {},
       [](unsigned char* a, unsigned char*, int p) { return SetAddress(a, 0x09, p); }},
      {"SetInventoryScanTime", 0x25, {0x0A}, Back::Always, {},
       [](unsigned char* a, unsigned char*, int p) { return SetInventoryScanTime(a, 0x0A, p); }},
      {"SetRfPower", 0x2F, {0x1E}, Back::OnSuccess, {},
       [](unsigned char* a, unsigned char*, int p) { return SetRfPower(a, 0x1E, p); }},
      {"BuzzerAndLEDControl", 0x33, {0x01, 0x02, 0x03}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return BuzzerAndLEDControl(a, 0x01, 0x02, 0x03, p); }},
      {"SetWorkMode", 0x35, {0x11}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetWorkMode(a, 0x11, p); }},
      {"SetEASSensitivity", 0x37, {0x12}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetEASSensitivity(a, 0x12, p); }},
      {"SetMask", 0x3B, {0x01, 0x00, 0x20, 0x09, 0xE2, 0x80}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetMask(a, 0x01, kMaskAddress, 9, kMask, p); }},
      {"SetResponsePamametersofAuto_runningMode", 0x3C, {0x13, 0x14}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) {
         return SetResponsePamametersofAuto_runningMode(a, 0x13, 0x14, p);
       }},
      {"SetInventoryInterval", 0x3D, {0x15}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetInventoryInterval(a, 0x15, p); }},
      {"SelectTagType", 0x3E, {0x16}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SelectTagType(a, 0x16, p); }},
      {"SetAntennaMultiplexing", 0x3F, {0x17}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetAntennaMultiplexing(a, 0x17, p); }},
      {"SetBeepNotification", 0x40, {0x18}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetBeepNotification(a, 0x18, p); }},
      {"SetTriggerTime", 0x49, {0x19}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetTriggerTime(a, 0x19, p); }},
      {"SetTIDParameter", 0x4A, {0x1A, 0x1B}, Back::OnSuccess, {},
       [](unsigned char* a, unsigned char*, int p) { return SetTIDParameter(a, 0x1A, 0x1B, p); }},
      {"SetRevDelay", 0x27, {0x1C}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetRevDelay(a, 0x1C, p); }},
      {"GetRevDelay", 0x31, {}, Back::Never, {0x2C},
       [](unsigned char* a, unsigned char* o, int p) { return GetRevDelay(a, o, p); }},
      {"SetReal_timeClock", 0x41, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetReal_timeClock(a, kClock, p); }},
      {"GetTime", 0x42, {}, Back::Never, {0x26, 0x12, 0x09, 0x07, 0x15, 0x30},
       [](unsigned char* a, unsigned char* o, int p) { return GetTime(a, o, p); }},
      {"ClearTagBuffer", 0x44, {}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return ClearTagBuffer(a, p); }},
      {"SetRelay", 0x45, {0x1D}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetRelay(a, 0x1D, p); }},
      {"SetGPIO", 0x46, {0x1E}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetGPIO(a, 0x1E, p); }},
      {"GetGPIOStatus", 0x47, {}, Back::Never, {0x03},
       [](unsigned char* a, unsigned char* o, int p) { return GetGPIOStatus(a, o, p); }},
      {"SetNotificationPulseOutput", 0x48, {0x1F}, Back::Never, {},
       [](unsigned char* a, unsigned char*, int p) { return SetNotificationPulseOutput(a, 0x1F, p); }},
      {"SetDAC", 0x29, {0x20}, Back::Always, {},
       [](unsigned char* a, unsigned char*, int p) { return SetDAC(a, 0x20, p); }},
      {"GetDAC", 0x2A, {}, Back::OnSuccess, {0x21},
       [](unsigned char* a, unsigned char* o, int p) { return GetDAC(a, o, p); }},
      {"CheckPowerParameter", 0x2B, {}, Back::OnSuccess, {0x22},
       [](unsigned char* a, unsigned char* o, int p) { return CheckPowerParameter(a, o, p); }},
      {"SolidifyDACandPowerlist", 0x2C, calibrationBytes(), Back::OnSuccess, {0x23},
       [](unsigned char* a, unsigned char* o, int p) { return SolidifyDACandPowerlist(a, kCalibration, o, p); }},
      {"GetStartInformation", 0x2D, {}, Back::OnSuccess, {1, 2, 3, 4, 5, 6, 7, 8, 9},
       [](unsigned char* a, unsigned char* o, int p) {
         return GetStartInformation(a, o, o + 1, o + 2, o + 3, o + 4, o + 5, o + 6, o + 7, o + 8, p);
       }},
      {"RfOutput", 0x30, {0x24}, Back::OnSuccess, {},
       [](unsigned char* a, unsigned char*, int p) { return RfOutput(a, 0x24, p); }},
      {"DeleteRfOutput", 0x32, {}, Back::OnSuccess, {0x25},
       [](unsigned char* a, unsigned char* o, int p) { return DeleteRfOutput(a, o, p); }},
      {"SetSeriaNo", 0x4B, {0x5A, 0x5A, 0x78, 0x56, 0x34, 0x12}, Back::OnSuccess, {},
       [](unsigned char* a, unsigned char*, int p) {
         int serial = 0x12345678;
         return SetSeriaNo(a, &serial, p);
       }},
      {"GetSeriaNo", 0x4C, {}, Back::OnSuccess, {0x78, 0x56, 0x34, 0x12},
       [](unsigned char* a, unsigned char* o, int p) {
         int serial;
         std::memcpy(&serial, o, 4);
         const int result = GetSeriaNo(a, &serial, p);
         if (result == MORVENT_OK && serial != 0x12345678) return -1;
         std::memcpy(o, &serial, 4);
         return result;
       }},
      {"ChangeATMode", 0x4D, {0x01}, Back::OnSuccess, {},
       [](unsigned char* a, unsigned char*, int p) { return ChangeATMode(a, 0x01, p); }},
  };
  return all;
}

class Settings : public testing::TestWithParam<LinkKind> {};

TEST_P(Settings, EveryCommandSendsItsFrameAndUnpacksOnItsStatuses) {
  ReaderLink link = openLink(GetParam());
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    for (const std::uint8_t status : {0x00, 0x1F}) {
      SCOPED_TRACE(status);
      link.reader().scriptFrame(kAnswering, c.code, status, c.answer);
      unsigned char address = 0xFF;
      Bytes out(16, kSentinel);
      EXPECT_EQ(c.call(&address, out.data(), link.portIndex()), status);
      EXPECT_EQ(link.reader().lastRequest(), request(0xFF, c.code, c.request));

      const bool written = c.back == Back::Always || (c.back == Back::OnSuccess && status == 0);
      EXPECT_EQ(address, written ? kAnswering : 0xFF);
      Bytes expected(16, kSentinel);
      if (status == 0) std::copy(c.answer.begin(), c.answer.end(), expected.begin());
      EXPECT_EQ(out, expected);
    }
  }
}

MVTEST_BOTH_LINKS(Settings);

// Failures of the answer itself leave every output and the address alone,
// even for the commands that write the address whatever the status.
TEST(SettingsFailures, BadAnswersWriteNothing) {
  ReaderLink link = openLink(LinkKind::Network);
  ASSERT_EQ(link.openStatus(), MORVENT_OK);
  unsigned char address = 0xFF;
  unsigned char clock[6];
  std::memset(clock, kSentinel, sizeof clock);

  Bytes corrupt = response(kAnswering, 0x42, 0x00, {1, 2, 3, 4, 5, 6});
  corrupt[5] ^= 0x01;
  link.reader().script({{corrupt}});
  EXPECT_EQ(GetTime(&address, clock, link.portIndex()), MORVENT_CRC_ERROR);

  // A frame without a status byte, its CRC right: no answer.
  link.reader().script({{withCrc({0x04, kAnswering, 0x22})}});
  EXPECT_EQ(SetRegion(&address, 1, 2, link.portIndex()), MORVENT_COMM_ERROR);

  // CRC residues of 0x3100 and 0x0085: either byte alone would pass.
  for (const Bytes& frame :
       {Bytes{0x05, kAnswering, 0x2F, 0x00, 0xC7, 0xF4}, Bytes{0x05, kAnswering, 0x2F, 0x00, 0xA1, 0xF4}}) {
    link.reader().script({{frame}});
    EXPECT_EQ(SetRfPower(&address, 0x1E, link.portIndex()), MORVENT_CRC_ERROR);
  }

  link.reader().scriptFrame(kAnswering, 0x43, 0x00, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(GetTime(&address, clock, link.portIndex()), MORVENT_CMD_MISMATCH);
  link.reader().scriptFrame(kAnswering, 0x23, 0x00);
  EXPECT_EQ(SetRegion(&address, 1, 2, link.portIndex()), MORVENT_CMD_MISMATCH);

  // Status 0 but fewer data bytes than the outputs need.
  link.reader().scriptFrame(kAnswering, 0x42, 0x00, {1, 2, 3});
  EXPECT_EQ(GetTime(&address, clock, link.portIndex()), MORVENT_COMM_ERROR);
  int serial = -1;
  link.reader().scriptFrame(kAnswering, 0x4C, 0x00, {1, 2, 3});
  EXPECT_EQ(GetSeriaNo(&address, &serial, link.portIndex()), MORVENT_COMM_ERROR);
  EXPECT_EQ(serial, -1);

  link.reader().scriptSilence();
  EXPECT_EQ(SetRegion(&address, 1, 2, link.portIndex()), MORVENT_COMM_ERROR);

  EXPECT_EQ(address, 0xFF);
  EXPECT_EQ(Bytes(clock, clock + 6), Bytes(6, kSentinel));
}

}  // namespace

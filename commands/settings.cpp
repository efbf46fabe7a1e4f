// The reader's settings and simple queries: one table row each, served by
// one transaction path. The exports only gather their arguments.
#include <cassert>
#include <cstring>
#include <initializer_list>

#include "commands/transaction.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

struct Simple {
    std::uint8_t code;
    WriteBack writeBack;         // when the answering address is written back
    std::uint8_t requestBytes;   // request data, taken from the inputs in order
    std::uint8_t responseBytes;  // answer data bytes copied out on status 0
};

using W = WriteBack;

// clang-format off
//                                       code  write-back request response
constexpr Simple kSetRegion             {0x22, W::Always,     2,       0};
constexpr Simple kSetAddress            {0x24, W::Always,     1,       0};
constexpr Simple kSetScanTime           {0x25, W::Always,     1,       0};
constexpr Simple kSetRevDelay           {0x27, W::Never,      1,       0};
constexpr Simple kSetDac                {0x29, W::Always,     1,       0};
constexpr Simple kGetDac                {0x2A, W::OnSuccess,  0,       1};
constexpr Simple kCheckPowerParameter   {0x2B, W::OnSuccess,  0,       1};
constexpr Simple kSolidifyDacPowerList  {0x2C, W::OnSuccess, 31,       1};
constexpr Simple kGetStartInformation   {0x2D, W::OnSuccess,  0,       9};
constexpr Simple kSetRfPower            {0x2F, W::OnSuccess,  1,       0};
constexpr Simple kRfOutput              {0x30, W::OnSuccess,  1,       0};
constexpr Simple kGetRevDelay           {0x31, W::Never,      0,       1};
constexpr Simple kDeleteRfOutput        {0x32, W::OnSuccess,  0,       1};
constexpr Simple kBuzzerAndLed          {0x33, W::Never,      3,       0};
constexpr Simple kSetWorkMode           {0x35, W::Never,      1,       0};
constexpr Simple kSetEasSensitivity     {0x37, W::Never,      1,       0};
constexpr Simple kSetAutoResponse       {0x3C, W::Never,      2,       0};
constexpr Simple kSetInventoryInterval  {0x3D, W::Never,      1,       0};
constexpr Simple kSelectTagType         {0x3E, W::Never,      1,       0};
constexpr Simple kSetAntennas           {0x3F, W::Never,      1,       0};
constexpr Simple kSetBeep               {0x40, W::Never,      1,       0};
constexpr Simple kSetClock              {0x41, W::Never,      6,       0};
constexpr Simple kGetTime               {0x42, W::Never,      0,       6};
constexpr Simple kClearTagBuffer        {0x44, W::Never,      0,       0};
constexpr Simple kSetRelay              {0x45, W::Never,      1,       0};
constexpr Simple kSetGpio               {0x46, W::Never,      1,       0};
constexpr Simple kGetGpioStatus         {0x47, W::Never,      0,       1};
constexpr Simple kSetPulseOutput        {0x48, W::Never,      1,       0};
constexpr Simple kSetTriggerTime        {0x49, W::Never,      1,       0};
constexpr Simple kSetTidParameter       {0x4A, W::OnSuccess,  2,       0};
constexpr Simple kSetSerialNumber       {0x4B, W::OnSuccess,  6,       0};
constexpr Simple kGetSerialNumber       {0x4C, W::OnSuccess,  0,       4};
// clang-format on

// The one path: sends the row's request bytes of `in`; on status 0 copies
// the row's answer bytes to `out`. An answer too short for them writes
// nothing, not even the address, and fails with MORVENT_COMM_ERROR.
int runSimple(const Simple& row, unsigned char* readerAddress, int portIndex, const std::uint8_t* in = nullptr,
              std::uint8_t* out = nullptr) {
    // The transaction writes the address back only once the unpack accepted the answer.
    return transact(
        Exchange{row.code, row.writeBack}, readerAddress, portIndex, [&](Request& r) { r.bytes(in, row.requestBytes); },
        [&](const Response& resp) -> int {
            if (row.responseBytes > 0 && resp.status() == MORVENT_OK) {
                if (!resp.hasData(row.responseBytes)) return MORVENT_COMM_ERROR;
                std::memcpy(out, resp.data(), row.responseBytes);
            }
            return resp.status();
        });
}

// The code the reader wants before a new serial number.
constexpr std::uint8_t kSerialWriteCode = 0x5A;

int set(const Simple& row, unsigned char* readerAddress, int portIndex, std::initializer_list<std::uint8_t> values) {
    assert(values.size() == row.requestBytes);
    return runSimple(row, readerAddress, portIndex, values.begin());
}

int get(const Simple& row, unsigned char* readerAddress, int portIndex, std::uint8_t* out) {
    return runSimple(row, readerAddress, portIndex, nullptr, out);
}

// For outputs that are not one run of bytes: the answer's data land in a
// local area and `deliver` spreads them, still under the link lock.
template <std::size_t N, class Deliver>
int getAndDeliver(const Simple& row, unsigned char* readerAddress, int portIndex, Deliver deliver) {
    assert(row.responseBytes == N);
    mv::link::LinkGuard guard(mv::link::linkLock());
    std::uint8_t data[N];
    const int result = get(row, readerAddress, portIndex, data);
    if (result == MORVENT_OK) deliver(data);
    return result;
}

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;

// Most settings send one value byte, and most queries copy their answer to
// one buffer: such an export differs from the others of its kind only in
// its row.
#define MORVENT_ONE_VALUE(name, row)                                                         \
    MORVENT_API int name(unsigned char* readerAddress, unsigned char value, int portIndex) { \
        return set(row, readerAddress, portIndex, {value});                                  \
    }
#define MORVENT_ONE_BUFFER(name, row)                                                       \
    MORVENT_API int name(unsigned char* readerAddress, unsigned char* out, int portIndex) { \
        return get(row, readerAddress, portIndex, out);                                     \
    }

extern "C" {

// ---- Reader configuration ----

MORVENT_API int SetRegion(unsigned char* readerAddress, unsigned char region1, unsigned char region2, int portIndex) {
    return set(kSetRegion, readerAddress, portIndex, {region1, region2});
}

MORVENT_ONE_VALUE(SetAddress, kSetAddress)
MORVENT_ONE_VALUE(SetInventoryScanTime, kSetScanTime)
MORVENT_ONE_VALUE(SetRfPower, kSetRfPower)

MORVENT_API int BuzzerAndLEDControl(unsigned char* readerAddress, unsigned char control1, unsigned char control2,
                                    unsigned char control3, int portIndex) {
    return set(kBuzzerAndLed, readerAddress, portIndex, {control1, control2, control3});
}

// ---- Work mode and auto-running mode ----

MORVENT_ONE_VALUE(SetWorkMode, kSetWorkMode)
MORVENT_ONE_VALUE(SetEASSensitivity, kSetEasSensitivity)

MORVENT_API int SetResponsePamametersofAuto_runningMode(unsigned char* readerAddress, unsigned char response1,
                                                        unsigned char response2, int portIndex) {
    return set(kSetAutoResponse, readerAddress, portIndex, {response1, response2});
}

MORVENT_ONE_VALUE(SetInventoryInterval, kSetInventoryInterval)
MORVENT_ONE_VALUE(SelectTagType, kSelectTagType)
MORVENT_ONE_VALUE(SetAntennaMultiplexing, kSetAntennas)
MORVENT_ONE_VALUE(SetBeepNotification, kSetBeep)
MORVENT_ONE_VALUE(SetTriggerTime, kSetTriggerTime)

MORVENT_API int SetTIDParameter(unsigned char* readerAddress, unsigned char tid1, unsigned char tid2, int portIndex) {
    return set(kSetTidParameter, readerAddress, portIndex, {tid1, tid2});
}

// ---- Clock, tag buffer, relay and GPIO ----

MORVENT_ONE_VALUE(SetRevDelay, kSetRevDelay)
MORVENT_ONE_BUFFER(GetRevDelay, kGetRevDelay)

MORVENT_API int SetReal_timeClock(unsigned char* readerAddress, unsigned char* clock, int portIndex) {
    return runSimple(kSetClock, readerAddress, portIndex, clock);
}

MORVENT_ONE_BUFFER(GetTime, kGetTime)

MORVENT_API int ClearTagBuffer(unsigned char* readerAddress, int portIndex) {
    return runSimple(kClearTagBuffer, readerAddress, portIndex);
}

MORVENT_ONE_VALUE(SetRelay, kSetRelay)
MORVENT_ONE_VALUE(SetGPIO, kSetGpio)
MORVENT_ONE_BUFFER(GetGPIOStatus, kGetGpioStatus)
MORVENT_ONE_VALUE(SetNotificationPulseOutput, kSetPulseOutput)

// ---- Factory and calibration ----

MORVENT_ONE_VALUE(SetDAC, kSetDac)
MORVENT_ONE_BUFFER(GetDAC, kGetDac)
MORVENT_ONE_BUFFER(CheckPowerParameter, kCheckPowerParameter)

MORVENT_API int SolidifyDACandPowerlist(unsigned char* readerAddress, unsigned char* calibration, unsigned char* result,
                                        int portIndex) {
    return runSimple(kSolidifyDacPowerList, readerAddress, portIndex, calibration, result);
}

MORVENT_API int GetStartInformation(unsigned char* readerAddress, unsigned char* start1, unsigned char* start2,
                                    unsigned char* start3, unsigned char* start4, unsigned char* start5,
                                    unsigned char* start6, unsigned char* start7, unsigned char* start8,
                                    unsigned char* start9, int portIndex) {
    unsigned char* outputs[] = {start1, start2, start3, start4, start5, start6, start7, start8, start9};
    return getAndDeliver<9>(kGetStartInformation, readerAddress, portIndex, [&](const std::uint8_t* info) {
        for (std::size_t i = 0; i < 9; ++i) *outputs[i] = info[i];
    });
}

MORVENT_ONE_VALUE(RfOutput, kRfOutput)
MORVENT_ONE_BUFFER(DeleteRfOutput, kDeleteRfOutput)

// The serial number travels least significant byte first.
MORVENT_API int SetSeriaNo(unsigned char* readerAddress, int* serialNumber, int portIndex) {
    const auto n = static_cast<std::uint32_t>(*serialNumber);
    return set(kSetSerialNumber, readerAddress, portIndex,
               {kSerialWriteCode, kSerialWriteCode, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)});
}

MORVENT_API int GetSeriaNo(unsigned char* readerAddress, int* serialNumber, int portIndex) {
    return getAndDeliver<4>(kGetSerialNumber, readerAddress, portIndex, [&](const std::uint8_t* b) {
        *serialNumber =
            static_cast<int>(b[0] | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24);
    });
}
}

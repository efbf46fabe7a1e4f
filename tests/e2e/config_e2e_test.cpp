// Reader configuration, work mode, clock, tag buffer, peripherals, factory
// and pass-through commands end to end: every setting written is read back
// through the library where a query exists, else from the reader model.
#include <chrono>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "sim/frame.h"

using namespace e2e;
using Bytes = std::vector<unsigned char>;

namespace {

struct SystemParameters {
    unsigned char bytes[6] = {};
    unsigned char maskBank = 0, maskAddress[2] = {}, maskBitLength = 0, mask[32] = {};
    unsigned char extension[3] = {0x99, 0x99, 0x99};
};

int systemParameters(int port, SystemParameters& p) {
    unsigned char address = 0xFF;
    unsigned char* b = p.bytes;
    return GetSystemParameter(&address, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &p.maskBank, p.maskAddress,
                              &p.maskBitLength, p.mask, &p.extension[0], &p.extension[1], &p.extension[2], port);
}

struct ReaderInfo {
    unsigned char pair[2], b[9];
};

int readerInfo(int port, ReaderInfo& info) {
    unsigned char address = 0xFF;
    unsigned char* b = info.b;
    return GetReaderInformation(&address, info.pair, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &b[8], port);
}

class Config : public ::testing::TestWithParam<bool> {
protected:
    Config() : host_(bothLinks()), link_(GetParam() ? Link::serial(host_, 13) : Link::tcp(host_)) {}
    void SetUp() override { ASSERT_EQ(link_.status, MORVENT_OK); }
    int port() const { return link_.port; }
    bool serial() const { return GetParam(); }

    sim::ReaderHost host_;
    Link link_;
};

}  // namespace

TEST_P(Config, ReaderSettingsReadBack) {
    unsigned char address = 0xFF;
    ASSERT_EQ(SetRegion(&address, 0x03, 0x4E, port()), MORVENT_OK);
    ASSERT_EQ(SetInventoryScanTime(&address, 25, port()), MORVENT_OK);
    ASSERT_EQ(SetRfPower(&address, 18, port()), MORVENT_OK);
    ASSERT_EQ(SetTIDParameter(&address, 0x02, 0x04, port()), MORVENT_OK);
    ReaderInfo info{};
    ASSERT_EQ(readerInfo(port(), info), MORVENT_OK);
    EXPECT_EQ(info.b[2], 0x03);
    EXPECT_EQ(info.b[3], 0x4E);
    EXPECT_EQ(info.b[4], 18);
    EXPECT_EQ(info.b[5], 25) << "scan time";
    EXPECT_EQ(info.b[7], 0x02);
    EXPECT_EQ(info.b[8], 0x04);

    EXPECT_EQ(SetRfPower(&address, 31, port()), 0xFF) << "the reader's range";
    address = 0xFF;
    ASSERT_EQ(SetAddress(&address, 0x09, port()), MORVENT_OK);
    EXPECT_EQ(address, 0x09);
    EXPECT_EQ(scanTimeOf(0x09, port()), 25);
    EXPECT_EQ(scanTimeOf(0x03, port()), -MORVENT_COMM_ERROR) << "another address gets no answer";

    ASSERT_EQ(BuzzerAndLEDControl(&address, 1, 2, 3, port()), MORVENT_OK);
    host_.withModel([](sim::ReaderModel& m) { EXPECT_EQ(m.settings().buzzer, (std::array<std::uint8_t, 3>{1, 2, 3})); });
}

TEST_P(Config, WorkModeParametersInTheSystemParameters) {
    unsigned char address = 0xFF;
    ASSERT_EQ(SetEASSensitivity(&address, 7, port()), MORVENT_OK);
    ASSERT_EQ(SetTriggerTime(&address, 8, port()), MORVENT_OK);
    ASSERT_EQ(SetResponsePamametersofAuto_runningMode(&address, 0x21, 0x22, port()), MORVENT_OK);
    ASSERT_EQ(SetInventoryInterval(&address, 30, port()), MORVENT_OK);
    ASSERT_EQ(SelectTagType(&address, 1, port()), MORVENT_OK);
    ASSERT_EQ(SetAntennaMultiplexing(&address, 3, port()), MORVENT_OK);
    ASSERT_EQ(SetBeepNotification(&address, 1, port()), MORVENT_OK);
    ASSERT_EQ(SetWorkMode(&address, 0x40, port()), MORVENT_OK);
    unsigned char maskAddress[2] = {0x00, 0x20}, mask[2] = {0x30, 0x00};
    ASSERT_EQ(SetMask(&address, 1, maskAddress, 12, mask, port()), MORVENT_OK);

    SystemParameters p;
    ASSERT_EQ(systemParameters(port(), p), MORVENT_OK);
    EXPECT_EQ(Bytes(p.bytes, p.bytes + 6), (Bytes{0x40, 7, 8, 0x21, 0x22, 30}));
    EXPECT_EQ(p.maskBank, 1);
    EXPECT_EQ(p.maskAddress[1], 0x20);
    EXPECT_EQ(p.maskBitLength, 12);
    EXPECT_EQ(p.mask[0], 0x30);
    EXPECT_EQ(Bytes(p.extension, p.extension + 3), (Bytes{1, 3, 1}));

    host_.withModel([](sim::ReaderModel& m) { m.settings().shortSystemParameter = true; });
    SystemParameters shortAnswer;
    ASSERT_EQ(systemParameters(port(), shortAnswer), MORVENT_OK);
    EXPECT_EQ(Bytes(shortAnswer.extension, shortAnswer.extension + 3), (Bytes{0, 0x99, 0x99}));
}

TEST_P(Config, ActiveModeDataIsCollected) {
    unsigned char address = 0xFF;
    ASSERT_EQ(SetInventoryInterval(&address, 1, port()), MORVENT_OK);
    unsigned char maskAddress[2] = {0x00, 0x20}, mask[2] = {0x30, 0x00};
    ASSERT_EQ(SetMask(&address, 1, maskAddress, 16, mask, port()), MORVENT_OK);
    ASSERT_EQ(SetWorkMode(&address, 1, port()), MORVENT_OK);
    // Each call delivers raw bytes, whole or cut frames; count the intact
    // active-mode frames among them.
    std::vector<unsigned char> data(MORVENT_RECEIVE_BUFFER);
    int frames = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (frames < 4 && std::chrono::steady_clock::now() < until) {
        int count = 0;
        if (ReadActiveModeData(data.data(), &count, port()) != MORVENT_OK) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            continue;
        }
        for (const sim::Bytes& frame : sim::splitFrames(sim::Bytes(data.begin(), data.begin() + count))) {
            sim::Bytes copy = frame;
            copy.resize(frame.size() + 2);
            if (frame.size() != frame[0] + 1u || CheckCRC(copy.data(), static_cast<int>(frame.size())) != MORVENT_OK)
                continue;
            ++frames;
            EXPECT_EQ(frame[2], 0xEE);
            EXPECT_EQ(frame[5], 0x30) << "only tags matching the stored mask";
        }
    }
    EXPECT_GE(frames, 4);
    // Frames keep coming while the answer is awaited; a real host retries too.
    int status = -1;
    for (int attempt = 0; attempt < 5 && status != MORVENT_OK; ++attempt) status = SetWorkMode(&address, 0, port());
    EXPECT_EQ(status, MORVENT_OK);
}

TEST_P(Config, ClockTagBufferAndPeripherals) {
    unsigned char address = 0xFF;
    unsigned char clock[6] = {24, 12, 31, 23, 59, 58}, now[6] = {};
    ASSERT_EQ(SetReal_timeClock(&address, clock, port()), MORVENT_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    ASSERT_EQ(GetTime(&address, now, port()), MORVENT_OK);
    EXPECT_EQ(Bytes(now, now + 3), (Bytes{25, 1, 1})) << "ran on into the new year";

    std::vector<unsigned char> records(5000);
    int byteCount = -1;
    ASSERT_EQ(GetTagBufferInfo(&address, records.data(), &byteCount, port()), MORVENT_OK);
    EXPECT_EQ(byteCount, 0);
    unsigned char tagData[256];
    int tagCount = 0;
    ASSERT_EQ(SingleTagInventory_G2(&address, tagData, nullptr, &tagCount, port()), 0x01);
    unsigned char record6B[9];
    ASSERT_EQ(InventorySingle_6B(&address, record6B, port()), MORVENT_OK);
    ASSERT_EQ(GetTagBufferInfo(&address, records.data(), &byteCount, port()), MORVENT_OK);
    ASSERT_EQ(byteCount, (12 + 12) + (12 + 8));
    EXPECT_EQ(records[0], 0);
    EXPECT_EQ(records[11], 12);
    EXPECT_EQ(Bytes(records.begin() + 12, records.begin() + 24), Bytes(tagData + 1, tagData + 13));
    EXPECT_EQ(records[24], 1) << "6B record";
    EXPECT_EQ(Bytes(records.begin() + 24 + 12, records.begin() + 44), Bytes(record6B + 1, record6B + 9));
    ASSERT_EQ(ClearTagBuffer(&address, port()), MORVENT_OK);
    ASSERT_EQ(GetTagBufferInfo(&address, records.data(), &byteCount, port()), MORVENT_OK);
    EXPECT_EQ(byteCount, 0);

    unsigned char value = 0;
    ASSERT_EQ(SetGPIO(&address, 0x05, port()), MORVENT_OK);
    ASSERT_EQ(GetGPIOStatus(&address, &value, port()), MORVENT_OK);
    EXPECT_EQ(value, 0x05);
    ASSERT_EQ(SetRevDelay(&address, 12, port()), MORVENT_OK);
    ASSERT_EQ(GetRevDelay(&address, &value, port()), MORVENT_OK);
    EXPECT_EQ(value, 12);
    ASSERT_EQ(SetRelay(&address, 1, port()), MORVENT_OK);
    ASSERT_EQ(SetNotificationPulseOutput(&address, 4, port()), MORVENT_OK);
    host_.withModel([](sim::ReaderModel& m) {
        EXPECT_EQ(m.settings().relay, 1);
        EXPECT_EQ(m.settings().pulse, 4);
    });
}

TEST_P(Config, FactoryCommands) {
    unsigned char address = 0x77;
    ASSERT_EQ(InSelfTestMode(&address, 0, port()), MORVENT_OK) << "the raw byte 0xA5";
    EXPECT_EQ(address, 0x00);
    ASSERT_EQ(InSelfTestMode(&address, 1, port()), MORVENT_OK);
    unsigned char value = 0;
    ASSERT_EQ(SetDAC(&address, 0x42, port()), MORVENT_OK);
    ASSERT_EQ(GetDAC(&address, &value, port()), MORVENT_OK);
    EXPECT_EQ(value, 0x42);
    unsigned char block[31];
    for (int i = 0; i < 31; ++i) block[i] = static_cast<unsigned char>(i);
    ASSERT_EQ(SolidifyDACandPowerlist(&address, block, &value, port()), MORVENT_OK);
    EXPECT_EQ(value, 465 % 256);
    value = 0;
    ASSERT_EQ(CheckPowerParameter(&address, &value, port()), MORVENT_OK);
    EXPECT_EQ(value, 465 % 256);
    unsigned char s[9] = {};
    ASSERT_EQ(GetStartInformation(&address, &s[0], &s[1], &s[2], &s[3], &s[4], &s[5], &s[6], &s[7], &s[8], port()),
              MORVENT_OK);
    EXPECT_EQ(s[3], 0x42);
    EXPECT_EQ(s[7], 1) << "self-test flag";
    ASSERT_EQ(RfOutput(&address, 0x02, port()), MORVENT_OK);
    ASSERT_EQ(DeleteRfOutput(&address, &value, port()), MORVENT_OK);
    EXPECT_EQ(value, 0x02);
    int serialNumber = 0x12345678, readBack = 0;
    ASSERT_EQ(SetSeriaNo(&address, &serialNumber, port()), MORVENT_OK);
    ASSERT_EQ(GetSeriaNo(&address, &readBack, port()), MORVENT_OK);
    EXPECT_EQ(readBack, 0x12345678);
}

TEST_P(Config, AtModeAndTransparentCommand) {
    host_.withModel([](sim::ReaderModel& m) { m.settings().atModeDelayMs = 1500; });
    unsigned char address = 0xFF;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ChangeATMode(&address, 1, port()), MORVENT_OK);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
    unsigned char send[3] = {0xA1, 0xB2, 0xC3}, length = 0, answer[250] = {};
    ASSERT_EQ(TransparentCMD(&address, 0x00, 3, send, &length, answer, port()), MORVENT_OK);
    EXPECT_EQ(Bytes(answer, answer + length), Bytes(send, send + 3));
}

TEST_P(Config, BaudRateChangeKeepsTheLinkWorking) {
    unsigned char address = 0xFF;
    ASSERT_EQ(SetBaudRate(&address, 6, port()), MORVENT_OK);
    EXPECT_EQ(host_.lineBitRate(), serial() ? 115200u : 57600u) << "only a serial reader switches its line";
    EXPECT_EQ(scanTimeOf(0xFF, port()), 10);
    ASSERT_EQ(SetBaudRate(&address, 1, port()), MORVENT_OK);
    EXPECT_EQ(scanTimeOf(0xFF, port()), 10);
    EXPECT_EQ(SetBaudRate(&address, 3, port()), serial() ? MORVENT_PARAM_RANGE : 0xFF);
    EXPECT_EQ(scanTimeOf(0xFF, port()), 10) << "code 3 changes nothing";
}

INSTANTIATE_TEST_SUITE_P(Links, Config, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Serial" : "Tcp"; });

// The bare link exports: open, exchange a frame built with GetCRC, check it
// with CheckCRC, close.
TEST(E2eBare, OpenExchangeCloseWithoutTheHandshake) {
    sim::ReaderHost host(bothLinks());
    mapCom(14, host.ptyPath());
    for (bool serial : {false, true}) {
        const int port = serial ? 14 : host.tcpPort();
        ASSERT_EQ(serial ? OpenCom(14, 5) : OpenNet(port, "127.0.0.1"), MORVENT_OK);
        unsigned char frame[8] = {0x04, 0xFF, 0x21};
        GetCRC(frame, 3);
        ASSERT_EQ(SendDataToPort(frame, 5, port), MORVENT_OK);
        std::vector<unsigned char> buffer(MORVENT_RECEIVE_BUFFER + 2);
        int count = 0;
        ASSERT_EQ(GetDataFromPort(buffer.data(), &count, port), MORVENT_OK);
        EXPECT_EQ(count, 18);
        EXPECT_EQ(CheckCRC(buffer.data(), count), MORVENT_OK);
        serial ? CloseSpecComPort(port) : CloseNetPort(port);
    }
}

// On TCP nothing discards a late answer before the next command; the
// application drains it with ReadActiveModeData.
TEST(E2eLate, LateTcpAnswerIsDrainedThenTheLinkWorks) {
    sim::ReaderHost host(bothLinks());
    Link link = Link::tcp(host);
    ASSERT_EQ(link.status, MORVENT_OK);
    sim::FaultPlan late;
    late.latencyMs = 1500;
    host.setFaults(late);
    EXPECT_EQ(scanTimeOf(0xFF, link.port), -MORVENT_COMM_ERROR);
    host.setFaults({});
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    std::vector<unsigned char> data(MORVENT_RECEIVE_BUFFER);
    int count = 0;
    ASSERT_EQ(ReadActiveModeData(data.data(), &count, link.port), MORVENT_OK);
    EXPECT_EQ(count, 18) << "the late reader-information answer";
    EXPECT_EQ(scanTimeOf(0xFF, link.port), 10);
}

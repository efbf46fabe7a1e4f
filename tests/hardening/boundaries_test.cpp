// The room each caller buffer needs, tested at its edge: the largest answer
// fills exactly the room the public header documents, and a buffer of
// exactly that room ends at an inaccessible page, so one byte more crashes.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "hardening/memory_reader.h"
#include "morvent.h"
#include "support/fake_reader.h"
#include "support/test_env.h"

namespace mvtest {
namespace {

constexpr std::uint8_t kFill = 0xA7;  // GuardedBuffer's fill

Bytes counting(std::size_t n, std::uint8_t first = 1) {
    Bytes b(n);
    std::iota(b.begin(), b.end(), first);
    return b;
}

class Boundaries : public MemoryReaderTest {
protected:
    void answer(int port, std::uint8_t cmd, std::uint8_t status, const Bytes& data) {
        device(port).answerNext({{response(0x05, cmd, status, data)}});
    }
};

TEST_F(Boundaries, ReadDataG2FillsTheWordsAskedForAndNoMore) {
    std::uint8_t password[4] = {}, maskAddress[2] = {};
    for (int port : kBothLinks) {
        for (std::size_t sent : {4u, 40u, 250u}) {
            SCOPED_TRACE(testing::Message() << "port " << port << ", " << sent << " bytes answered");
            GuardedBuffer data(4);  // two words
            std::uint8_t adr = 0x00;
            int error = 0;
            answer(port, 0x02, 0x00, counting(sent));
            EXPECT_EQ(ReadData_G2(&adr, nullptr, 0, 3, 0, 2, password, 0, maskAddress, 0, nullptr, data.data(),
                                  &error, port),
                      MORVENT_OK);
            EXPECT_EQ(Bytes(data.data(), data.data() + 4), counting(4));
            EXPECT_EQ(error, -1);
        }
    }
}

TEST_F(Boundaries, AnswerTooShortToUnpackWritesNotEvenTheAddress) {
    for (int port : kBothLinks) {
        std::uint8_t adr = 0x00, dac = kFill;
        answer(port, 0x2A, 0x00, {});  // GetDAC: status 0 but no data byte
        EXPECT_EQ(GetDAC(&adr, &dac, port), MORVENT_COMM_ERROR);
        EXPECT_EQ(adr, 0x00);
        EXPECT_EQ(dac, kFill);
        int serial = 7;
        answer(port, 0x4C, 0x00, {0x01, 0x02});  // GetSeriaNo: two bytes of four
        EXPECT_EQ(GetSeriaNo(&adr, &serial, port), MORVENT_COMM_ERROR);
        EXPECT_EQ(adr, 0x00);
        EXPECT_EQ(serial, 7);
    }
}

// Frames of `frameSize` bytes (Len frameSize - 1) with `status`, filled
// with counting data, back to back, `total` bytes in all (the last frame
// takes what is left).
Bytes frameRun(std::size_t total, std::size_t frameSize, std::uint8_t cmd, std::uint8_t status,
               std::uint8_t lastStatus) {
    Bytes run;
    while (run.size() < total) {
        const std::size_t size = std::min(frameSize, total - run.size());
        const bool last = run.size() + size == total;
        const Bytes data = counting(size - 6, static_cast<std::uint8_t>(run.size()));
        const Bytes frame = response(0x00, cmd, last ? lastStatus : status, data);
        run.insert(run.end(), frame.begin(), frame.end());
    }
    return run;
}

// Record frames closed by a 6-byte frame with status 0: 8000 bytes. The
// closing frame is short, so its status arrives with its last byte.
Bytes closedRun() {
    Bytes run = frameRun(MORVENT_RECEIVE_BUFFER - 6, 253, 0x43, 0x01, 0x01);
    const Bytes closing = response(0x00, 0x43, 0x00, {});
    run.insert(run.end(), closing.begin(), closing.end());
    return run;
}

// Chunks of at most 300 bytes, as the network would deliver them.
std::vector<memdev::Chunk> chunked(const Bytes& bytes) {
    std::vector<memdev::Chunk> chunks;
    for (std::size_t at = 0; at < bytes.size(); at += 300)
        chunks.push_back({Bytes(bytes.begin() + static_cast<long>(at),
                                bytes.begin() + static_cast<long>(std::min(at + 300, bytes.size())))});
    return chunks;
}

TEST_F(Boundaries, ReceiveRoutinesFillTheReceiveBufferExactly) {
    struct Case {
        const char* name;
        int (*receive)(unsigned char*, int*, int);
        Bytes run;
    };
    // 253-byte frames: no 100- or 300-byte read ends on a frame boundary
    // before the 8000th byte, so the run completes only there.
    const Case cases[] = {
        {"whole frames", GetInventoryDataFromPort1, frameRun(MORVENT_RECEIVE_BUFFER, 253, 0x01, 0x01, 0x01)},
        {"closed by status 0", GetDataFromPort1, closedRun()},
    };
    for (int port : kBothLinks) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << " port " << port);
            device(port).clear();
            device(port).arrive(chunked(c.run));
            GuardedBuffer buffer(MORVENT_RECEIVE_BUFFER);
            int count = 0;
            EXPECT_EQ(c.receive(buffer.data(), &count, port), MORVENT_OK);
            ASSERT_EQ(count, MORVENT_RECEIVE_BUFFER);
            EXPECT_EQ(Bytes(buffer.data(), buffer.data() + count), c.run);
        }
    }
}

TEST_F(Boundaries, CrcHelpersWriteTwoBytesPastTheLength) {
    const Bytes frame = response(0x00, 0x21, 0x00, counting(250));
    GuardedBuffer buffer(frame.size() + 2);
    std::copy(frame.begin(), frame.end(), buffer.data());
    EXPECT_EQ(CheckCRC(buffer.data(), static_cast<int>(frame.size())), MORVENT_OK);
    GetCRC(buffer.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(buffer.data()[frame.size()], 0);
    EXPECT_EQ(buffer.data()[frame.size() + 1], 0);
}

TEST_F(Boundaries, InventoryG2LargestAnswerFillsItsRoom) {
    constexpr std::size_t kRoom = 4840;
    // 19 frames of 256 bytes and one of 136: 5000 bytes, 4840 of them records.
    const Bytes run = frameRun(5000, 256, 0x01, 0x03, 0x01);
    for (int port : kBothLinks) {
        device(port).answerNext(chunked(run));
        GuardedBuffer tags(kRoom);
        std::uint8_t adr = 0, frameInfo = 0, maskAddress[2] = {};
        int total = 0, count = 0;
        EXPECT_EQ(Inventory_G2(&adr, 0, maskAddress, 0, nullptr, 0, 0, 0, 0, tags.data(), &frameInfo, &total, &count,
                               port),
                  0x01);
        EXPECT_EQ(total, static_cast<int>(kRoom));
        // The records of the first frame start at its offset 6.
        EXPECT_EQ(Bytes(tags.data(), tags.data() + 4), Bytes(run.begin() + 6, run.begin() + 10));
    }
}

TEST_F(Boundaries, SingleFrameOutputsFillTheirRoom) {
    for (int port : kBothLinks) {
        SCOPED_TRACE(port);
        std::uint8_t adr = 0;
        {  // SingleTagInventory_G2: a 256-byte frame, 249 bytes of tag data.
            GuardedBuffer tags(249);
            int count = 0;
            Bytes data = counting(250);
            data[0] = 1;
            answer(port, 0x0F, 0x01, data);
            EXPECT_EQ(SingleTagInventory_G2(&adr, tags.data(), nullptr, &count, port), 0x01);
            EXPECT_EQ(Bytes(tags.data(), tags.data() + 249), Bytes(data.begin() + 1, data.end()));
        }
        {  // InventoryMultiple_6B: 255 tags announced, 27 held.
            GuardedBuffer records(243);
            std::uint8_t compare[8] = {};
            int count = 0;
            Bytes data = counting(250);
            data[0] = 255;
            answer(port, 0x51, 0x00, data);
            EXPECT_EQ(InventoryMultiple_6B(&adr, 0, 0, 0, compare, records.data(), &count, port), 0x00);
            EXPECT_EQ(count, 27);
            EXPECT_EQ(Bytes(records.data(), records.data() + 243), Bytes(data.begin() + 1, data.begin() + 244));
        }
        {  // ReadData_6B: byteCount 250, the most one frame carries.
            GuardedBuffer data(250);
            std::uint8_t uid[8] = {};
            int error = 0;
            answer(port, 0x52, 0x00, counting(250));
            EXPECT_EQ(ReadData_6B(&adr, uid, 0, 250, data.data(), &error, port), 0x00);
            EXPECT_EQ(Bytes(data.data(), data.data() + 250), counting(250));
        }
        {  // TransparentCMD: 250 bytes of answer data.
            GuardedBuffer reply(250);
            std::uint8_t replyLength = 0, sendData[1] = {};
            answer(port, 0x4E, 0x00, counting(250));
            EXPECT_EQ(TransparentCMD(&adr, 0, 0, sendData, &replyLength, reply.data(), port), 0x00);
            EXPECT_EQ(replyLength, 250);
            EXPECT_EQ(Bytes(reply.data(), reply.data() + 250), counting(250));
        }
        {  // GetTime: six bytes, from a longer answer too.
            GuardedBuffer clock(6);
            answer(port, 0x42, 0x00, counting(20));
            EXPECT_EQ(GetTime(&adr, clock.data(), port), 0x00);
            EXPECT_EQ(Bytes(clock.data(), clock.data() + 6), counting(6));
        }
    }
}

TEST_F(Boundaries, TagBufferRecordsFillTheirRoomAndAreCutThere) {
    // 21 records of 250 bytes (L = 238): 20 fill the 5000 bytes exactly, the
    // 21st does not fit and is left out.
    Bytes run;
    for (int i = 0; i < 21; ++i) {
        Bytes record = counting(250, static_cast<std::uint8_t>(i));
        record[11] = 238;
        const Bytes frame = response(0x00, 0x43, 0x01, record);
        run.insert(run.end(), frame.begin(), frame.end());
    }
    const Bytes closing = response(0x00, 0x43, 0x00, {});
    run.insert(run.end(), closing.begin(), closing.end());
    for (int port : kBothLinks) {
        device(port).answerNext(chunked(run));
        GuardedBuffer records(5000);
        std::uint8_t adr = 0;
        int count = 0;
        EXPECT_EQ(GetTagBufferInfo(&adr, records.data(), &count, port), MORVENT_OK);
        EXPECT_EQ(count, 5000);
        EXPECT_EQ(records.data()[4999], run[19 * 256 + 4 + 249]);
    }
}

TEST_F(Boundaries, ActiveModeDataFillsItsRoomPerLink) {
    device(kSerial).arrive({{counting(80)}});
    GuardedBuffer serialData(50);
    int count = 0;
    EXPECT_EQ(ReadActiveModeData(serialData.data(), &count, kSerial), MORVENT_OK);
    EXPECT_EQ(count, 50);
    EXPECT_EQ(Bytes(serialData.data(), serialData.data() + 50), counting(50));

    Bytes flood(9000, 0x5A);
    device(kNet).arrive({{flood}});
    GuardedBuffer netData(8000);
    EXPECT_EQ(ReadActiveModeData(netData.data(), &count, kNet), MORVENT_OK);
    EXPECT_EQ(count, 8000);
    EXPECT_EQ(netData.data()[7999], 0x5A);
}

}  // namespace
}  // namespace mvtest

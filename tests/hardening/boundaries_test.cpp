// The room each caller buffer needs, tested at its edge: the largest answer
// fills exactly the room the public header documents, and a buffer of
// exactly that room ends at an inaccessible page, so one byte more crashes.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace mvtest

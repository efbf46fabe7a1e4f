#include <gtest/gtest.h>

#include <cstring>

#include "morvent.h"

TEST(Crc, ReaderInformationRequestGetsKnownCrc) {
    unsigned char frame[7] = {0x04, 0xFF, 0x21};
    GetCRC(frame, 3);
    EXPECT_EQ(frame[3], 0x19);
    EXPECT_EQ(frame[4], 0x95);
    EXPECT_EQ(CheckCRC(frame, 5), MORVENT_OK);
    EXPECT_EQ(frame[5], 0x00);
    EXPECT_EQ(frame[6], 0x00);
}

TEST(Crc, CheckValueOfStandardString) {
    unsigned char text[11];
    std::memcpy(text, "123456789", 9);
    GetCRC(text, 9);
    EXPECT_EQ(text[9] | (text[10] << 8), 0x6F91);
}

TEST(Crc, ZeroLengthStoresInitialRegister) {
    unsigned char frame[2] = {0, 0};
    GetCRC(frame, 0);
    EXPECT_EQ(frame[0], 0xFF);
    EXPECT_EQ(frame[1], 0xFF);
}

// A damaged frame whose residue has one zero byte is refused: the low byte
// zero (residue 0x8500), the high byte zero (0x0085).
TEST(Crc, BothResidueBytesMustBeZero) {
    unsigned char lowZero[7] = {0x04, 0xFF, 0x21, 0x19, 0x04};
    unsigned char highZero[7] = {0x04, 0xFF, 0x21, 0x88, 0x95};
    EXPECT_EQ(CheckCRC(lowZero, 5), MORVENT_CRC_ERROR);
    EXPECT_EQ(CheckCRC(highZero, 5), MORVENT_CRC_ERROR);
}

TEST(Crc, EverySingleBitFlipIsDetected) {
    const unsigned char good[5] = {0x04, 0xFF, 0x21, 0x19, 0x95};
    for (int byte = 0; byte < 5; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            unsigned char frame[7];
            std::memcpy(frame, good, 5);
            frame[byte] ^= static_cast<unsigned char>(1u << bit);
            EXPECT_EQ(CheckCRC(frame, 5), MORVENT_CRC_ERROR) << "byte " << byte << " bit " << bit;
        }
    }
}

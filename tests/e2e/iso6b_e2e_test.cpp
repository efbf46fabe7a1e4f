// ISO 18000-6B commands end to end against the simulated field.
#include <vector>

#include "e2e_support.h"

using namespace e2e;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes kUid1 = {0xE0, 0x04, 0x01, 0x00, 0x12, 0x34, 0x56, 0x78};
Bytes kUid2 = {0xE0, 0x04, 0x01, 0x00, 0x87, 0x65, 0x43, 0x21};

}  // namespace

TEST(E2e6B, InventoriesReadWriteAndLocks) {
    sim::ReaderHost host(bothLinks());
    Link link = Link::tcp(host);
    ASSERT_EQ(link.status, MORVENT_OK);
    const int port = link.port;
    unsigned char address = 0xFF, record[9] = {};
    ASSERT_EQ(InventorySingle_6B(&address, record, port), MORVENT_OK);
    EXPECT_EQ(address, 0x00);
    EXPECT_EQ(Bytes(record + 1, record + 9), kUid1);

    unsigned char compare[8] = {0, 0, 0, 0, 0, 0, 0, 0x21};
    std::vector<unsigned char> records(9 * 255);
    int tagCount = 0;
    ASSERT_EQ(InventoryMultiple_6B(&address, 0, 0, 0x01, compare, records.data(), &tagCount, port), MORVENT_OK);
    ASSERT_EQ(tagCount, 1);
    EXPECT_EQ(Bytes(records.begin() + 1, records.begin() + 9), kUid2);
    ASSERT_EQ(InventoryMultiple_6B(&address, 1, 0, 0x01, compare, records.data(), &tagCount, port), MORVENT_OK);
    EXPECT_EQ(tagCount, 1);
    EXPECT_EQ(Bytes(records.begin() + 1, records.begin() + 9), kUid1);

    int errorCode = 0;
    Bytes data(5);
    ASSERT_EQ(ReadData_6B(&address, kUid1.data(), 18, 5, data.data(), &errorCode, port), MORVENT_OK);
    EXPECT_EQ(data, (Bytes{'H', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(errorCode, -1);

    Bytes write = {9, 8, 7};
    unsigned char written = 0;
    ASSERT_EQ(WriteData_6B(&address, kUid1.data(), 40, write.data(), 3, &written, &errorCode, port), MORVENT_OK);
    EXPECT_EQ(written, 3);
    Bytes back(3);
    ASSERT_EQ(ReadData_6B(&address, kUid1.data(), 40, 3, back.data(), &errorCode, port), MORVENT_OK);
    EXPECT_EQ(back, write);

    unsigned char lockState = 0x55;
    ASSERT_EQ(CheckLock_6B(&address, kUid1.data(), 41, &lockState, &errorCode, port), MORVENT_OK);
    EXPECT_EQ(lockState, 0);
    ASSERT_EQ(Lock_6B(&address, kUid1.data(), 41, &errorCode, port), MORVENT_OK);
    ASSERT_EQ(CheckLock_6B(&address, kUid1.data(), 41, &lockState, &errorCode, port), MORVENT_OK);
    EXPECT_EQ(lockState, 1);
    written = 0;
    EXPECT_EQ(WriteData_6B(&address, kUid1.data(), 40, write.data(), 3, &written, &errorCode, port), MORVENT_TAG_ERROR);
    EXPECT_EQ(errorCode, 0x04);
    EXPECT_EQ(written, 0) << "left as the caller set it";
    EXPECT_EQ(WriteData_6B(&address, kUid2.data(), 20, write.data(), 1, &written, &errorCode, port), MORVENT_TAG_ERROR)
        << "byte locked by the scenario";
    EXPECT_EQ(ReadData_6B(&address, kUid1.data(), 250, 10, data.data(), &errorCode, port), MORVENT_TAG_ERROR);
    EXPECT_EQ(errorCode, 0x03);
}

TEST(E2e6B, EmptyFieldAnswersNoTag) {
    sim::Scenario empty;
    sim::ReaderHost host(bothLinks(empty));
    Link link = Link::tcp(host);
    ASSERT_EQ(link.status, MORVENT_OK);
    unsigned char address = 0xFF, record[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(InventorySingle_6B(&address, record, link.port), 0xFB);
    EXPECT_EQ(record[0], 7);
    unsigned char compare[8] = {};
    unsigned char records[9];
    int tagCount = -5;
    EXPECT_EQ(InventoryMultiple_6B(&address, 0, 0, 0, compare, records, &tagCount, link.port), 0xFB);
    EXPECT_EQ(tagCount, -5);
}

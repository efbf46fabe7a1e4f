// ISO 18000-6B tags: inventories, byte-wise read and write, lock and lock
// query. Tags are addressed by their 8-byte uid, after the address byte.
// All but CheckLock_6B take the answering reader's address whatever the
// status.
#include <algorithm>
#include <cstring>

#include "commands/tag_addressing.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

constexpr std::size_t kUidBytes = 8;
constexpr std::size_t kCompareBytes = 8;
constexpr std::size_t kRecordBytes = 9;

const Exchange kInventorySingle{0x50, WriteBack::Always};
const Exchange kInventoryMultiple{0x51, WriteBack::Always};
const Exchange kReadData{0x52, WriteBack::Always};
const Exchange kWriteData{0x53, WriteBack::Always};
const Exchange kCheckLock{0x54, WriteBack::OnSuccess};
const Exchange kLock{0x55, WriteBack::Always};

// Copies up to `wanted` bytes of the answer's data from `offset` on; never
// past the data the frame carries. Returns the number copied.
std::size_t copyData(const Response& r, std::size_t offset, std::size_t wanted, std::uint8_t* out) {
    const std::size_t available = r.dataLength() > offset ? r.dataLength() - offset : 0;
    const std::size_t count = std::min(wanted, available);
    if (count > 0) std::memcpy(out, r.data() + offset, count);
    return count;
}

auto addressAndUid(std::uint8_t address, const std::uint8_t* uid) {
    return [address, uid](Request& r) { r.byte(address).bytes(uid, kUidBytes); };
}

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;

extern "C" {

// The record is delivered whatever the status, when the answer holds one.
MORVENT_API int InventorySingle_6B(unsigned char* readerAddress, unsigned char* tagRecord, int portIndex) {
    return transact(kInventorySingle, readerAddress, portIndex, noData, [&](const Response& r) {
        if (r.hasData(kRecordBytes)) copyData(r, 0, kRecordBytes, tagRecord);
    });
}

// The answer: a tag count, then that many 9-byte records. Records the
// frame does not hold are neither copied nor counted.
MORVENT_API int InventoryMultiple_6B(unsigned char* readerAddress, unsigned char condition, unsigned char startAddress,
                                     unsigned char compareMask, unsigned char* compareData, unsigned char* tagRecords,
                                     int* tagCount, int portIndex) {
    return transact(
        kInventoryMultiple, readerAddress, portIndex,
        [&](Request& r) { r.byte(condition).byte(startAddress).byte(compareMask).bytes(compareData, kCompareBytes); },
        [&](const Response& r) {
            if (!r.hasData(1)) return;
            const std::size_t held = (r.dataLength() - 1) / kRecordBytes;
            const std::size_t count = std::min<std::size_t>(r.data()[0], held);
            *tagCount = static_cast<int>(count);
            copyData(r, 1, count * kRecordBytes, tagRecords);
        });
}

// Copies byteCount bytes, or fewer when the reader sent fewer.
MORVENT_API int ReadData_6B(unsigned char* readerAddress, unsigned char* uid, unsigned char startAddress,
                            unsigned char byteCount, unsigned char* data, int* errorCode, int portIndex) {
    return tagCommand(
        kReadData, readerAddress, errorCode, portIndex,
        [&](Request& r) {
            addressAndUid(startAddress, uid)(r);
            r.byte(byteCount);
        },
        [&](const Response& r) { copyData(r, 0, byteCount, data); });
}

// No length byte: the reader takes the data length from Len. More than 242
// bytes would not fit one frame and is refused.
MORVENT_API int WriteData_6B(unsigned char* readerAddress, unsigned char* uid, unsigned char startAddress,
                             unsigned char* writeData, unsigned char writeLength, unsigned char* writtenLength,
                             int* errorCode, int portIndex) {
    return tagCommand(
        kWriteData, readerAddress, errorCode, portIndex,
        [&](Request& r) {
            addressAndUid(startAddress, uid)(r);
            r.bytes(writeData, writeLength);
        },
        [&](const Response&) { *writtenLength = writeLength; });
}

MORVENT_API int Lock_6B(unsigned char* readerAddress, unsigned char* uid, unsigned char lockAddress, int* errorCode,
                        int portIndex) {
    return tagCommand(kLock, readerAddress, errorCode, portIndex, addressAndUid(lockAddress, uid));
}

MORVENT_API int CheckLock_6B(unsigned char* readerAddress, unsigned char* uid, unsigned char lockAddress,
                             unsigned char* lockState, int* errorCode, int portIndex) {
    return tagCommand(kCheckLock, readerAddress, errorCode, portIndex, addressAndUid(lockAddress, uid),
                      [&](const Response& r) {
                          if (r.hasData(1)) *lockState = r.data()[0];
                      });
}
}

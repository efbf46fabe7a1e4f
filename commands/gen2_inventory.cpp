// Gen2 inventory: the full inventory, whose answer may span several frames,
// and the single-tag inventory.
#include <cstring>

#include "commands/tag_addressing.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

constexpr std::uint8_t kFlagSet = 1;  // a flag counts only when exactly 1
constexpr std::uint8_t kTagFound = 0x01;

// The frames of an inventory answer are neither CRC-checked nor matched
// against the command code; a frame's status decides whether it counts. An
// answer whose frames announced more than came in time is walked all the
// same: its last frame's status 0x03 tells the caller, and its tags are kept.
Exchange inventoryExchange() {
    Exchange ex{0x01, WriteBack::Never, GetInventoryDataFromPort1};
    ex.checkCrc = false;
    ex.checkEcho = false;
    ex.cutShort = MORVENT_INVENTORY_MORE;
    return ex;
}

// The reader's address is written back with the outputs, once the answer
// proved to hold a tag.
const Exchange kSingleTag{0x0F, WriteBack::Never};

// One inventory answer frame: Len, Adr, Cmd, Status, frame information,
// tag count, tag records, CRC.
constexpr std::size_t kStatusAt = 3;
constexpr std::size_t kFrameInfoAt = 4;
constexpr std::size_t kTagCountAt = 5;
constexpr std::size_t kRecordsAt = 6;
constexpr std::uint8_t kShortestRecordFrameLen = 7;  // no records, but both information bytes
// The largest answer one call takes in, and so the most record bytes it
// hands the caller.
constexpr std::size_t kWorkArea = 5000;

bool carriesRecords(std::uint8_t status) { return status >= 0x01 && status <= 0x04; }

struct InventoryWalk {
    std::uint8_t status = 0;
    bool accepted = false;  // some frame carried records
    std::uint8_t frameInfo = 0;
    std::uint8_t tagCount = 0;
    std::size_t gathered = 0;
    std::uint8_t records[kWorkArea];
};

// Gathers the records of each frame that carries them, in arrival order.
// The first frame with another status ends the walk and gives the result;
// the frames after it are skipped. False for an answer that cannot be
// walked without reading outside its frames: too long for the work area,
// a frame without a status byte, or a record frame too short for its two
// information bytes.
bool walkInventory(const std::uint8_t* run, std::size_t size, InventoryWalk& walk) {
    if (size > kWorkArea) return false;
    for (std::size_t at = 0; at < size;) {
        const std::uint8_t len = run[at];
        if (len < kStatusAt || at + len + 1u > size) return false;
        const std::uint8_t* frame = run + at;
        walk.status = frame[kStatusAt];
        if (!carriesRecords(walk.status)) break;
        if (len < kShortestRecordFrameLen) return false;
        walk.accepted = true;
        walk.frameInfo = frame[kFrameInfoAt];
        walk.tagCount = frame[kTagCountAt];
        const std::size_t recordBytes = len - kShortestRecordFrameLen;
        std::memcpy(walk.records + walk.gathered, frame + kRecordsAt, recordBytes);
        walk.gathered += recordBytes;
        at += len + 1u;
    }
    return true;
}

void inventoryRequest(Request& r, std::uint8_t maskBank, const std::uint8_t* maskAddress, std::uint8_t maskBitLength,
                      const std::uint8_t* mask, std::uint8_t maskFlag, std::uint8_t tidAddress, std::uint8_t tidLength,
                      std::uint8_t tidFlag) {
    if (maskFlag == kFlagSet) r.selectionMask(maskBank, maskAddress, maskBitLength, mask);
    if (tidFlag == kFlagSet) r.byte(tidAddress).byte(tidLength);
}

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;

extern "C" {

MORVENT_API int Inventory_G2(unsigned char* readerAddress, unsigned char maskBank, unsigned char* maskAddress,
                             unsigned char maskBitLength, unsigned char* mask, unsigned char maskFlag,
                             unsigned char tidAddress, unsigned char tidLength, unsigned char tidFlag,
                             unsigned char* tagData, unsigned char* frameInfo, int* totalLength, int* tagCount,
                             int portIndex) {
    InventoryWalk walk;
    return transact(
        inventoryExchange(), readerAddress, portIndex,
        [&](Request& r) {
            inventoryRequest(r, maskBank, maskAddress, maskBitLength, mask, maskFlag, tidAddress, tidLength, tidFlag);
        },
        [&](const Response& r) {
            if (!walkInventory(r.bytes, r.size, walk)) return MORVENT_COMM_ERROR;
            if (walk.gathered > 0) std::memcpy(tagData, walk.records, walk.gathered);
            *totalLength = static_cast<int>(walk.gathered);
            if (walk.accepted) {
                *frameInfo = walk.frameInfo;
                *tagCount = walk.tagCount;
            }
            return static_cast<int>(walk.status);
        });
}

// On status 0x01: the tag count byte, then the tag data up to the CRC.
MORVENT_API int SingleTagInventory_G2(unsigned char* readerAddress, unsigned char* tagData, void* /*reserved*/,
                                      int* tagCount, int portIndex) {
    return transact(kSingleTag, readerAddress, portIndex, noData, [&](const Response& r) {
        const int status = r.status();
        if (status != kTagFound) return status;
        // A tag-found answer without its count byte cannot be unpacked.
        if (!r.hasData(1)) return MORVENT_COMM_ERROR;
        *readerAddress = r.address();
        *tagCount = r.data()[0];
        const std::size_t tagBytes = r.dataLength() - 1;
        if (tagBytes > 0) std::memcpy(tagData, r.data() + 1, tagBytes);
        return status;
    });
}
}

// GetTagBufferInfo: the reader answers with one frame per buffered tag
// record and a closing frame without data; the records are gathered back to
// back. The frames are walked in place in the receive buffer.
#include <cstring>

#include "commands/transaction.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

constexpr std::uint8_t kGetTagBuffer = 0x43;
constexpr std::size_t kClosingFrame = 6;  // Len, Adr, Cmd, Status, CRC
constexpr std::size_t kDataAt = 4;
constexpr std::size_t kRecordHead = 11;    // then L, then L bytes of tail
constexpr std::size_t kRecordArea = 5000;  // the room the caller provides
constexpr int kMalformed = -1;

std::uint8_t recordArea[kRecordArea];

// Gathers the record of every frame but the closing one into recordArea and
// returns their size. A frame cut short, or a record reaching past its
// frame, makes the whole answer suspect: kMalformed. Records that would
// overflow the area are left out, the run ending at a record boundary.
int gatherRecords(const std::uint8_t* frames, std::size_t size) {
    std::size_t at = 0;
    std::size_t gathered = 0;
    while (size - at > kClosingFrame) {
        const std::uint8_t* frame = frames + at;
        const std::size_t frameSize = frame[0] + 1u;
        if (frameSize > size - at || frameSize < kClosingFrame + kRecordHead + 1) return kMalformed;
        const std::size_t record = kRecordHead + 1 + frame[kDataAt + kRecordHead];
        if (record > frameSize - kClosingFrame) return kMalformed;
        if (record > kRecordArea - gathered) break;
        std::memcpy(recordArea + gathered, frame + kDataAt, record);
        gathered += record;
        at += frameSize;
    }
    return static_cast<int>(gathered);
}

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;

extern "C" MORVENT_API int GetTagBufferInfo(unsigned char* readerAddress, unsigned char* records, int* byteCount,
                                            int portIndex) {
    Exchange ex{kGetTagBuffer, WriteBack::Never};
    ex.receive = GetDataFromPort1;
    // The run is taken as it arrived: no CRC, echo or status checks.
    ex.checkCrc = false;
    ex.checkEcho = false;
    return transact(ex, readerAddress, portIndex, noData, [&](const Response& resp) {
        if (resp.size < kClosingFrame) return MORVENT_COMM_ERROR;
        const int gathered = gatherRecords(resp.bytes, resp.size);
        if (gathered == kMalformed) return MORVENT_COMM_ERROR;
        std::memcpy(records, recordArea, static_cast<std::size_t>(gathered));
        *byteCount = gathered;
        return MORVENT_OK;
    });
}

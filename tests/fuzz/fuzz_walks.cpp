// The multi-frame answers: Inventory_G2's walk over GetInventoryDataFromPort1
// and GetTagBufferInfo's walk over GetDataFromPort1, fed runs of frames that
// are well formed more often than raw bytes would be.
//
// Input: selector (bit 0: GetTagBufferInfo, else Inventory_G2), mode (bit 0:
// network link; bit 1: CRCs left wrong), chunk size byte (0: one chunk),
// delay byte (8 ms units between chunks), a frame count, then per frame a
// data length, a status and that many data bytes; whatever is left is
// appended raw.
#include <cstring>

#include "fuzz/harness.h"
#include "link/crc.h"
#include "link/ports.h"
#include "morvent.h"

#pragma weak Inventory_G2
#pragma weak GetTagBufferInfo

namespace {

using namespace fuzz;

bool rawTail = false;  // raw bytes follow the built frames
namespace link = mv::link;

constexpr std::size_t kTagDataRoom = 5000;
constexpr std::size_t kRecordsRoom = 5000;

Bytes buildRun(Input& in, std::uint8_t code, bool badCrc, std::vector<std::uint8_t>& statuses) {
    Bytes run;
    const int frames = in.byte();
    for (int i = 0; i < frames && in.left() > 0; ++i) {
        std::size_t n = in.byte();
        if (n > 250) n = 250;
        const std::uint8_t status = in.byte();
        Bytes frame{static_cast<std::uint8_t>(n + 5), 0x00, code, status};
        const Bytes data = in.take(n);
        frame.insert(frame.end(), data.begin(), data.end());
        frame.resize(n + 4);
        frame.resize(n + 6);
        mv::appendCrc(frame.data(), n + 4);
        if (badCrc) frame.back() ^= 0x5A;
        statuses.push_back(status);
        run.insert(run.end(), frame.begin(), frame.end());
    }
    const Bytes raw = in.rest();
    run.insert(run.end(), raw.begin(), raw.end());
    rawTail = !raw.empty();
    return run;
}

std::vector<memdev::Chunk> cut(const Bytes& run, std::size_t size, std::uint32_t delayMs) {
    if (size == 0) size = run.size() ? run.size() : 1;
    std::vector<memdev::Chunk> chunks;
    for (std::size_t at = 0; at < run.size(); at += size) {
        const std::size_t n = run.size() - at < size ? run.size() - at : size;
        chunks.push_back({Bytes(run.begin() + static_cast<long>(at), run.begin() + static_cast<long>(at + n)),
                          at == 0 ? 0 : delayMs});
    }
    return chunks;
}

bool isLinkFailure(int result) { return result == MORVENT_COMM_ERROR || result == MORVENT_INVALID_PORT; }

bool someFrameHas(const std::vector<std::uint8_t>& statuses, int result) {
    for (std::uint8_t s : statuses)
        if (s == result) return true;
    return false;
}

void inventory(int port, const std::vector<std::uint8_t>& statuses) {
    std::uint8_t adr = 0x00, maskAddress[2] = {}, mask[1] = {};
    Guarded tagData(kTagDataRoom);
    Guarded frameInfo(1), totalLength(sizeof(int)), tagCount(sizeof(int));
    const int result = Inventory_G2(&adr, 0, maskAddress, 0, mask, 0, 0, 0, 0, tagData.data(), frameInfo.data(),
                                    reinterpret_cast<int*>(totalLength.data()),
                                    reinterpret_cast<int*>(tagCount.data()), port);
    FUZZ_CHECK(result >= 0 && result <= 0xFF, result);
    FUZZ_CHECK(adr == 0x00, adr);
    const bool written = !totalLength.untouched();
    if (!written) {
        // Nothing is delivered without the total.
        FUZZ_CHECK(tagData.untouched() && frameInfo.untouched() && tagCount.untouched(), result);
        if (!rawTail) FUZZ_CHECK(isLinkFailure(result) || someFrameHas(statuses, result), result);
        return;
    }
    int total = 0;
    std::memcpy(&total, totalLength.data(), sizeof total);
    FUZZ_CHECK(total >= 0 && static_cast<std::size_t>(total) <= kTagDataRoom, total);
    FUZZ_CHECK(tagData.touchedEnd() <= static_cast<std::size_t>(total), total);
    // Records come only from frames with status 1 to 4, which also set the count.
    if (total > 0) FUZZ_CHECK(!tagCount.untouched(), total);
}

void tagBuffer(int port) {
    std::uint8_t adr = 0x00;
    Guarded records(kRecordsRoom);
    Guarded byteCount(sizeof(int));
    const int result = GetTagBufferInfo(&adr, records.data(), reinterpret_cast<int*>(byteCount.data()), port);
    FUZZ_CHECK(result == MORVENT_OK || isLinkFailure(result), result);
    FUZZ_CHECK(adr == 0x00, adr);
    if (result != MORVENT_OK) {
        FUZZ_CHECK(records.untouched() && byteCount.untouched(), result);
        return;
    }
    int count = -1;
    std::memcpy(&count, byteCount.data(), sizeof count);
    FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= kRecordsRoom, count);
    FUZZ_CHECK(records.touchedEnd() <= static_cast<std::size_t>(count), count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setUp();
    Input in(data, size);
    const bool tagBufferWalk = in.byte() & 1;
    const std::uint8_t mode = in.byte();
    const std::size_t chunk = in.byte();
    const std::uint32_t delay = in.byte() * 8u;
    const int port = pickLink(mode);
    if (tagBufferWalk ? &GetTagBufferInfo == nullptr : &Inventory_G2 == nullptr) return 0;
    std::vector<std::uint8_t> statuses;
    const Bytes run = buildRun(in, tagBufferWalk ? 0x43 : 0x01, mode & 2, statuses);
    deviceOf(port).answerNext(cut(run, chunk, delay));
    link::transfer().receiveCount = 0;
    const std::uint32_t start = memdev::now();
    if (tagBufferWalk)
        tagBuffer(port);
    else
        inventory(port, statuses);
    // The longest limit of the two receive routines, and one wait beyond it.
    FUZZ_CHECK(spentSince(start) <= 10000 + 520 + 1000, spentSince(start));
    return 0;
}

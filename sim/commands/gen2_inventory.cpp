// Gen2 inventory: the full inventory, whose answer spans as many frames as
// its records need, and the single-tag inventory.
#include "sim/reader.h"

#include <algorithm>

#include "sim/commands/fields.h"

namespace sim {

namespace {

constexpr std::size_t kMaxInventoryRecords = 248;  // record bytes of one inventory frame

}  // namespace

Bytes ReaderModel::gen2Record(const Gen2Tag& tag, std::optional<std::pair<std::uint8_t, std::uint8_t>> tid) const {
    const Bytes epc = tag.epc();
    Bytes record{static_cast<std::uint8_t>(epc.size())};
    record.insert(record.end(), epc.begin(), epc.end());
    if (tid) {
        const std::size_t first = std::min<std::size_t>(tid->first * 2u, tag.tid().size());
        const std::size_t count = std::min<std::size_t>(tid->second * 2u, tag.tid().size() - first);
        record.push_back(static_cast<std::uint8_t>(count));
        record.insert(record.end(), tag.tid().begin() + first, tag.tid().begin() + first + count);
    }
    return record;
}

std::vector<Bytes> ReaderModel::inventoryFrames(const std::vector<Bytes>& records, std::uint8_t cmd) {
    std::vector<Bytes> frames;
    std::size_t next = 0;
    do {
        Bytes data{settings_.antenna, 0};
        while (next < records.size() && data.size() - 2 + records[next].size() <= kMaxInventoryRecords &&
               (settings_.tagsPerFrame == 0 || data[1] < settings_.tagsPerFrame)) {
            data.insert(data.end(), records[next].begin(), records[next].end());
            ++data[1];
            ++next;
        }
        const std::uint8_t status = next < records.size() ? kInventoryMore : kInventoryDone;
        frames.push_back(responseFrame(settings_.address, cmd, status, data));
    } while (next < records.size());
    return frames;
}

Reply ReaderModel::inventory(const Request& r) {
    const Bytes& d = r.data;
    std::optional<Mask> mask;
    std::optional<std::pair<std::uint8_t, std::uint8_t>> tid;
    if (d.size() == 2) {
        tid = {d[0], d[1]};
    } else if (!d.empty()) {
        if (d.size() < 4) return answer(r, kBadLength);
        const std::size_t maskEnd = 4 + maskBytes(d[3]);
        if (d.size() == maskEnd + 2) tid = {d[maskEnd], d[maskEnd + 1]};
        mask = maskAt(Bytes(d.begin(), d.begin() + std::min(maskEnd, d.size())), 0);
        if (!mask || (d.size() != maskEnd && !tid)) return answer(r, kBadLength);
    }
    std::vector<Bytes> records;
    for (Gen2Tag* tag : visibleTags(mask ? &*mask : nullptr)) {
        records.push_back(gen2Record(*tag, tid));
        remember(tag->epc(), 0);
    }
    if (records.empty()) return answer(r, kNoTag);
    Reply reply;
    unsigned found = 0;
    for (const Bytes& frame : inventoryFrames(records, r.command)) {
        reply.wire.insert(reply.wire.end(), frame.begin(), frame.end());
        reply.tagsByFrame.push_back(found += frame[5]);  // the frame's tag count
    }
    reply.singulated = static_cast<unsigned>(records.size());
    return reply;
}

Reply ReaderModel::singleInventory(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    auto tags = visibleTags(nullptr);
    if (tags.empty()) return answer(r, kNoTag);
    remember(tags.front()->epc(), 0);
    Bytes data{1};
    const Bytes record = gen2Record(*tags.front(), std::nullopt);
    data.insert(data.end(), record.begin(), record.end());
    return answer(r, kInventoryDone, data);
}

}  // namespace sim

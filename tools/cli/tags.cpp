#include "tags.h"

#include <algorithm>
#include <ctime>

namespace morvent_cli {

namespace {

// A length byte and that many bytes at data[at]; false when they overrun size.
bool takeCounted(const std::uint8_t* data, std::size_t size, std::size_t& at, Bytes& out) {
    if (at >= size || at + 1 + data[at] > size) return false;
    out.assign(data + at + 1, data + at + 1 + data[at]);
    at += 1 + data[at];
    return true;
}

}  // namespace

RecordWalk splitTagRecords(const std::uint8_t* data, std::size_t size, bool with_tid) {
    RecordWalk walk;
    std::size_t at = 0;
    while (at < size && data[at] != 0) {
        std::size_t next = at;
        TagRecord tag;
        if (!takeCounted(data, size, next, tag.epc) || (with_tid && !takeCounted(data, size, next, tag.tid))) break;
        walk.tags.push_back(std::move(tag));
        at = next;
    }
    walk.rest.assign(data + at, data + size);
    return walk;
}

std::vector<Bytes> splitFixed(const std::uint8_t* data, std::size_t size, std::size_t record_size) {
    std::vector<Bytes> records;
    for (std::size_t at = 0; at + record_size <= size; at += record_size) {
        records.emplace_back(data + at, data + at + record_size);
    }
    return records;
}

BufferWalk splitBufferRecords(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kHead = 11;
    BufferWalk walk;
    std::size_t at = 0;
    while (at + kHead + 1 <= size) {
        std::size_t length = data[at + kHead];
        if (at + kHead + 1 + length > size) break;
        walk.records.push_back(
            {Bytes(data + at, data + at + kHead), Bytes(data + at + kHead + 1, data + at + kHead + 1 + length)});
        at += kHead + 1 + length;
    }
    walk.rest.assign(data + at, data + size);
    return walk;
}

std::vector<Bytes> FrameSplitter::feed(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kShortestResponse = 6;
    pending_.insert(pending_.end(), data, data + size);
    std::vector<Bytes> frames;
    std::size_t at = 0;
    while (at < pending_.size()) {
        std::size_t frame_size = pending_[at] + 1u;
        bool too_short = frame_size < kShortestResponse;
        if (!too_short && at + frame_size > pending_.size()) break;  // the rest has not arrived yet
        if (too_short || (intact_ && !intact_(&pending_[at], frame_size))) {
            ++discarded_;
            ++at;
            continue;
        }
        frames.emplace_back(pending_.begin() + static_cast<long>(at),
                            pending_.begin() + static_cast<long>(at + frame_size));
        at += frame_size;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(at));
    return frames;
}

long long TagTally::record(const Bytes& epc, Time when, const Value& uri) {
    auto [entry, inserted] = seen_.try_emplace(epc);
    if (inserted) {
        entry->second.first = when;
        entry->second.uri = uri;
        order_.push_back(epc);
    }
    entry->second.count += 1;
    entry->second.last = when;
    return entry->second.count;
}

Table TagTally::table() const {
    Table table{{"epc", "count", "first_seen", "last_seen"}, {}};
    // A column for the identities only when there is one to show.
    const bool identities =
        std::any_of(seen_.begin(), seen_.end(), [](const auto& s) { return !s.second.uri.isAbsent(); });
    if (identities) table.columns.push_back("uri");
    for (const Bytes& epc : order_) {
        const Seen& seen = seen_.at(epc);
        table.rows.push_back(
            {Value::text(toHex(epc)), Value::number(seen.count), Value::time(seen.first), Value::time(seen.last)});
        if (identities) table.rows.back().push_back(seen.uri);
    }
    return table;
}

}  // namespace morvent_cli

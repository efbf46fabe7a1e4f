// ISO 18000-6B tags: inventories, byte-wise read and write, lock and lock
// query, each tag addressed by its 8-byte uid.
#include "sim/reader.h"

#include <algorithm>

#include "sim/commands/fields.h"

namespace sim {

namespace {

constexpr std::size_t kMax6BRecords = (kMaxData - 1) / 9;

}  // namespace

Bytes ReaderModel::record6B(const Tag6B& tag) const {
    Bytes record;
    record.reserve(1 + tag.uid().size());
    record.push_back(settings_.antenna);
    record.insert(record.end(), tag.uid().begin(), tag.uid().end());
    return record;
}

Tag6B* ReaderModel::find6B(const std::uint8_t* uid) {
    for (Tag6B& tag : tags6B_)
        if (std::equal(tag.uid().begin(), tag.uid().end(), uid)) return &tag;
    return nullptr;
}

Reply ReaderModel::inventorySingle6B(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    if (tags6B_.empty()) return answer(r, kNoTag);
    const Tag6B& tag = tags6B_.front();
    remember(Bytes(tag.uid().begin(), tag.uid().end()), 1);
    return answer(r, kOk, record6B(tag));
}

Reply ReaderModel::inventoryMultiple6B(const Request& r) {
    const Bytes& d = r.data;
    if (d.size() != 11) return answer(r, kBadLength);
    if (d[0] > 3) return answer(r, kBadParameter);
    Bytes data{0};
    for (const Tag6B& tag : tags6B_) {
        if (data[0] == kMax6BRecords || !tag.selected(d[0], d[1], d[2], &d[3])) continue;
        const Bytes record = record6B(tag);
        data.insert(data.end(), record.begin(), record.end());
        ++data[0];
        remember(Bytes(tag.uid().begin(), tag.uid().end()), 1);
    }
    return data[0] == 0 ? answer(r, kNoTag) : answer(r, kOk, data);
}

Reply ReaderModel::read6B(const Request& r) {
    const Bytes& d = r.data;
    if (d.size() != 10) return answer(r, kBadLength);
    if (d[9] == 0 || d[9] > kMaxData) return answer(r, kBadParameter);
    Tag6B* tag = find6B(&d[1]);
    if (!tag) return answer(r, kNoTag);
    Bytes out;
    auto result = tag->read(d[0], d[9], out);
    return tagResult(r, result, out);
}

Reply ReaderModel::write6B(const Request& r) {
    const Bytes& d = r.data;
    if (d.size() < 10) return answer(r, kBadLength);
    Tag6B* tag = find6B(&d[1]);
    if (!tag) return answer(r, kNoTag);
    return tagResult(r, tag->write(d[0], Bytes(d.begin() + 9, d.end())));
}

Reply ReaderModel::checkLock6B(const Request& r) {
    if (r.data.size() != 9) return answer(r, kBadLength);
    Tag6B* tag = find6B(&r.data[1]);
    if (!tag) return answer(r, kNoTag);
    return answer(r, kOk, {static_cast<std::uint8_t>(tag->locked(r.data[0]) ? 1 : 0)});
}

Reply ReaderModel::lock6B(const Request& r) {
    if (r.data.size() != 9) return answer(r, kBadLength);
    Tag6B* tag = find6B(&r.data[1]);
    if (!tag) return answer(r, kNoTag);
    return tagResult(r, tag->lock(r.data[0]));
}

}  // namespace sim

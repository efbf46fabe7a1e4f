// Gen2 memory access: read, write, block-write and erase words of a tag's
// memory, and write a new EPC.
#include "sim/reader.h"

#include "sim/commands/fields.h"

namespace sim {

namespace {

constexpr std::uint8_t kMaxReadWords = kMaxData / 2;

}  // namespace

Reply ReaderModel::readData(const Request& r) {
    auto a = addressed(r.data, 0, 7);
    if (!a) return answer(r, kBadLength);
    if (!a->tag) return answer(r, kNoTag);
    const Bytes& f = a->fields;
    if (f[2] == 0 || f[2] > kMaxReadWords) return answer(r, kBadParameter);
    Bytes words;
    auto result = a->tag->read(f[0], f[1], f[2], passwordAt(f, 3), words);
    return tagResult(r, result, words);
}

Reply ReaderModel::writeData(const Request& r) {
    if (r.data.empty()) return answer(r, kBadLength);
    if (r.data[0] == 0) return answer(r, kBadParameter);
    const std::size_t dataBytes = 2u * r.data[0];
    auto a = addressed(r.data, 1, 2 + dataBytes + 4);
    if (!a) return answer(r, kBadLength);
    if (!a->tag) return answer(r, kNoTag);
    const Bytes& f = a->fields;
    const Bytes words(f.begin() + 2, f.begin() + 2 + dataBytes);
    return tagResult(r, a->tag->write(f[0], f[1], words, passwordAt(f, 2 + dataBytes)));
}

Reply ReaderModel::blockErase(const Request& r) {
    auto a = addressed(r.data, 0, 7);
    if (!a) return answer(r, kBadLength);
    if (!a->tag) return answer(r, kNoTag);
    const Bytes& f = a->fields;
    if (f[2] == 0) return answer(r, kBadParameter);
    return tagResult(r, a->tag->write(f[0], f[1], Bytes(2u * f[2], 0), passwordAt(f, 3)));
}

Reply ReaderModel::writeEpc(const Request& r) {
    const Bytes& d = r.data;
    if (d.size() < 5 || d.size() != 5 + 2u * d[0]) return answer(r, kBadLength);
    if (d[0] == 0 || d[0] > Gen2Tag::kMaxEpcWords) return answer(r, kBadParameter);
    auto tags = visibleTags(nullptr);
    if (tags.empty()) return answer(r, kNoTag);
    return tagResult(r, tags.front()->writeEpc(Bytes(d.begin() + 5, d.end()), passwordAt(d, 1)));
}

}  // namespace sim

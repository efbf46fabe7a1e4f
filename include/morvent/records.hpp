// morvent/records.hpp - the walk over Gen2 inventory tag records (C++17,
// header-only; part of the C++ API, included by morvent.hpp). Reader takes
// its inventories apart with it, and so does any program that receives the
// records itself, such as the bytes a reader sends in its active mode.
#ifndef MORVENT_RECORDS_HPP
#define MORVENT_RECORDS_HPP

#include <cstddef>
#include <cstdint>

namespace morvent {

// One tag record inside an answer: its EPC and, when the inventory asked
// for them, its TID bytes. The pointers point into the walked bytes.
struct TagRecord {
    const std::uint8_t* epc = nullptr;
    std::size_t epcSize = 0;
    const std::uint8_t* tid = nullptr;
    std::size_t tidSize = 0;
};

// Walks `size` bytes of tag records: a length byte and that many EPC bytes,
// then, with `withTid`, a length byte and the TID bytes. Calls
// visit(const TagRecord&) for each whole record in order; the walk stops
// at a record that runs past the end, or when visit returns false. Returns
// the bytes of the records walked: `size` when every record was whole and
// taken.
template <typename Visit>
std::size_t walkTagRecords(const std::uint8_t* data, std::size_t size, bool withTid, Visit&& visit) {
    std::size_t at = 0;
    while (at < size) {
        std::size_t next = at;
        // The length byte at `next` and the bytes it counts, when they lie within `size`.
        auto field = [&](const std::uint8_t*& bytes, std::size_t& length) {
            if (next >= size || next + 1 + data[next] > size) return false;
            bytes = data + next + 1;
            length = data[next];
            next += 1 + length;
            return true;
        };
        TagRecord record;
        if (!field(record.epc, record.epcSize)) break;
        if (withTid && !field(record.tid, record.tidSize)) break;
        if (!visit(static_cast<const TagRecord&>(record))) break;
        at = next;
    }
    return at;
}

}  // namespace morvent

#endif  // MORVENT_RECORDS_HPP

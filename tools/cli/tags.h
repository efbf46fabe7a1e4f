// Taking apart what the reader hands back: inventory tag records, tag buffer
// records, runs of frames from the active mode, and the tally kept while
// watching the field.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "output.h"
#include "parse.h"

namespace morvent_cli {

// One inventory tag record: a length byte and that many EPC bytes; when the
// inventory asked for TID words, a second length byte and the TID bytes.
struct TagRecord {
    Bytes epc;
    Bytes tid;
};

struct RecordWalk {
    std::vector<TagRecord> tags;
    Bytes rest;  // bytes that do not form a whole record (normally none)
};

RecordWalk splitTagRecords(const std::uint8_t* data, std::size_t size, bool with_tid = false);

// A 6B inventory record: the antenna byte, then the tag's 8-byte uid.
std::vector<Bytes> splitFixed(const std::uint8_t* data, std::size_t size, std::size_t record_size);

// A tag buffer record: an 11-byte head (tag type, antenna, count high and
// low, six clock bytes of the last sighting, a reserved byte), a length
// byte L, then the L bytes of the tag's id.
struct BufferRecord {
    Bytes head;
    Bytes tail;
};
struct BufferWalk {
    std::vector<BufferRecord> records;
    Bytes rest;
};
BufferWalk splitBufferRecords(const std::uint8_t* data, std::size_t size);

// Cuts a byte stream into response frames by their Len byte, keeping a
// partial frame for the next feed. A frame that fails `intact` (its CRC) or
// is too short to be a response loses its first byte, and the search for
// the next frame goes on from the byte after it: a serial link drops what
// does not fit one read, and the stream must find its footing again.
class FrameSplitter {
public:
    using Check = bool (*)(const std::uint8_t* frame, std::size_t size);
    explicit FrameSplitter(Check intact = nullptr) : intact_(intact) {}

    std::vector<Bytes> feed(const std::uint8_t* data, std::size_t size);
    const Bytes& pending() const { return pending_; }
    std::size_t discarded() const { return discarded_; }

private:
    Check intact_;
    Bytes pending_;
    std::size_t discarded_ = 0;
};

// Tags seen during a watch: how often, first and last time.
class TagTally {
public:
    using Time = std::chrono::system_clock::time_point;
    // One sighting; `uri` is the EPC's GS1 identity (Value::absent() when it
    // has none), kept from the first. Returns the tag's count so far.
    long long record(const Bytes& epc, Time when, const Value& uri = Value::absent());
    std::size_t size() const { return order_.size(); }
    // Columns epc, count, first_seen, last_seen (RFC 3339), and uri when a
    // tag has one, in order of first sighting.
    Table table() const;

private:
    struct Seen {
        long long count = 0;
        Time first;
        Time last;
        Value uri = Value::absent();
    };
    std::map<Bytes, Seen> seen_;
    std::vector<Bytes> order_;
};

}  // namespace morvent_cli

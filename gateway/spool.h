// The durable spool: every event is committed here, with its sequence
// number, before it is published, and leaves only once the broker has
// acknowledged it. SQLite in WAL mode; one writer (the supervisor), group
// commits. The sequence number never goes back, even when every stored event
// has been acknowledged and deleted: its high-water mark is kept beside them.
// The tags in view are kept here too (per reader and tag, or in location
// scope per tag), changed in the same transaction as the events that change
// them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "gateway/events.h"

struct sqlite3;
struct sqlite3_stmt;

namespace morventd {

struct SpoolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One gateway per spool: an exclusive lock on "<spool>.lock", held while the
// object lives. A POSIX record lock: the kernel drops it however its holder
// ends, and tells a second process which PID holds it.
class SpoolLock {
public:
    // Throws SpoolError naming the spool, and the PID that holds it.
    explicit SpoolLock(const std::string& spool);
    ~SpoolLock();
    SpoolLock(const SpoolLock&) = delete;
    SpoolLock& operator=(const SpoolLock&) = delete;

private:
    int fd_ = -1;
};

struct StoredEvent {
    std::uint64_t seq = 0;
    std::string topic;    // between <prefix>/<gateway>/ and /events: its reader, locations/<level> or portals/<level>
    std::string payload;  // the JSON object
    std::int64_t storedMs = 0;
};

class Spool {
public:
    // Opens or creates the spool; throws SpoolError when it cannot.
    Spool(const std::string& path, std::int64_t maxEvents);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    struct Commit {
        std::vector<StoredEvent> stored;  // the new events, numbered
        std::int64_t dropped = 0;         // oldest events dropped to stay within max_events
        std::uint64_t firstDropped = 0, lastDropped = 0;
    };
    // In one transaction: numbers and stores `events`, applies `presence`
    // in order, deletes the acknowledged `acked`, drops the oldest past
    // max_events. On failure nothing changes and SpoolError says why.
    Commit commit(const std::vector<TagEvent>& events, const std::string& gateway, const std::vector<std::uint64_t>& acked,
                  std::int64_t nowMs, const std::vector<PresenceChange>& presence = {});

    // Stored events with seq > after, in seq order.
    std::vector<StoredEvent> fetch(std::uint64_t after, std::size_t limit);
    // The tags in view as last committed: reader by reader, then those kept by location.
    std::vector<PresenceChange> presence();

    std::int64_t depth() const { return depth_; }
    std::uint64_t nextSeq() const { return nextSeq_; }

private:
    void close();
    void exec(const char* sql);
    sqlite3_stmt* prepare(const char* sql);
    [[noreturn]] void fail(const std::string& what);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* remove_ = nullptr;
    sqlite3_stmt* fetch_ = nullptr;
    sqlite3_stmt* mark_ = nullptr;
    sqlite3_stmt* oldest_ = nullptr;
    sqlite3_stmt* dropTo_ = nullptr;
    sqlite3_stmt* keepTag_ = nullptr;
    sqlite3_stmt* forgetTag_ = nullptr;
    sqlite3_stmt* keepLocated_ = nullptr;
    sqlite3_stmt* forgetLocated_ = nullptr;
    std::string path_;
    std::int64_t maxEvents_;
    std::int64_t depth_ = 0;
    std::uint64_t nextSeq_ = 1;
};

}  // namespace morventd

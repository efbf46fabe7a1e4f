// The durable spool: every event is committed here, with its sequence
// number, before it is published, and leaves only once the broker has
// acknowledged it. SQLite in WAL mode; one writer (the supervisor), group
// commits. The sequence number never goes back, even when every stored event
// has been acknowledged and deleted: its high-water mark is kept beside them.
// The tags in view are kept here too (per reader and tag, or in location
// scope per tag), changed in the same transaction as the events that change
// them.
//
// Every event also goes into the history, in the same transaction, with the
// columns it is searched by (time, EPC, identity, reader, location, type)
// indexed beside its JSON: acknowledgement deletes only its row of the
// delivery queue, and the history keeps it for [history] keep_days, at most
// max_events. Retention drops the oldest in bounded slices within the
// commits, so the loop never waits on a large delete. gateway/history.h
// reads the history over its own connections.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
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

// How long the history keeps events, and how many at most (0: none).
struct HistoryLimits {
    double keepDays = 7;
    std::int64_t maxEvents = 10'000'000;
};

// Copies the spool's write-ahead log back into its file on a thread and a
// connection of its own, so that the loop's commits only append to the log.
// With the history, a commit dirties pages all over a large file (an
// event's EPC goes into its index, the oldest event's leaves it), and
// writing them back, had the committing thread to do it, would take longer
// than the commit itself. The log starts over only once all of it is
// copied, which the thread, racing the next commits, may never manage: past
// kMostPages the committing thread copies what is left itself, which the
// thread has kept small.
class Checkpointer {
public:
    static constexpr int kPages = 1000;       // the log's size, in pages, that starts a copy
    static constexpr int kMostPages = 10000;  // and that the committing thread finishes

    // Throws SpoolError when the spool cannot be opened a second time.
    explicit Checkpointer(const std::string& path);
    ~Checkpointer();
    Checkpointer(const Checkpointer&) = delete;
    Checkpointer& operator=(const Checkpointer&) = delete;

    // After a commit, with the log's size in pages: wakes the thread when large.
    void committed(int pages);

private:
    void run();

    sqlite3* db_ = nullptr;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool due_ = false, stop_ = false;
    std::thread thread_;
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
    Spool(const std::string& path, std::int64_t maxEvents, HistoryLimits history = {});
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    struct Commit {
        std::vector<StoredEvent> stored;  // the new events, numbered
        std::int64_t dropped = 0;         // oldest events dropped to stay within max_events
        std::uint64_t firstDropped = 0, lastDropped = 0;
        // Dropped from the history: past keep_days, and past its max_events.
        std::int64_t historyExpired = 0, historyOverflowed = 0;
    };
    // In one transaction: numbers and stores `events` (into the history
    // too), applies `presence` in order, deletes the acknowledged `acked`,
    // drops the oldest past max_events, and drops from the history, for at
    // most a few milliseconds, what it keeps no longer. On failure nothing
    // changes and SpoolError says why.
    Commit commit(const std::vector<TagEvent>& events, const std::string& gateway,
                  const std::vector<std::uint64_t>& acked, std::int64_t nowMs,
                  const std::vector<PresenceChange>& presence = {});

    // Stored events with seq > after, in seq order.
    std::vector<StoredEvent> fetch(std::uint64_t after, std::size_t limit);
    // The tags in view as last committed: reader by reader, then those kept by location.
    std::vector<PresenceChange> presence();

    // Whether the history holds events it keeps no longer at `nowMs`: a
    // commit with nothing else to do still drops them.
    bool historyDue(std::int64_t nowMs) const;
    std::int64_t historySize() const { return historySize_; }

    std::int64_t depth() const { return depth_; }
    std::uint64_t nextSeq() const { return nextSeq_; }

private:
    void close();
    void exec(const char* sql);
    sqlite3_stmt* prepare(const char* sql);
    [[noreturn]] void fail(const std::string& what);
    void record(const TagEvent& event, const StoredEvent& stored);
    void trimHistory(std::int64_t nowMs, Commit& result);
    std::int64_t oldestHistoryMs();

    sqlite3* db_ = nullptr;
    std::unique_ptr<Checkpointer> checkpointer_;  // closed before db_
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
    sqlite3_stmt* record_ = nullptr;
    sqlite3_stmt* expire_ = nullptr;
    sqlite3_stmt* overflow_ = nullptr;
    sqlite3_stmt* oldestTime_ = nullptr;
    sqlite3_stmt* count_ = nullptr;
    std::string path_;
    std::int64_t maxEvents_;
    HistoryLimits history_;
    std::int64_t historySize_ = 0;
    std::int64_t oldestHistoryMs_ = 0;  // the earliest time in the history (0: empty)
    std::int64_t depth_ = 0;
    std::uint64_t nextSeq_ = 1;
};

}  // namespace morventd

#include "gateway/spool.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/clock.h"

namespace morventd {

namespace {

// Retention deletes this many history rows at a time, and goes on within a
// commit only while it has taken less than kTrimBudgetMs: a backlog of
// millions (max_events lowered, a gateway off for weeks) goes over many
// commits instead of holding one for seconds.
constexpr int kTrimSlice = 256;
constexpr std::int64_t kTrimBudgetMs = 4;

}  // namespace

Checkpointer::Checkpointer(const std::string& path) {
    // A connection copies the log back only once it has read the spool and
    // so found the log.
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK ||
        sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw SpoolError("spool " + path + ": " + why);
    }
    thread_ = std::thread([this] { run(); });
}

Checkpointer::~Checkpointer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
    sqlite3_close(db_);
}

void Checkpointer::committed(int pages) {
    if (pages < kPages) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        due_ = true;
    }
    wake_.notify_one();
}

void Checkpointer::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return due_ || stop_; });
        if (stop_) return;
        due_ = false;
        lock.unlock();
        // PASSIVE: copies what no reader still needs, and never waits for
        // the writer nor makes it wait. A failure leaves the log to the
        // next try; the events in it are durable either way.
        sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        lock.lock();
    }
}

SpoolLock::SpoolLock(const std::string& spool) {
    const std::string path = spool + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw SpoolError("spool " + spool + ": cannot open its lock file " + path + ": " + std::strerror(errno));
    // A holder that ends between the refusal and the question leaves no
    // lock to name: then it is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (fcntl(fd_, F_SETLK, &lock) == 0) {
            // For whoever looks at the file; the lock itself is what counts.
            const std::string pid = std::to_string(getpid()) + "\n";
            if (ftruncate(fd_, 0) == 0) {
                const ssize_t n = ::write(fd_, pid.data(), pid.size());
                (void)n;
            }
            return;
        }
        if (errno != EACCES && errno != EAGAIN) break;
        if (fcntl(fd_, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK) {
            ::close(fd_);
            fd_ = -1;
            throw SpoolError("spool " + spool + " is in use by another morventd, PID " + std::to_string(lock.l_pid) +
                             " (one gateway per spool)");
        }
    }
    const std::string why = std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    throw SpoolError("spool " + spool + ": cannot lock " + path + ": " + why);
}

SpoolLock::~SpoolLock() {
    if (fd_ >= 0) ::close(fd_);
}

Spool::Spool(const std::string& path, std::int64_t maxEvents, HistoryLimits history)
    : path_(path), maxEvents_(maxEvents), history_(history) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw SpoolError("spool " + path + ": " + why);
    }
    try {
        sqlite3_busy_timeout(db_, 2000);
        exec("PRAGMA journal_mode=WAL");
        // FULL: a commit is on disk when it returns, power loss included.
        exec("PRAGMA synchronous=FULL");
        // `reader` is where the event goes: its topic between the gateway and
        // /events, the reader's name unless it is by location or portal.
        exec(
            "CREATE TABLE IF NOT EXISTS events (seq INTEGER PRIMARY KEY, reader TEXT NOT NULL, "
            "payload TEXT NOT NULL, stored_ms INTEGER NOT NULL)");
        exec("CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value INTEGER NOT NULL)");
        exec(
            "CREATE TABLE IF NOT EXISTS presence (reader TEXT NOT NULL, epc TEXT NOT NULL, tid TEXT NOT NULL, "
            "first_seen_ms INTEGER NOT NULL, last_seen_ms INTEGER NOT NULL, last_event_ms INTEGER NOT NULL, "
            "reads INTEGER NOT NULL, arrived INTEGER NOT NULL, PRIMARY KEY (reader, epc, tid)) WITHOUT ROWID");
        // Location scope: a tag is at one location at a time, `reader` the one of its last read there.
        exec(
            "CREATE TABLE IF NOT EXISTS located (epc TEXT NOT NULL, tid TEXT NOT NULL, reader TEXT NOT NULL, "
            "first_seen_ms INTEGER NOT NULL, last_seen_ms INTEGER NOT NULL, last_event_ms INTEGER NOT NULL, "
            "reads INTEGER NOT NULL, arrived INTEGER NOT NULL, location TEXT NOT NULL, PRIMARY KEY (epc, tid)) "
            "WITHOUT ROWID");
        // The history: an event's time is its last read (a depart's too:
        // when the tag was last there). Each index ends in the rowid, seq,
        // so every search reads newest first in (time, seq) order without
        // sorting. Reports are most of the events and never change where a
        // tag is: the trail has an index without them.
        exec(
            "CREATE TABLE IF NOT EXISTS history (seq INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, type TEXT NOT "
            "NULL, "
            "epc TEXT NOT NULL, uri TEXT, reader TEXT NOT NULL, location TEXT NOT NULL, payload TEXT NOT NULL)");
        exec("CREATE INDEX IF NOT EXISTS history_time ON history (time_ms)");
        exec("CREATE INDEX IF NOT EXISTS history_epc ON history (epc, time_ms)");
        exec("CREATE INDEX IF NOT EXISTS history_uri ON history (uri, time_ms) WHERE uri IS NOT NULL");
        exec("CREATE INDEX IF NOT EXISTS history_reader ON history (reader, time_ms)");
        exec("CREATE INDEX IF NOT EXISTS history_location ON history (location, time_ms)");
        exec("CREATE INDEX IF NOT EXISTS history_type ON history (type, time_ms)");
        exec("CREATE INDEX IF NOT EXISTS history_trail ON history (epc, time_ms) WHERE type <> 'report'");
        // Enough of the indexes' recent pages stay in memory for the
        // inserts and the slices of retention not to wait on the disk.
        exec("PRAGMA cache_size=-32768");
        // The log is copied back by the checkpointer, not by the commits.
        exec("PRAGMA wal_autocheckpoint=0");
        checkpointer_ = std::make_unique<Checkpointer>(path);
        sqlite3_wal_hook(
            db_,
            [](void* checkpointer, sqlite3* db, const char*, int pages) {
                static_cast<Checkpointer*>(checkpointer)->committed(pages);
                // Busy at once while the thread copies: then after a later commit.
                if (pages >= Checkpointer::kMostPages)
                    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
                return SQLITE_OK;
            },
            checkpointer_.get());
        sqlite3_stmt* q = prepare(
            "SELECT max(coalesce((SELECT value FROM meta WHERE key = 'next_seq'), 1), "
            "coalesce((SELECT max(seq) + 1 FROM events), 1)), (SELECT count(*) FROM events)");
        if (sqlite3_step(q) != SQLITE_ROW) {
            sqlite3_finalize(q);
            fail("reading the spool");
        }
        nextSeq_ = static_cast<std::uint64_t>(sqlite3_column_int64(q, 0));
        depth_ = sqlite3_column_int64(q, 1);
        sqlite3_finalize(q);
        // The history's size is kept beside it: counting ten million rows
        // at every start would take seconds. A spool from before the
        // history has no such row; it is counted once.
        q = prepare(
            "SELECT coalesce((SELECT value FROM meta WHERE key = 'history_size'), (SELECT count(*) FROM history))");
        if (sqlite3_step(q) != SQLITE_ROW) {
            sqlite3_finalize(q);
            fail("reading the history");
        }
        historySize_ = sqlite3_column_int64(q, 0);
        sqlite3_finalize(q);
        insert_ = prepare("INSERT INTO events (seq, reader, payload, stored_ms) VALUES (?, ?, ?, ?)");
        remove_ = prepare("DELETE FROM events WHERE seq = ?");
        fetch_ = prepare("SELECT seq, reader, payload, stored_ms FROM events WHERE seq > ? ORDER BY seq LIMIT ?");
        mark_ = prepare("INSERT OR REPLACE INTO meta (key, value) VALUES ('next_seq', ?)");
        oldest_ = prepare("SELECT seq FROM events ORDER BY seq LIMIT 1 OFFSET ?");
        dropTo_ = prepare("DELETE FROM events WHERE seq <= ?");
        keepTag_ = prepare("INSERT OR REPLACE INTO presence VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        forgetTag_ = prepare("DELETE FROM presence WHERE reader = ? AND epc = ? AND tid = ?");
        keepLocated_ = prepare(
            "INSERT OR REPLACE INTO located (reader, epc, tid, first_seen_ms, last_seen_ms, "
            "last_event_ms, reads, arrived, location) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
        forgetLocated_ = prepare("DELETE FROM located WHERE epc = ? AND tid = ?");
        record_ = prepare(
            "INSERT INTO history (seq, time_ms, type, epc, uri, reader, location, payload) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        expire_ = prepare(
            "DELETE FROM history WHERE seq IN (SELECT seq FROM history WHERE time_ms < ? ORDER BY time_ms LIMIT ?)");
        overflow_ = prepare("DELETE FROM history WHERE seq IN (SELECT seq FROM history ORDER BY seq LIMIT ?)");
        oldestTime_ = prepare("SELECT min(time_ms) FROM history");
        count_ = prepare("INSERT OR REPLACE INTO meta (key, value) VALUES ('history_size', ?)");
        oldestHistoryMs_ = oldestHistoryMs();
    } catch (...) {
        close();
        throw;
    }
}

Spool::~Spool() { close(); }

void Spool::close() {
    for (sqlite3_stmt* s : {insert_, remove_, fetch_, mark_, oldest_, dropTo_, keepTag_, forgetTag_, keepLocated_,
                            forgetLocated_, record_, expire_, overflow_, oldestTime_, count_})
        sqlite3_finalize(s);
    insert_ = remove_ = fetch_ = mark_ = oldest_ = dropTo_ = keepTag_ = forgetTag_ = keepLocated_ = forgetLocated_ =
        nullptr;
    record_ = expire_ = overflow_ = oldestTime_ = count_ = nullptr;
    // First, so that the writer's close, the last, copies the log back and removes it.
    checkpointer_.reset();
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

void Spool::fail(const std::string& what) {
    throw SpoolError("spool " + path_ + ": " + what + ": " + sqlite3_errmsg(db_));
}

void Spool::exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string why = message ? message : "failed";
        sqlite3_free(message);
        throw SpoolError("spool " + path_ + ": " + why);
    }
}

sqlite3_stmt* Spool::prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) fail("preparing");
    return s;
}

Spool::Commit Spool::commit(const std::vector<TagEvent>& events, const std::string& gateway,
                            const std::vector<std::uint64_t>& acked, std::int64_t nowMs,
                            const std::vector<PresenceChange>& presence) {
    Commit result;
    if (events.empty() && acked.empty() && presence.empty() && !historyDue(nowMs)) return result;
    std::uint64_t seq = nextSeq_;
    std::int64_t depth = depth_;
    const std::int64_t historySize = historySize_, oldestHistoryMs = oldestHistoryMs_;
    auto step = [&](sqlite3_stmt* s, const char* what) {
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) fail(what);
    };
    exec("BEGIN IMMEDIATE");
    try {
        result.stored.reserve(events.size());
        for (const TagEvent& e : events) {
            StoredEvent stored{seq, e.topic.empty() ? e.reader : e.topic, eventJson(e, seq, gateway), nowMs};
            sqlite3_bind_int64(insert_, 1, static_cast<sqlite3_int64>(seq));
            sqlite3_bind_text(insert_, 2, stored.topic.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(insert_, 3, stored.payload.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_int64(insert_, 4, nowMs);
            step(insert_, "storing an event");
            if (history_.maxEvents > 0) record(e, stored);
            result.stored.push_back(std::move(stored));
            ++seq;
            ++depth;
        }
        for (const PresenceChange& p : presence) {
            const bool located = !p.location.empty();
            sqlite3_stmt* s = located ? (p.gone ? forgetLocated_ : keepLocated_) : (p.gone ? forgetTag_ : keepTag_);
            int column = 0;
            const auto text = [&](const std::string& v) {
                sqlite3_bind_text(s, ++column, v.c_str(), -1, SQLITE_STATIC);
            };
            const auto number = [&](std::int64_t v) { sqlite3_bind_int64(s, ++column, v); };
            if (!located || !p.gone) text(p.reader);  // a located row is the tag's, whoever read it
            text(p.tag.epc);
            text(p.tag.tid);
            if (!p.gone) {
                number(p.tag.firstSeenMs);
                number(p.tag.lastSeenMs);
                number(p.tag.lastEventMs);
                number(static_cast<std::int64_t>(p.tag.reads));
                number(p.tag.arrived);
                if (located) text(p.location);
            }
            step(s, "keeping the tags in view");
        }
        for (std::uint64_t a : acked) {
            sqlite3_bind_int64(remove_, 1, static_cast<sqlite3_int64>(a));
            step(remove_, "deleting an acknowledged event");
            depth -= sqlite3_changes(db_);
        }
        if (depth > maxEvents_) {
            // The (depth - max_events) oldest go: the last of them is the
            // event at that offset less one, and all up to its seq go with it.
            sqlite3_bind_int64(oldest_, 1, depth - maxEvents_ - 1);
            std::uint64_t last = 0;
            if (sqlite3_step(oldest_) == SQLITE_ROW)
                last = static_cast<std::uint64_t>(sqlite3_column_int64(oldest_, 0));
            sqlite3_reset(oldest_);
            sqlite3_bind_int64(dropTo_, 1, static_cast<sqlite3_int64>(last));
            step(dropTo_, "dropping the oldest events");
            result.dropped = sqlite3_changes(db_);
            depth -= result.dropped;
            result.lastDropped = last;
            // The stored seqs are one run without gaps: events are numbered
            // in order and acknowledged in the order they were sent, each
            // connection starting again from the oldest. So the dropped ones
            // are the `dropped` seqs that end at `last`.
            result.firstDropped = last + 1 - static_cast<std::uint64_t>(result.dropped);
        }
        if (historyDue(nowMs)) trimHistory(nowMs, result);
        if (historySize_ != historySize) {
            sqlite3_bind_int64(count_, 1, historySize_);
            step(count_, "counting the history");
        }
        if (seq != nextSeq_) {
            sqlite3_bind_int64(mark_, 1, static_cast<sqlite3_int64>(seq));
            step(mark_, "keeping the sequence number");
        }
        exec("COMMIT");
    } catch (const SpoolError&) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        historySize_ = historySize;
        oldestHistoryMs_ = oldestHistoryMs;
        throw;
    }
    nextSeq_ = seq;
    depth_ = depth;
    // Events dropped in this same commit are not handed out for publishing.
    if (result.dropped)
        result.stored.erase(std::remove_if(result.stored.begin(), result.stored.end(),
                                           [&](const StoredEvent& s) { return s.seq <= result.lastDropped; }),
                            result.stored.end());
    return result;
}

// An event into the history, searchable by its time, EPC, identity, reader,
// location (a reader without one is its own) and type.
void Spool::record(const TagEvent& e, const StoredEvent& stored) {
    const std::int64_t timeMs = e.lastSeenMs ? e.lastSeenMs : stored.storedMs;
    const std::string& location = e.location.empty() ? e.reader : e.location;
    sqlite3_bind_int64(record_, 1, static_cast<sqlite3_int64>(stored.seq));
    sqlite3_bind_int64(record_, 2, timeMs);
    sqlite3_bind_text(record_, 3, eventTypeName(e.type), -1, SQLITE_STATIC);
    sqlite3_bind_text(record_, 4, e.epc.c_str(), -1, SQLITE_STATIC);
    if (e.uri.empty()) sqlite3_bind_null(record_, 5);
    else sqlite3_bind_text(record_, 5, e.uri.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(record_, 6, e.reader.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(record_, 7, location.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(record_, 8, stored.payload.c_str(), -1, SQLITE_STATIC);
    const int rc = sqlite3_step(record_);
    sqlite3_reset(record_);
    if (rc != SQLITE_DONE) fail("keeping an event in the history");
    if (historySize_ == 0 || timeMs < oldestHistoryMs_) oldestHistoryMs_ = timeMs;
    ++historySize_;
}

bool Spool::historyDue(std::int64_t nowMs) const {
    return historySize_ > history_.maxEvents ||
           (historySize_ > 0 && oldestHistoryMs_ < nowMs - static_cast<std::int64_t>(history_.keepDays * 86'400'000.0));
}

// The oldest first, slice by slice, for at most kTrimBudgetMs: those past
// keep_days, then those past max_events. What is left goes in later commits.
void Spool::trimHistory(std::int64_t nowMs, Commit& result) {
    const std::int64_t until = morvent_common::steadyMs() + kTrimBudgetMs;
    const std::int64_t cutoff = nowMs - static_cast<std::int64_t>(history_.keepDays * 86'400'000.0);
    auto slice = [&](sqlite3_stmt* s, std::int64_t rows) {
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE) fail("dropping the oldest history");
        const std::int64_t n = sqlite3_changes(db_);
        historySize_ -= n;
        return n == rows;  // a full slice: there may be more
    };
    bool more = true;
    while (more && historySize_ > 0 && oldestHistoryMs_ < cutoff && morvent_common::steadyMs() < until) {
        sqlite3_bind_int64(expire_, 1, cutoff);
        sqlite3_bind_int(expire_, 2, kTrimSlice);
        const std::int64_t before = historySize_;
        more = slice(expire_, kTrimSlice);
        result.historyExpired += before - historySize_;
    }
    while (historySize_ > history_.maxEvents && morvent_common::steadyMs() < until) {
        const std::int64_t rows = std::min<std::int64_t>(kTrimSlice, historySize_ - history_.maxEvents);
        sqlite3_bind_int64(overflow_, 1, rows);
        const std::int64_t before = historySize_;
        // Fewer than asked: the history held fewer rows than counted (the
        // file was changed behind the gateway's back), and now holds none.
        if (!slice(overflow_, rows)) historySize_ = 0;
        result.historyOverflowed += before - historySize_;
    }
    if (result.historyExpired || result.historyOverflowed) oldestHistoryMs_ = oldestHistoryMs();
}

std::int64_t Spool::oldestHistoryMs() {
    std::int64_t oldest = 0;
    if (sqlite3_step(oldestTime_) == SQLITE_ROW) oldest = sqlite3_column_int64(oldestTime_, 0);
    sqlite3_reset(oldestTime_);
    return oldest;
}

std::vector<StoredEvent> Spool::fetch(std::uint64_t after, std::size_t limit) {
    std::vector<StoredEvent> out;
    sqlite3_bind_int64(fetch_, 1, static_cast<sqlite3_int64>(after));
    sqlite3_bind_int64(fetch_, 2, static_cast<sqlite3_int64>(limit));
    int rc;
    while ((rc = sqlite3_step(fetch_)) == SQLITE_ROW) {
        StoredEvent e;
        e.seq = static_cast<std::uint64_t>(sqlite3_column_int64(fetch_, 0));
        e.topic = reinterpret_cast<const char*>(sqlite3_column_text(fetch_, 1));
        e.payload = reinterpret_cast<const char*>(sqlite3_column_text(fetch_, 2));
        e.storedMs = sqlite3_column_int64(fetch_, 3);
        out.push_back(std::move(e));
    }
    sqlite3_reset(fetch_);
    if (rc != SQLITE_DONE) fail("reading events");
    return out;
}

std::vector<PresenceChange> Spool::presence() {
    std::vector<PresenceChange> out;
    sqlite3_stmt* q = prepare(
        "SELECT reader, epc, tid, first_seen_ms, last_seen_ms, last_event_ms, reads, arrived, '' FROM presence UNION "
        "ALL "
        "SELECT reader, epc, tid, first_seen_ms, last_seen_ms, last_event_ms, reads, arrived, location FROM located");
    int rc;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
        PresenceChange p;
        p.reader = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
        p.tag.epc = reinterpret_cast<const char*>(sqlite3_column_text(q, 1));
        p.tag.tid = reinterpret_cast<const char*>(sqlite3_column_text(q, 2));
        p.tag.firstSeenMs = sqlite3_column_int64(q, 3);
        p.tag.lastSeenMs = sqlite3_column_int64(q, 4);
        p.tag.lastEventMs = sqlite3_column_int64(q, 5);
        p.tag.reads = static_cast<std::uint64_t>(sqlite3_column_int64(q, 6));
        p.tag.arrived = sqlite3_column_int(q, 7) != 0;
        p.location = reinterpret_cast<const char*>(sqlite3_column_text(q, 8));
        out.push_back(std::move(p));
    }
    sqlite3_finalize(q);
    if (rc != SQLITE_DONE) fail("reading the tags in view");
    return out;
}

}  // namespace morventd

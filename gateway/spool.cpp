#include "gateway/spool.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace morventd {

SpoolLock::SpoolLock(const std::string& spool) {
    const std::string path = spool + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) throw SpoolError("spool " + spool + ": cannot open its lock file " + path + ": " + std::strerror(errno));
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

Spool::Spool(const std::string& path, std::int64_t maxEvents) : path_(path), maxEvents_(maxEvents) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
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
        exec("CREATE TABLE IF NOT EXISTS events (seq INTEGER PRIMARY KEY, reader TEXT NOT NULL, "
             "payload TEXT NOT NULL, stored_ms INTEGER NOT NULL)");
        exec("CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value INTEGER NOT NULL)");
        exec("CREATE TABLE IF NOT EXISTS presence (reader TEXT NOT NULL, epc TEXT NOT NULL, tid TEXT NOT NULL, "
             "first_seen_ms INTEGER NOT NULL, last_seen_ms INTEGER NOT NULL, last_event_ms INTEGER NOT NULL, "
             "reads INTEGER NOT NULL, arrived INTEGER NOT NULL, PRIMARY KEY (reader, epc, tid)) WITHOUT ROWID");
        // Location scope: a tag is at one location at a time, `reader` the one of its last read there.
        exec("CREATE TABLE IF NOT EXISTS located (epc TEXT NOT NULL, tid TEXT NOT NULL, reader TEXT NOT NULL, "
             "first_seen_ms INTEGER NOT NULL, last_seen_ms INTEGER NOT NULL, last_event_ms INTEGER NOT NULL, "
             "reads INTEGER NOT NULL, arrived INTEGER NOT NULL, location TEXT NOT NULL, PRIMARY KEY (epc, tid)) "
             "WITHOUT ROWID");
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
        insert_ = prepare("INSERT INTO events (seq, reader, payload, stored_ms) VALUES (?, ?, ?, ?)");
        remove_ = prepare("DELETE FROM events WHERE seq = ?");
        fetch_ = prepare("SELECT seq, reader, payload, stored_ms FROM events WHERE seq > ? ORDER BY seq LIMIT ?");
        mark_ = prepare("INSERT OR REPLACE INTO meta (key, value) VALUES ('next_seq', ?)");
        oldest_ = prepare("SELECT seq FROM events ORDER BY seq LIMIT 1 OFFSET ?");
        dropTo_ = prepare("DELETE FROM events WHERE seq <= ?");
        keepTag_ = prepare("INSERT OR REPLACE INTO presence VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        forgetTag_ = prepare("DELETE FROM presence WHERE reader = ? AND epc = ? AND tid = ?");
        keepLocated_ = prepare("INSERT OR REPLACE INTO located (reader, epc, tid, first_seen_ms, last_seen_ms, "
                               "last_event_ms, reads, arrived, location) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
        forgetLocated_ = prepare("DELETE FROM located WHERE epc = ? AND tid = ?");
    } catch (...) {
        close();
        throw;
    }
}

Spool::~Spool() {
    close();
}

void Spool::close() {
    for (sqlite3_stmt* s : {insert_, remove_, fetch_, mark_, oldest_, dropTo_, keepTag_, forgetTag_, keepLocated_, forgetLocated_})
        sqlite3_finalize(s);
    insert_ = remove_ = fetch_ = mark_ = oldest_ = dropTo_ = keepTag_ = forgetTag_ = keepLocated_ = forgetLocated_ = nullptr;
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
    if (events.empty() && acked.empty() && presence.empty()) return result;
    std::uint64_t seq = nextSeq_;
    std::int64_t depth = depth_;
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
            result.stored.push_back(std::move(stored));
            ++seq;
            ++depth;
        }
        for (const PresenceChange& p : presence) {
            const bool located = !p.location.empty();
            sqlite3_stmt* s = located ? (p.gone ? forgetLocated_ : keepLocated_) : (p.gone ? forgetTag_ : keepTag_);
            int column = 0;
            const auto text = [&](const std::string& v) { sqlite3_bind_text(s, ++column, v.c_str(), -1, SQLITE_STATIC); };
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
            if (sqlite3_step(oldest_) == SQLITE_ROW) last = static_cast<std::uint64_t>(sqlite3_column_int64(oldest_, 0));
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
        if (seq != nextSeq_) {
            sqlite3_bind_int64(mark_, 1, static_cast<sqlite3_int64>(seq));
            step(mark_, "keeping the sequence number");
        }
        exec("COMMIT");
    } catch (const SpoolError&) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
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
        "SELECT reader, epc, tid, first_seen_ms, last_seen_ms, last_event_ms, reads, arrived, '' FROM presence UNION ALL "
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

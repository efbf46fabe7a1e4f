// The history's read side: GET /api/history (a search, newest first, in
// pages with a cursor, or as CSV streamed in chunks) and GET
// /api/tags/{epc}/trail (where a tag has been). The spool writes the
// history; the HTTP threads read it here over read-only connections of
// their own, which in WAL mode never hold up the spool's writer. Every
// search runs on an index and stops after kQueryMs.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

struct sqlite3;

namespace httplib {
class Server;
}

namespace morventd {

// A search of the history that cannot be run: the HTTP status and the reason.
struct HistoryError : std::runtime_error {
    HistoryError(int status, const std::string& message) : std::runtime_error(message), status(status) {}
    int status;
};

// What GET /api/history asks for, checked.
struct HistoryQuery {
    std::string epc, uri, reader, location, type;                 // "" for any
    std::optional<std::int64_t> fromMs, toMs;                     // from inclusive, to exclusive
    std::optional<std::pair<std::int64_t, std::uint64_t>> after;  // the cursor: time and seq, exclusive
    std::int64_t limit = 0;                                       // 0: no limit (CSV only)
    bool csv = false;

    static constexpr std::int64_t kPage = 100, kMaxPage = 1000;

    // From the request's parameters (each once) and Accept header; throws
    // HistoryError 400 naming the parameter at fault.
    static HistoryQuery parse(const std::multimap<std::string, std::string>& params, const std::string& accept);
};

struct HistoryRow {
    std::uint64_t seq = 0;
    std::int64_t timeMs = 0;
    std::string payload;  // the event's JSON, as delivered
};

// Where a tag was: one stay at a location, as far as the history knows it.
struct Visit {
    std::string location;
    std::optional<std::int64_t> sinceMs;  // none: before the history (or the range) begins
    std::optional<std::int64_t> untilMs;  // none: no depart recorded, so still there
    std::vector<std::string> readers;
};

// A time as the API takes it: RFC 3339 with a zone (2026-12-09T13:41:29Z,
// 2026-12-09T14:41:29.5+01:00), a date (midnight UTC), or Unix milliseconds.
std::optional<std::int64_t> parseTime(const std::string& text);

// Stays from a tag's events other than reports, newest first (as the
// history reads them): arrive opens a stay, depart closes it, move does
// both. Stays at one location that overlap (two readers of it) are one.
// Oldest first, at most the newest `limit`.
std::vector<Visit> visitsOf(const std::vector<HistoryRow>& newestFirst, std::size_t limit);

class History {
public:
    static constexpr int kQueryMs = 5000;        // a search that takes longer is stopped
    static constexpr std::size_t kChunk = 1000;  // CSV rows read and sent at a time

    explicit History(std::string spool);
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    void install(httplib::Server& server);

    // One page of `query`, at most `limit` rows, newest first; throws HistoryError.
    std::vector<HistoryRow> search(const HistoryQuery& query, std::size_t limit);
    // A tag's stays within [fromMs, toMs), and the time it was last read.
    std::vector<Visit> trail(const std::string& epc, std::optional<std::int64_t> fromMs,
                             std::optional<std::int64_t> toMs, std::size_t limit,
                             std::optional<std::int64_t>* lastSeenMs);

private:
    struct Connection;
    std::unique_ptr<Connection> take();
    void give(std::unique_ptr<Connection> connection);
    using Value = std::variant<std::string, std::int64_t>;
    // The rows of `sql` (seq, time, payload) with `values` bound in order.
    std::vector<HistoryRow> rows(const std::string& sql, const std::vector<Value>& values);

    std::string spool_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> idle_;
};

}  // namespace morventd

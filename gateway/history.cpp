#include "gateway/history.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "common/clock.h"
#include "gateway/config.h"
#include "gateway/events.h"

namespace morventd {

namespace {

using nlohmann::json;

std::string errorJson(const std::string& message) { return json{{"error", message}}.dump() + "\n"; }

HistoryError badRequest(const std::string& message) { return HistoryError(400, message); }

bool digits(const std::string& s, std::size_t from, std::size_t count) {
    if (from + count > s.size()) return false;
    for (std::size_t i = from; i < from + count; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

int number(const std::string& s, std::size_t from, std::size_t count) { return std::stoi(s.substr(from, count)); }

bool allDigits(const std::string& s) { return !s.empty() && s.size() <= 18 && digits(s, 0, s.size()); }

// A parameter's value as a whole number in lo..hi; throws naming it.
std::int64_t integer(const std::string& name, const std::string& text, std::int64_t lo, std::int64_t hi) {
    if (!allDigits(text) || std::stoll(text) < lo || std::stoll(text) > hi)
        throw badRequest(name + " '" + text + "' must be a whole number " + std::to_string(lo) + ".." +
                         std::to_string(hi));
    return std::stoll(text);
}

std::int64_t time(const std::string& name, const std::string& text) {
    const std::optional<std::int64_t> ms = parseTime(text);
    if (!ms)
        throw badRequest(name + " '" + text + "' is not a time: give RFC 3339 with a zone (2026-12-09T13:41:29Z), " +
                         "a date (2026-12-09, UTC) or Unix milliseconds");
    return *ms;
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : ", ") + w;
    return out;
}

// The parameters of a request, each given at most once, empty ones left
// out (a form sends its empty fields); anything not in `known` is refused.
std::map<std::string, std::string> only(const std::multimap<std::string, std::string>& params, const std::string& path,
                                        const std::vector<std::string>& known) {
    std::map<std::string, std::string> out;
    for (const auto& [key, value] : params) {
        if (std::find(known.begin(), known.end(), key) == known.end())
            throw badRequest("unknown parameter '" + key + "': " + path + " takes " + joined(known));
        if (params.count(key) > 1) throw badRequest("parameter '" + key + "' is given more than once");
        if (!value.empty()) out[key] = value;
    }
    return out;
}

std::pair<std::optional<std::int64_t>, std::optional<std::int64_t>> range(const std::map<std::string, std::string>& p) {
    std::optional<std::int64_t> from, to;
    if (p.count("from")) from = time("from", p.at("from"));
    if (p.count("to")) to = time("to", p.at("to"));
    if (from && to && *from >= *to)
        throw badRequest("from (" + p.at("from") + ") must lie before to (" + p.at("to") + ")");
    return {from, to};
}

// An EPC as events carry it: hex, upper case.
std::string epcParameter(const std::string& name, const std::string& text) {
    std::string epc;
    for (char c : text) epc += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (epc.empty() || epc.size() > 124 ||
        !std::all_of(epc.begin(), epc.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        throw badRequest(name + " '" + text + "' is not an EPC in hex (at most 62 bytes)");
    return epc;
}

std::string cursorText(const HistoryRow& row) { return std::to_string(row.timeMs) + "-" + std::to_string(row.seq); }

// RFC 4180: a field with a comma, quote or line break goes in quotes, its
// quotes doubled.
void csvField(std::string& out, const json& value) {
    std::string text = value.is_string() ? value.get<std::string>() : value.is_null() ? "" : value.dump();
    if (text.find_first_of(",\"\r\n") != std::string::npos) {
        std::string quoted = "\"";
        for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        text = quoted + "\"";
    }
    out += text;
}

// The CSV columns: every member an event may have, those of moves and
// portals too, so that one export has one header whatever it holds.
constexpr const char* kColumns[] = {"seq",       "gateway", "type", "reader", "location",
                                    "epc",       "uri",     "tid",  "count",  "first_seen",
                                    "last_seen", "from",    "to",   "portal", "direction"};

std::string csvRow(const std::string& payload) {
    std::string out;
    json event;
    try {
        event = json::parse(payload);
    } catch (const json::exception&) {
        event = json::object();
    }
    // An event from before events named their location: its reader's.
    if (event.is_object() && !event.contains("location") && event.contains("reader"))
        event["location"] = event["reader"];
    bool first = true;
    for (const char* column : kColumns) {
        if (!first) out += ',';
        first = false;
        if (event.is_object() && event.contains(column)) csvField(out, event[column]);
    }
    return out + "\r\n";
}

json visitJson(const Visit& v) {
    return json{{"location", v.location},
                {"since", v.sinceMs ? json(rfc3339(*v.sinceMs)) : json(nullptr)},
                {"until", v.untilMs ? json(rfc3339(*v.untilMs)) : json(nullptr)},
                {"readers", v.readers}};
}

void refuse(httplib::Response& res, const HistoryError& e) {
    res.status = e.status;
    res.set_content(errorJson(e.what()), "application/json");
}

}  // namespace

std::optional<std::int64_t> parseTime(const std::string& text) {
    if (allDigits(text)) return std::stoll(text);
    // YYYY-MM-DD
    if (!digits(text, 0, 4) || text.size() < 10 || text[4] != '-' || !digits(text, 5, 2) || text[7] != '-' ||
        !digits(text, 8, 2))
        return std::nullopt;
    std::tm t{};
    t.tm_year = number(text, 0, 4) - 1900;
    t.tm_mon = number(text, 5, 2) - 1;
    t.tm_mday = number(text, 8, 2);
    std::int64_t ms = 0, offsetMin = 0;
    std::size_t at = 10;
    if (at < text.size()) {
        // THH:MM:SS[.fff](Z|+HH:MM|-HH:MM)
        if ((text[at] != 'T' && text[at] != 't' && text[at] != ' ') || !digits(text, at + 1, 2) ||
            text.size() < at + 9 || text[at + 3] != ':' || !digits(text, at + 4, 2) || text[at + 6] != ':' ||
            !digits(text, at + 7, 2))
            return std::nullopt;
        t.tm_hour = number(text, at + 1, 2);
        t.tm_min = number(text, at + 4, 2);
        t.tm_sec = number(text, at + 7, 2);
        at += 9;
        if (at < text.size() && text[at] == '.') {
            std::size_t end = at + 1;
            while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
            if (end == at + 1) return std::nullopt;
            // Milliseconds: the first three digits, the rest cut off.
            const std::string fraction = (text.substr(at + 1, end - at - 1) + "00").substr(0, 3);
            ms = std::stoi(fraction);
            at = end;
        }
        if (at == text.size()) return std::nullopt;  // a time without a zone means no one time
        if (text[at] == 'Z' || text[at] == 'z') {
            ++at;
        } else if (text[at] == '+' || text[at] == '-' || text[at] == ' ') {
            // A '+' in a query string arrives as a space.
            if (text.size() != at + 6 || !digits(text, at + 1, 2) || text[at + 3] != ':' || !digits(text, at + 4, 2))
                return std::nullopt;
            offsetMin = number(text, at + 1, 2) * 60 + number(text, at + 4, 2);
            if (text[at] == '-') offsetMin = -offsetMin;
            at += 6;
        }
        if (at != text.size()) return std::nullopt;
    }
    if (t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 || t.tm_sec > 60 ||
        offsetMin > 24 * 60 || offsetMin < -24 * 60)
        return std::nullopt;
    const std::tm asked = t;
    const std::time_t seconds = timegm(&t);
    // timegm carries 31 April into May: a day the month lacks is refused.
    if (t.tm_mday != asked.tm_mday || t.tm_mon != asked.tm_mon) return std::nullopt;
    return static_cast<std::int64_t>(seconds) * 1000 + ms - offsetMin * 60'000;
}

HistoryQuery HistoryQuery::parse(const std::multimap<std::string, std::string>& params, const std::string& accept) {
    const auto p = only(params, "/api/history",
                        {"epc", "uri", "reader", "location", "type", "from", "to", "limit", "after", "format"});
    HistoryQuery q;
    if (p.count("format")) {
        const std::string& f = p.at("format");
        if (f != "json" && f != "csv") throw badRequest("format '" + f + "' must be json or csv");
        q.csv = f == "csv";
    } else {
        q.csv = accept.find("text/csv") != std::string::npos;
    }
    if (p.count("epc")) q.epc = epcParameter("epc", p.at("epc"));
    if (p.count("uri")) {
        q.uri = p.at("uri");
        if (q.uri.rfind("urn:epc:id:", 0) != 0 || q.uri.size() > 256 || q.uri.find_first_of(" \"") != std::string::npos)
            throw badRequest("uri '" + q.uri + "' is not a pure-identity URI (urn:epc:id:...)");
    }
    if (p.count("reader")) {
        q.reader = p.at("reader");
        if (!validName(q.reader)) throw badRequest("reader '" + q.reader + "' is not a reader name");
    }
    if (p.count("location")) {
        q.location = p.at("location");
        if (q.location.size() > 128 || std::any_of(q.location.begin(), q.location.end(),
                                                   [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
            throw badRequest("location '" + q.location + "' is not a location name");
    }
    if (p.count("type")) {
        q.type = p.at("type");
        const std::vector<std::string> types = eventTypeNames();
        if (std::find(types.begin(), types.end(), q.type) == types.end())
            throw badRequest("type '" + q.type + "' is not one of " + joined(types));
    }
    std::tie(q.fromMs, q.toMs) = range(p);
    if (p.count("limit")) q.limit = integer("limit", p.at("limit"), 1, q.csv ? std::int64_t(1) << 40 : kMaxPage);
    else if (!q.csv) q.limit = kPage;
    if (p.count("after")) {
        const std::string& a = p.at("after");
        const std::size_t dash = a.find('-');
        if (dash == std::string::npos || !allDigits(a.substr(0, dash)) || !allDigits(a.substr(dash + 1)))
            throw badRequest("after '" + a + "' is not a cursor: give the \"next\" of the page before");
        q.after = {std::stoll(a.substr(0, dash)), std::stoull(a.substr(dash + 1))};
    }
    return q;
}

std::vector<Visit> visitsOf(const std::vector<HistoryRow>& newestFirst, std::size_t limit) {
    // Read backwards, a depart (or a move away) is met before the arrive
    // that began its stay: each location counts the stays it is inside.
    struct Open {
        int depth = 0;
        Visit visit;
    };
    std::map<std::string, Open> open;
    std::vector<Visit> visits;
    auto addReader = [](Visit& v, const std::string& reader) {
        if (!reader.empty() && std::find(v.readers.begin(), v.readers.end(), reader) == v.readers.end())
            v.readers.push_back(reader);
    };
    auto closing = [&](const std::string& location, std::int64_t at, const std::string& reader) {
        Open& o = open[location];
        if (o.depth++ == 0) o.visit = Visit{location, std::nullopt, at, {}};
        addReader(o.visit, reader);
    };
    auto opening = [&](const std::string& location, std::int64_t at, const std::string& reader) {
        const auto it = open.find(location);
        if (it == open.end() || it->second.depth == 0) {
            // No depart after it: the tag is still there (or was when the range ends).
            visits.push_back(Visit{location, at, std::nullopt, {}});
            addReader(visits.back(), reader);
            return;
        }
        addReader(it->second.visit, reader);
        if (--it->second.depth > 0) return;
        it->second.visit.sinceMs = at;
        visits.push_back(std::move(it->second.visit));
        open.erase(it);
    };
    for (const HistoryRow& row : newestFirst) {
        // Parsed whole: a location's name may hold quotes and backslashes.
        const json event = json::parse(row.payload, nullptr, false);
        auto member = [&](const char* key) {
            return event.is_object() && event.contains(key) && event[key].is_string() ? event[key].get<std::string>()
                                                                                      : std::string();
        };
        const std::string type = member("type"), reader = member("reader");
        std::string location = member("location");
        if (location.empty()) location = reader;
        if (type == "depart") {
            closing(location, row.timeMs, reader);
        } else if (type == "arrive") {
            opening(location, row.timeMs, reader);
        } else if (type == "move") {
            opening(location, row.timeMs, reader);
            const std::string from = member("from");
            if (!from.empty()) closing(from, row.timeMs, reader);
        }
    }
    // Departed, and arrived before the first event read.
    for (auto& [location, o] : open)
        if (o.depth > 0) visits.push_back(std::move(o.visit));
    // Oldest first; a stay with no known start is older than its end.
    auto start = [](const Visit& v) { return v.sinceMs ? *v.sinceMs : v.untilMs ? *v.untilMs - 1 : INT64_MIN; };
    std::stable_sort(visits.begin(), visits.end(), [&](const Visit& a, const Visit& b) { return start(a) < start(b); });
    // Two readers of one location give it overlapping stays: they are one.
    std::vector<Visit> merged;
    std::map<std::string, std::size_t> last;  // location -> its latest stay in merged
    for (Visit& v : visits) {
        const auto at = last.find(v.location);
        if (at != last.end()) {
            Visit& m = merged[at->second];
            const bool overlaps = !m.untilMs || (v.sinceMs && *v.sinceMs <= *m.untilMs) || !v.sinceMs;
            if (overlaps) {
                if (!v.untilMs || !m.untilMs) m.untilMs.reset();
                else m.untilMs = std::max(*m.untilMs, *v.untilMs);
                for (const std::string& r : v.readers) addReader(m, r);
                continue;
            }
        }
        last[v.location] = merged.size();
        merged.push_back(std::move(v));
    }
    if (merged.size() > limit) merged.erase(merged.begin(), merged.end() - static_cast<std::ptrdiff_t>(limit));
    return merged;
}

// ---- reading ----

struct History::Connection {
    sqlite3* db = nullptr;
    std::int64_t deadlineMs = 0;
    ~Connection() { sqlite3_close(db); }
};

History::History(std::string spool) : spool_(std::move(spool)) {}

History::~History() = default;

std::unique_ptr<History::Connection> History::take() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!idle_.empty()) {
            std::unique_ptr<Connection> c = std::move(idle_.back());
            idle_.pop_back();
            return c;
        }
    }
    auto c = std::make_unique<Connection>();
    if (sqlite3_open_v2(spool_.c_str(), &c->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        throw HistoryError(500,
                           "history: cannot open " + spool_ + ": " + (c->db ? sqlite3_errmsg(c->db) : "out of memory"));
    sqlite3_busy_timeout(c->db, 1000);
    // Checked every thousand steps of the search: past its deadline it stops.
    sqlite3_progress_handler(
        c->db, 1000,
        [](void* self) { return morvent_common::steadyMs() > static_cast<Connection*>(self)->deadlineMs ? 1 : 0; },
        c.get());
    return c;
}

void History::give(std::unique_ptr<Connection> connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A few stay open for the next searches; a burst's extra ones close.
    if (idle_.size() < 4) idle_.push_back(std::move(connection));
}

std::vector<HistoryRow> History::rows(const std::string& sql, const std::vector<Value>& values) {
    std::unique_ptr<Connection> c = take();
    c->deadlineMs = morvent_common::steadyMs() + kQueryMs;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(c->db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
        throw HistoryError(500, std::string("history: ") + sqlite3_errmsg(c->db));
    int i = 0;
    for (const Value& v : values) {
        ++i;
        if (const auto* text = std::get_if<std::string>(&v))
            sqlite3_bind_text(s, i, text->c_str(), -1, SQLITE_TRANSIENT);
        else sqlite3_bind_int64(s, i, std::get<std::int64_t>(v));
    }
    std::vector<HistoryRow> out;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        HistoryRow row;
        row.seq = static_cast<std::uint64_t>(sqlite3_column_int64(s, 0));
        row.timeMs = sqlite3_column_int64(s, 1);
        if (const unsigned char* payload = sqlite3_column_text(s, 2))
            row.payload = reinterpret_cast<const char*>(payload);
        out.push_back(std::move(row));
    }
    const std::string why = sqlite3_errmsg(c->db);
    sqlite3_finalize(s);
    give(std::move(c));
    if (rc == SQLITE_INTERRUPT)
        throw HistoryError(503, "the search took longer than " + std::to_string(kQueryMs / 1000) +
                                    " s: narrow it by epc, uri, location, reader, type or a shorter time range");
    if (rc != SQLITE_DONE) throw HistoryError(500, "history: " + why);
    return out;
}

std::vector<HistoryRow> History::search(const HistoryQuery& q, std::size_t limit) {
    // The index of the narrowest filter given, named: the planner, without
    // statistics, could take the type's index for an EPC's search and read
    // millions of rows.
    const char* index = !q.epc.empty()        ? "history_epc"
                        : !q.uri.empty()      ? "history_uri"
                        : !q.location.empty() ? "history_location"
                        : !q.reader.empty()   ? "history_reader"
                        : !q.type.empty()     ? "history_type"
                                              : "history_time";
    std::string sql = std::string("SELECT seq, time_ms, payload FROM history INDEXED BY ") + index + " WHERE 1";
    std::vector<Value> values;
    for (const auto& [column, value] : {std::pair<const char*, const std::string&>{"epc", q.epc},
                                        {"uri", q.uri},
                                        {"location", q.location},
                                        {"reader", q.reader},
                                        {"type", q.type}})
        if (!value.empty()) sql += std::string(" AND ") + column + " = ?", values.push_back(value);
    if (q.fromMs) sql += " AND time_ms >= ?", values.push_back(*q.fromMs);
    if (q.toMs) sql += " AND time_ms < ?", values.push_back(*q.toMs);
    if (q.after) {
        sql += " AND (time_ms, seq) < (?, ?)";
        values.push_back(q.after->first);
        values.push_back(static_cast<std::int64_t>(q.after->second));
    }
    sql += " ORDER BY time_ms DESC, seq DESC LIMIT ?";
    values.push_back(static_cast<std::int64_t>(limit));
    return rows(sql, values);
}

std::vector<Visit> History::trail(const std::string& epc, std::optional<std::int64_t> fromMs,
                                  std::optional<std::int64_t> toMs, std::size_t limit,
                                  std::optional<std::int64_t>* lastSeenMs) {
    std::string range;
    std::vector<Value> values{epc};
    if (fromMs) range += " AND time_ms >= ?", values.push_back(*fromMs);
    if (toMs) range += " AND time_ms < ?", values.push_back(*toMs);
    const std::vector<HistoryRow> newest =
        rows("SELECT seq, time_ms, NULL FROM history INDEXED BY history_epc WHERE epc = ?" + range +
                 " ORDER BY time_ms DESC, seq DESC LIMIT 1",
             values);
    lastSeenMs->reset();
    if (!newest.empty()) *lastSeenMs = newest[0].timeMs;
    // The stays begin and end in the events other than reports; read enough
    // of them for `limit` whole stays (about two each), more while too few.
    values.push_back(std::int64_t(0));
    for (std::size_t wanted = 2 * limit + 8;; wanted *= 4) {
        values.back() = static_cast<std::int64_t>(wanted);
        const std::vector<HistoryRow> events = rows(
            "SELECT seq, time_ms, payload FROM history INDEXED BY history_trail WHERE epc = ? AND type <> 'report'" +
                range + " ORDER BY time_ms DESC, seq DESC LIMIT ?",
            values);
        std::vector<Visit> visits = visitsOf(events, SIZE_MAX);
        if (events.size() < wanted) {
            if (visits.size() > limit) visits.erase(visits.begin(), visits.end() - static_cast<std::ptrdiff_t>(limit));
            return visits;
        }
        // Cut off: a stay whose start was not read is older than every
        // whole one, and is not among the newest `limit` when they are enough.
        visits.erase(std::remove_if(visits.begin(), visits.end(), [](const Visit& v) { return !v.sinceMs; }),
                     visits.end());
        if (visits.size() >= limit) {
            visits.erase(visits.begin(), visits.end() - static_cast<std::ptrdiff_t>(limit));
            return visits;
        }
    }
}

// ---- HTTP ----

void History::install(httplib::Server& server) {
    server.Get("/api/history", [this](const httplib::Request& req, httplib::Response& res) {
        HistoryQuery query;
        try {
            query = HistoryQuery::parse(req.params, req.get_header_value("Accept"));
            if (!query.csv) {
                // One more than the page: whether there is a next one.
                std::vector<HistoryRow> page = search(query, static_cast<std::size_t>(query.limit) + 1);
                const bool more = page.size() > static_cast<std::size_t>(query.limit);
                if (more) page.pop_back();
                std::string out = "{\"events\":[";
                for (std::size_t i = 0; i < page.size(); ++i) out += (i ? "," : "") + page[i].payload;
                out += "],\"next\":" + (more ? "\"" + cursorText(page.back()) + "\"" : std::string("null")) + "}\n";
                res.set_content(out, "application/json");
                return;
            }
            // Read and sent a chunk at a time, each its own short search
            // after the last row sent: no read lasts as long as a slow
            // client takes, and memory holds one chunk.
            struct Export {
                HistoryQuery query;
                std::int64_t left = 0;  // rows still to send when limited
                bool started = false;
                std::vector<HistoryRow> first;
                std::size_t want() const {
                    return query.limit ? static_cast<std::size_t>(std::min<std::int64_t>(left, kChunk)) : kChunk;
                }
            };
            auto state = std::make_shared<Export>();
            state->query = query;
            state->left = query.limit;
            // The first chunk before the answer starts: a search that fails
            // at once is an error status, not an empty file.
            state->first = search(query, state->want());
            res.set_header("Content-Disposition", "attachment; filename=\"history.csv\"");
            res.set_chunked_content_provider(
                "text/csv; charset=utf-8", [this, state](std::size_t, httplib::DataSink& sink) {
                    std::string out;
                    const std::size_t asked = state->want();
                    std::vector<HistoryRow> chunk;
                    if (!state->started) {
                        for (const char* column : kColumns) out += std::string(out.empty() ? "" : ",") + column;
                        out += "\r\n";
                        chunk = std::move(state->first);
                        state->started = true;
                    } else {
                        try {
                            chunk = search(state->query, asked);
                        } catch (const HistoryError&) {
                            return false;  // cut off: the client sees an unfinished transfer, not a whole file
                        }
                    }
                    for (const HistoryRow& row : chunk) out += csvRow(row.payload);
                    if (!chunk.empty()) state->query.after = std::make_pair(chunk.back().timeMs, chunk.back().seq);
                    state->left -= static_cast<std::int64_t>(chunk.size());
                    if (!out.empty() && !sink.write(out.data(), out.size())) return false;
                    if (chunk.size() < asked || (state->query.limit && state->left == 0)) sink.done();
                    return true;
                });
        } catch (const HistoryError& e) {
            refuse(res, e);
        }
    });
    server.Get("/api/tags/([^/]+)/trail", [this](const httplib::Request& req, httplib::Response& res) {
        try {
            const std::string epc = epcParameter("the EPC", req.matches[1]);
            const auto p = only(req.params, "/api/tags/{epc}/trail", {"from", "to", "limit"});
            const auto [from, to] = range(p);
            const std::int64_t limit =
                p.count("limit") ? integer("limit", p.at("limit"), 1, HistoryQuery::kMaxPage) : HistoryQuery::kPage;
            std::optional<std::int64_t> lastSeen;
            const std::vector<Visit> visits = trail(epc, from, to, static_cast<std::size_t>(limit), &lastSeen);
            json j{{"epc", epc},
                   {"last_seen", lastSeen ? json(rfc3339(*lastSeen)) : json(nullptr)},
                   {"visits", json::array()}};
            for (const Visit& v : visits) j["visits"].push_back(visitJson(v));
            res.set_content(j.dump() + "\n", "application/json");
        } catch (const HistoryError& e) {
            refuse(res, e);
        }
    });
}

}  // namespace morventd

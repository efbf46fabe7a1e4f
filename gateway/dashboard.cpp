#include "gateway/dashboard.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "gateway/web_assets.h"
#include "morvent.hpp"

namespace morventd {

namespace {

using nlohmann::json;

constexpr int kOperationWaitMs = 5000;  // a reader operation answers within this, or 504

std::string errorJson(const std::string& message) { return json{{"error", message}}.dump() + "\n"; }

// The words of `text`, split at spaces.
std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

bool isHex(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// A field of `body`: hex with an even number of digits, at most `maxBytes`.
std::string hexField(const json& body, const char* key, std::size_t maxBytes, bool required, std::size_t multiple = 1) {
    if (!body.contains(key) || body[key].is_null()) {
        if (required) throw std::invalid_argument(std::string(key) + " is missing");
        return "-";
    }
    if (!body[key].is_string()) throw std::invalid_argument(std::string(key) + " must be a hex string");
    std::string s = body[key].get<std::string>();
    std::string compact;
    for (char c : s)
        if (c != ' ') compact += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (compact.empty() && !required) return "-";
    if (!isHex(compact) || compact.size() % (2 * multiple) != 0 || compact.size() / 2 > maxBytes)
        throw std::invalid_argument(std::string(key) + " '" + s + "' is not " +
                                    (multiple == 2 ? "whole words of hex" : "hex bytes") + " (at most " +
                                    std::to_string(maxBytes) + " bytes)");
    return compact;
}

// An access password: 8 hex digits, or none (all zeros).
std::string passwordField(const json& body) {
    const std::string p = hexField(body, "password", 4, false);
    if (p != "-" && p.size() != 8) throw std::invalid_argument("password must be 8 hex digits");
    return p;
}

long intField(const json& body, const char* key, long lo, long hi, long fallback, bool required) {
    if (!body.contains(key) || body[key].is_null()) {
        if (required) throw std::invalid_argument(std::string(key) + " is missing");
        return fallback;
    }
    if (!body[key].is_number_integer()) throw std::invalid_argument(std::string(key) + " must be a whole number");
    const long v = body[key].get<long>();
    if (v < lo || v > hi)
        throw std::invalid_argument(std::string(key) + " " + std::to_string(v) + " is out of range " +
                                    std::to_string(lo) + ".." + std::to_string(hi));
    return v;
}

// Refuses every key of `body` not in `known`, by name: a misspelt key would
// otherwise be taken for one left out.
void onlyKeys(const json& body, const std::string& operation, std::initializer_list<const char*> known) {
    for (const auto& [key, value] : body.items()) {
        if (std::any_of(known.begin(), known.end(), [&](const char* k) { return key == k; })) continue;
        std::string list;
        for (const char* k : known) list += (list.empty() ? "" : ", ") + std::string(k);
        throw std::invalid_argument("unknown key '" + key + "': " + operation + " takes " + list);
    }
}

// The tag a request addresses: its current EPC, or "any" for whichever tag
// answers. A change must name one or the other; a read may leave it out.
std::string tagField(const json& body, const std::string& operation, bool change) {
    bool any = false;
    if (body.contains("any") && !body["any"].is_null()) {
        if (!body["any"].is_boolean()) throw std::invalid_argument("any must be true or false");
        any = body["any"].get<bool>();
    }
    const std::string epc = hexField(body, "epc", 30, false, 2);
    if (epc != "-" && any) throw std::invalid_argument("give epc or \"any\": true, not both");
    if (epc != "-") return epc;
    if (!any && change)
        throw std::invalid_argument(operation + " changes a tag: give its current EPC as \"epc\", or \"any\": true " +
                                    "for whichever tag answers");
    return "any";
}

// The new EPC of a write-epc: hex words as `new_epc`, or a GS1 identity as
// `new_uri` (a pure-identity or tag URI) with an optional `filter` 0..7,
// encoded here, so that an identity that cannot be an EPC is refused (400)
// with the rule it breaks before anything reaches the reader.
std::string newEpcField(const json& body) {
    const auto given = [&](const char* key) { return body.contains(key) && !body[key].is_null(); };
    if (given("new_epc") && given("new_uri")) throw std::invalid_argument("give new_epc or new_uri, not both");
    if (!given("new_uri")) {
        if (given("filter")) throw std::invalid_argument("filter goes with new_uri");
        if (!given("new_epc"))
            throw std::invalid_argument("the new EPC is missing: give new_epc (hex words) or new_uri (a GS1 identity)");
        return hexField(body, "new_epc", 30, true, 2);
    }
    if (!body["new_uri"].is_string())
        throw std::invalid_argument("new_uri must be a string: urn:epc:id:... or urn:epc:tag:...");
    const std::string uri = body["new_uri"].get<std::string>();
    morvent::EpcOptions options;
    options.filter = static_cast<int>(intField(body, "filter", 0, 7, -1, false));
    try {
        return morvent::hex(morvent::encodeEpc(uri, options));
    } catch (const morvent::EpcError& e) {
        throw std::invalid_argument("new_uri '" + uri + "' cannot be encoded: " + e.what());
    }
}

std::string bankField(const json& body) {
    if (!body.contains("bank")) return "user";
    if (!body["bank"].is_string()) throw std::invalid_argument("bank must be reserved, epc, tid or user");
    const std::string b = body["bank"].get<std::string>();
    if (b != "reserved" && b != "epc" && b != "tid" && b != "user")
        throw std::invalid_argument("bank '" + b + "' is not reserved, epc, tid or user");
    return b;
}

std::string lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A Host header (or an origin's authority): its name, lower case without a
// trailing dot, and its port (80 when none is given). False when malformed.
bool splitAuthority(const std::string& text, std::string& name, int& port) {
    const std::string t = lowercase(text);
    const std::size_t end = t.empty() ? 0 : t[0] == '[' ? t.find(']') + 1 : t.rfind(':');
    if (t.empty() || end == 0) return false;  // none, or an unclosed '['
    name = t.substr(0, end);
    const std::string rest = end >= t.size() ? "" : t.substr(end);
    if (!name.empty() && name.back() == '.') name.pop_back();
    port = 80;
    if (rest.empty()) return !name.empty();
    if (rest[0] != ':' || rest.size() < 2 || rest.size() > 6 ||
        !std::all_of(rest.begin() + 1, rest.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return false;
    port = std::stoi(rest.substr(1));
    return !name.empty();
}

}  // namespace

Dashboard::Dashboard(const Config& config) : config_(config) {
    // The names this gateway answers to. Any other Host is a page that got
    // here by another name (DNS rebinding) or a misdirected request.
    hostNames_ = {lowercase(config.httpHost), config.httpAddress};
    if (config.httpLoopback()) hostNames_.insert("localhost");
    if (config.httpAddress == "0.0.0.0") {
        // Every interface: whatever address reaches it, and the machine's own names.
        anyAddress_ = true;
        hostNames_.insert("localhost");
        char name[256] = {};
        if (gethostname(name, sizeof name - 1) == 0 && name[0]) hostNames_.insert(lowercase(name));
    }
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot make the dashboard's pipe");
    for (const ReaderConfig& r : config.readers) {
        Reader& reader = readers_[r.name];
        reader.name = r.name;
        reader.link = r.link();
        reader.detail = "starting";
    }
}

Dashboard::~Dashboard() {
    close(wake_[0]);
    close(wake_[1]);
}

void Dashboard::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (auto& [id, p] : pending_)
        p->done = true, p->answer = Answer::refused(Outcome::Unavailable, "the gateway is stopping");
    changed_.notify_all();
}

// ---- state fed by the supervisor ----

void Dashboard::readerState(const std::string& name, ReaderState state, std::int64_t sinceMs,
                            const std::string& detail) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = readers_.find(name);
    if (it == readers_.end()) return;
    Reader& r = it->second;
    r.state = state;
    r.sinceMs = sinceMs;
    r.detail = detail;
    // What went wrong, by name; not the plain note naming the link it is reaching.
    if (state != ReaderState::Online && !detail.empty() && detail != "starting" && detail != r.link)
        r.lastError = detail;
    pushLocked("reader", readerJsonLocked(r, false));
}

// A tag in view is a reader's, or in location scope one at its location:
// the page keys its rows as the tags here are keyed, told by "scope".
void Dashboard::events(const std::vector<TagEvent>& events) {
    if (events.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    const bool byLocation = config_.scope == Scope::Location;
    for (const TagEvent& e : events) {
        json j{{"type", eventTypeName(e.type)},
               {"reader", e.reader},
               {"location", e.location.empty() ? e.reader : e.location},
               {"epc", e.epc},
               {"count", e.count},
               {"first_seen", rfc3339(e.firstSeenMs)},
               {"last_seen", rfc3339(e.lastSeenMs)}};
        if (!e.tid.empty()) j["tid"] = e.tid;
        if (!e.uri.empty()) j["uri"] = e.uri;
        if (e.type == EventType::Direction) {
            // A passage, not a tag in view.
            j["portal"] = e.portal;
            j["direction"] = e.in ? "in" : "out";
            pushLocked("direction", j.dump());
            continue;
        }
        j["scope"] = byLocation ? "location" : "reader";
        if (e.type == EventType::Move) j["from"] = e.from;
        const std::string key = byLocation ? e.epc : e.reader + " " + e.epc;
        if (e.type == EventType::Depart) {
            const auto it = tags_.find(key);
            if (it != tags_.end()) j["total"] = it->second.count;
            tags_.erase(key);
        } else {
            Tag& t = tags_[key];
            t.reader = e.reader;
            t.location = j["location"];
            t.epc = e.epc;
            if (!e.tid.empty()) t.tid = e.tid;
            t.uri = e.uri;
            // Moved: at the new location since its first read there.
            if (!t.firstSeenMs || e.type == EventType::Move) t.firstSeenMs = e.firstSeenMs;
            t.lastSeenMs = e.lastSeenMs;
            t.count += e.count;
            j["total"] = t.count;
        }
        pushLocked("tag", j.dump());
    }
}

void Dashboard::sample(std::int64_t nowMs, const std::map<std::string, Counters>& counters) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [name, c] : counters) {
        const auto it = readers_.find(name);
        if (it != readers_.end()) it->second.counters = c;
    }
    if (nowMs < nextSampleMs_) return;
    const double elapsedS = lastSampleMs_ ? static_cast<double>(nowMs - lastSampleMs_) / 1000.0 : 0;
    json rates = json::object();
    for (auto& [name, r] : readers_) {
        const std::uint64_t delta = r.counters.reads - std::min(r.sampledReads, r.counters.reads);
        r.rate = elapsedS > 0 ? static_cast<double>(delta) / elapsedS : 0;
        r.sampledReads = r.counters.reads;
        if (lastSampleMs_) {
            r.history.push_back(r.rate);
            while (r.history.size() > static_cast<std::size_t>(kHistoryS)) r.history.pop_front();
        }
        rates[name] = {{"rate", r.rate},
                       {"reads", r.counters.reads},
                       {"tags_in_view", r.counters.inView},
                       {"reconnects", r.counters.reconnects},
                       {"restarts", r.counters.restarts}};
    }
    if (lastSampleMs_) pushLocked("rates", json{{"at", rfc3339(nowMs)}, {"readers", rates}}.dump());
    lastSampleMs_ = nowMs;
    nextSampleMs_ = nowMs + 1000;
}

std::string Dashboard::readerJsonLocked(const Reader& r, bool history) const {
    json j{{"name", r.name},
           {"link", r.link},
           {"state", stateName(r.state)},
           {"since", r.sinceMs ? json(rfc3339(r.sinceMs)) : json(nullptr)},
           {"detail", r.detail},
           {"last_error", r.lastError.empty() ? json(nullptr) : json(r.lastError)},
           {"reads", r.counters.reads},
           {"reads_per_s", r.rate},
           {"tags_in_view", r.counters.inView},
           {"reconnects", r.counters.reconnects},
           {"restarts", r.counters.restarts}};
    if (history) j["history"] = r.history;
    return j.dump();
}

std::string Dashboard::tagsJsonLocked() const {
    json list = json::array();
    for (const auto& [key, t] : tags_) {
        json j{{"reader", t.reader},
               {"location", t.location},
               {"scope", config_.scope == Scope::Location ? "location" : "reader"},
               {"epc", t.epc},
               {"count", t.count},
               {"first_seen", rfc3339(t.firstSeenMs)},
               {"last_seen", rfc3339(t.lastSeenMs)}};
        if (!t.tid.empty()) j["tid"] = t.tid;
        if (!t.uri.empty()) j["uri"] = t.uri;
        list.push_back(std::move(j));
    }
    return list.dump();
}

void Dashboard::pushLocked(const std::string& event, const std::string& data) {
    const std::uint64_t id = nextMessage_++;
    messages_.emplace_back(id, "id: " + std::to_string(id) + "\nevent: " + event + "\ndata: " + data + "\n\n");
    while (messages_.size() > kBacklog) messages_.pop_front();
    changed_.notify_all();
}

// ---- operations ----

std::vector<Request> Dashboard::takeRequests() {
    char drain[256];
    while (read(wake_[0], drain, sizeof drain) > 0) {}
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Request> out;
    out.swap(requests_);
    return out;
}

void Dashboard::answer(const Answer& answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = pending_.find(answer.id);
    if (it == pending_.end()) return;  // its caller gave up waiting
    it->second->done = true;
    it->second->answer = answer;
    changed_.notify_all();
}

void Dashboard::failAll(const std::string& reader, const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [id, p] : pending_)
        if (p->reader == reader && !p->done) p->done = true, p->answer = Answer::refused(Outcome::Unavailable, why);
    changed_.notify_all();
}

std::string Dashboard::operate(const std::string& reader, const std::string& line, int* status) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto r = readers_.find(reader);
    if (r == readers_.end()) {
        *status = 404;
        return errorJson("no reader named '" + reader + "'");
    }
    if (r->second.state != ReaderState::Online) {
        *status = 503;
        return errorJson("reader " + reader + " is " + stateName(r->second.state) + ": " + r->second.detail);
    }
    const std::uint64_t id = nextRequest_++;
    auto pending = std::make_shared<Pending>();
    pending->reader = reader;
    pending_[id] = pending;
    requests_.push_back({id, reader, line});
    // Unchecked: a pipe too full for this byte wakes the loop all the same.
    const char c = 'r';
    ssize_t n = write(wake_[1], &c, 1);
    (void)n;
    const bool answered = changed_.wait_for(lock, std::chrono::milliseconds(kOperationWaitMs),
                                            [&] { return pending->done || stopping_; });
    pending_.erase(id);
    if (!answered || !pending->done) {
        *status = 504;
        return errorJson("reader " + reader + " did not answer within " + std::to_string(kOperationWaitMs / 1000) +
                         " s");
    }
    lock.unlock();
    return answerJson(line, pending->answer, status);
}

std::string Dashboard::requestLine(const std::string& operation, const std::string& body, std::string* error) {
    try {
        const json j = body.empty() ? json::object() : json::parse(body);
        if (!j.is_object()) throw std::invalid_argument("the body must be a JSON object");
        if (operation == "read") {
            onlyKeys(j, "tags/read", {"epc", "any", "bank", "pointer", "words", "password"});
            return "read " + tagField(j, "tags/read", false) + " " + bankField(j) + " " +
                   std::to_string(intField(j, "pointer", 0, 255, 0, false)) + " " +
                   std::to_string(intField(j, "words", 1, 120, 4, false)) + " " + passwordField(j);
        }
        if (operation == "write") {
            onlyKeys(j, "tags/write", {"epc", "any", "bank", "pointer", "data", "password"});
            return "write " + tagField(j, "tags/write", true) + " " + bankField(j) + " " +
                   std::to_string(intField(j, "pointer", 0, 255, 0, false)) + " " + hexField(j, "data", 240, true, 2) +
                   " " + passwordField(j);
        }
        if (operation == "write-epc") {
            onlyKeys(j, "tags/write-epc", {"epc", "any", "new_epc", "new_uri", "filter", "password"});
            return "write-epc " + tagField(j, "tags/write-epc", true) + " " + newEpcField(j) + " " + passwordField(j);
        }
        if (operation == "set") {
            onlyKeys(j, "settings", {"power", "scan_time", "region"});
            std::string line = "set";
            const long power = intField(j, "power", 0, 30, -1, false);
            const long scan = intField(j, "scan_time", 3, 255, -1, false);
            line += power < 0 ? " -" : " " + std::to_string(power);
            line += scan < 0 ? " -" : " " + std::to_string(scan);
            if (j.contains("region")) {
                const json& r = j["region"];
                if (!r.is_array() || r.size() != 2 || !r[0].is_number_integer() || !r[1].is_number_integer() ||
                    r[0].get<long>() < 0 || r[0].get<long>() > 255 || r[1].get<long>() < 0 || r[1].get<long>() > 255)
                    throw std::invalid_argument("region must be two numbers 0..255 (the region's bytes)");
                line += " " + std::to_string(r[0].get<long>()) + " " + std::to_string(r[1].get<long>());
            } else {
                line += " - -";
            }
            if (line == "set - - - -")
                throw std::invalid_argument("nothing to change: give power, scan_time or region");
            return line;
        }
        throw std::invalid_argument("unknown operation '" + operation + "'");
    } catch (const json::exception& e) {
        *error = std::string("the body is not JSON: ") + e.what();
    } catch (const std::exception& e) {
        *error = e.what();
    }
    return "";
}

std::string Dashboard::answerJson(const std::string& line, const Answer& answer, int* status) {
    const std::vector<std::string> request = words(line);
    const std::string operation = request.empty() ? "" : request[0];
    if (answer.outcome == Outcome::Done) {
        *status = 200;
        json j{{"ok", true}};
        const std::vector<std::string>& result = answer.result;
        // A change says which tag it changed, as the request named it.
        if ((operation == "write" || operation == "write-epc") && request.size() > 2) {
            if (request[1] == "any") j["any"] = true;
            else j["epc"] = request[1];
            if (operation == "write-epc") {
                j["new_epc"] = request[2];
                const std::string uri = epcUri(request[2]);
                if (!uri.empty()) j["new_uri"] = uri;
            }
        }
        if (operation == "read" && result.size() == 1) j["data"] = result[0];
        if (operation == "get" && result.size() == 4) {
            j["power"] = std::stoi(result[0]);
            j["scan_time"] = std::stoi(result[1]);
            j["region"] = {std::stoi(result[2]), std::stoi(result[3])};
        }
        return j.dump() + "\n";
    }
    json j{{"ok", false}, {"message", answer.message}};
    switch (answer.outcome) {
    case Outcome::Failed:
        j["error"] = MorventStatusName(answer.status);
        j["meaning"] = MorventStatusText(answer.status);
        j["status"] = answer.status;
        if (answer.tagError >= 0) {
            j["tag_error"] = MorventTagErrorName(answer.tagError);
            j["tag_meaning"] = MorventTagErrorText(answer.tagError);
        }
        *status = 502;  // the reader (or the tag) refused
        break;
    case Outcome::Unavailable: *status = 503; break;
    case Outcome::ActiveMode: *status = 409; break;
    default: *status = 400; break;
    }
    if (answer.outcome != Outcome::Failed) j["error"] = answer.message;
    return j.dump() + "\n";
}

int Dashboard::authorize(const std::string& authorization, std::string* message) const {
    if (config_.httpToken.empty()) {
        if (config_.httpLoopback()) return 0;
        *message = "changes are refused: the gateway listens beyond loopback and has no http_token";
        return 403;
    }
    if (authorization.empty()) {
        *message = "this request needs Authorization: Bearer <http_token>";
        return 401;
    }
    const std::string expected = "Bearer " + config_.httpToken;
    // Compared in constant time, so the token cannot be guessed from timing.
    unsigned diff = expected.size() != authorization.size();
    for (std::size_t i = 0; i < authorization.size(); ++i)
        diff |=
            static_cast<unsigned char>(authorization[i]) ^ static_cast<unsigned char>(expected[i % expected.size()]);
    if (diff) {
        *message = "wrong token";
        return 403;
    }
    return 0;
}

int Dashboard::admitHost(const std::string& host, std::string* message) const {
    std::string name;
    int port = 0;
    if (splitAuthority(host, name, port) && port == config_.httpPort) {
        in_addr probe{};
        if (hostNames_.count(name) || (anyAddress_ && inet_pton(AF_INET, name.c_str(), &probe) == 1)) return 0;
    }
    *message = (host.empty() ? std::string("a request without a Host header") : "Host '" + host + "'") +
               " is not this gateway's address; use http://" +
               (anyAddress_ ? std::string("<an address of this machine>") : config_.httpHost) + ":" +
               std::to_string(config_.httpPort) + "/";
    return 403;
}

int Dashboard::admitChange(const std::string& host, const std::string& origin, const std::string& contentType,
                           std::string* message) {
    // A browser names the page that sends a request; only the dashboard's
    // own pages (served from the Host the request went to) may change things.
    if (!origin.empty()) {
        std::string name, ownName;
        int port = 0, ownPort = 0;
        const bool same = lowercase(origin).rfind("http://", 0) == 0 && splitAuthority(origin.substr(7), name, port) &&
                          splitAuthority(host, ownName, ownPort) && name == ownName && port == ownPort;
        if (!same) {
            *message = "Origin '" + origin + "' is not this dashboard's (http://" + host +
                       "): changes from other sites are refused";
            return 403;
        }
    }
    // A page elsewhere can send text/plain or a form without asking first;
    // JSON it can only send after a preflight, which is never granted.
    const std::string type = lowercase(contentType.substr(0, contentType.find(';')));
    const std::size_t first = type.find_first_not_of(" \t"), last = type.find_last_not_of(" \t");
    if (first == std::string::npos || type.substr(first, last - first + 1) != "application/json") {
        *message = "a change needs Content-Type: application/json" +
                   (contentType.empty() ? std::string(" (none given)") : " (not '" + contentType + "')");
        return 415;
    }
    return 0;
}

// ---- HTTP ----

void Dashboard::install(httplib::Server& server) {
    server.set_payload_max_length(kMaxBody);
    // Every request, pages and GETs too, must be addressed to this gateway.
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        std::string message;
        const int status = admitHost(req.get_header_value("Host"), &message);
        if (!status) return httplib::Server::HandlerResponse::Unhandled;
        res.status = status;
        res.set_header("Connection", "close");  // its body, if any, was not read
        res.set_content(errorJson(message), "application/json");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.Get("/api/readers", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string out = "[";
        for (const auto& [name, r] : readers_) out += (out.size() > 1 ? "," : "") + readerJsonLocked(r, true);
        res.set_content(out + "]\n", "application/json");
    });
    server.Get("/api/tags", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex_);
        res.set_content(tagsJsonLocked() + "\n", "application/json");
    });
    server.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-cache");
        res.set_header("X-Accel-Buffering", "no");
        std::uint64_t from = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            from = nextMessage_;
            // A client that reconnects says where it was; what is still kept is sent again.
            const std::string last = req.get_header_value("Last-Event-ID");
            if (!last.empty()) {
                try {
                    const std::uint64_t id = std::stoull(last) + 1;
                    if (id < nextMessage_) from = id;
                } catch (const std::exception&) {}
            }
        }
        auto cursor = std::make_shared<std::uint64_t>(from);
        res.set_chunked_content_provider("text/event-stream", [this, cursor](std::size_t, httplib::DataSink& sink) {
            std::string out;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait_for(lock, std::chrono::seconds(10), [&] { return stopping_ || nextMessage_ > *cursor; });
                if (stopping_) {
                    sink.done();
                    return false;
                }
                for (const auto& [id, text] : messages_)
                    if (id >= *cursor) out += text;
                *cursor = nextMessage_;
            }
            if (out.empty()) out = ": still here\n\n";  // also finds clients that went away
            return sink.write(out.data(), out.size());
        });
    });
    server.Get("/api/readers/([^/]+)/settings", [this](const httplib::Request& req, httplib::Response& res) {
        int status = 500;
        res.set_content(operate(req.matches[1], "get", &status), "application/json");
        res.status = status;
    });
    auto change = [this](const httplib::Request& req, httplib::Response& res, const std::string& operation) {
        std::string message;
        int status = admitChange(req.get_header_value("Host"), req.get_header_value("Origin"),
                                 req.get_header_value("Content-Type"), &message);
        if (!status) status = authorize(req.get_header_value("Authorization"), &message);
        if (status) {
            if (status == 401) res.set_header("WWW-Authenticate", "Bearer");
            res.status = status;
            res.set_content(errorJson(message), "application/json");
            return;
        }
        const std::string line = requestLine(operation, req.body, &message);
        if (line.empty()) {
            res.status = 400;
            res.set_content(errorJson(message), "application/json");
            return;
        }
        res.set_content(operate(req.matches[1], line, &status), "application/json");
        res.status = status;
    };
    server.Put("/api/readers/([^/]+)/settings",
               [change](const httplib::Request& req, httplib::Response& res) { change(req, res, "set"); });
    server.Post("/api/readers/([^/]+)/tags/(read|write|write-epc)",
                [change](const httplib::Request& req, httplib::Response& res) { change(req, res, req.matches[2]); });
    server.Get("/api/config", [this](const httplib::Request&, httplib::Response& res) {
        json j{{"gateway", config_.id},
               {"writes", config_.httpToken.empty() ? (config_.httpLoopback() ? "open" : "refused") : "token"},
               {"event_types", eventTypeNames()}};
        res.set_content(j.dump() + "\n", "application/json");
    });
    server.Get("/(|index.html|[a-z]+\\.(?:js|css|svg))", [](const httplib::Request& req, httplib::Response& res) {
        const std::string path = req.matches[1].str().empty() ? "index.html" : req.matches[1].str();
        const WebFile* file = webFile(path);
        if (!file) {
            res.status = 404;
            res.set_content("not found\n", "text/plain");
            return;
        }
        res.set_content(file->data, file->size, file->type);
    });
}

}  // namespace morventd

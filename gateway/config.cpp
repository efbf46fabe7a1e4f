#include "gateway/config.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <map>
#include <set>
#include <sstream>

#include <toml++/toml.h>

#include "morvent.h"

namespace morventd {

namespace {

class Checker {
public:
    explicit Checker(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void fail(const toml::node* node, const std::string& message) const {
        std::string where = file_;
        if (node && node->source().begin.line) where += ":" + std::to_string(node->source().begin.line);
        throw ConfigError(where + ": " + message);
    }

    // Refuses every key of `table` not in `known`; a table is called a table
    // by its header, as the file spells it (`path`: the enclosing table's).
    void onlyKeys(const toml::table& table, const std::string& section, std::initializer_list<const char*> known,
                  const std::string& path = "") const {
        for (const auto& [key, node] : table) {
            const bool ok = std::any_of(known.begin(), known.end(), [&](const char* k) { return key.str() == k; });
            if (ok) continue;
            const std::string name = path + std::string(key.str());
            if (node.is_table()) fail(&node, "unknown table [" + name + "]");
            if (node.is_array_of_tables()) fail(&node, "unknown table [[" + name + "]]");
            fail(&node, "unknown key '" + std::string(key.str()) + "' in " + section);
        }
    }

    const toml::table* table(const toml::table& root, const char* key) const {
        const toml::node* node = root.get(key);
        if (!node) return nullptr;
        if (!node->is_table()) fail(node, std::string("'") + key + "' must be a table");
        return node->as_table();
    }

    void text(const toml::table& t, const char* key, std::string& out) const {
        if (const toml::node* n = t.get(key)) {
            if (!n->is_string()) fail(n, std::string("'") + key + "' must be a string");
            out = n->value<std::string>().value();
        }
    }
    void flag(const toml::table& t, const char* key, bool& out) const {
        if (const toml::node* n = t.get(key)) {
            if (!n->is_boolean()) fail(n, std::string("'") + key + "' must be true or false");
            out = *n->value<bool>();
        }
    }
    template <typename T>
    void integer(const toml::table& t, const char* key, T& out, std::int64_t lo, std::int64_t hi) const {
        if (const toml::node* n = t.get(key)) {
            if (!n->is_integer()) fail(n, std::string("'") + key + "' must be a whole number");
            const std::int64_t v = *n->value<std::int64_t>();
            if (v < lo || v > hi)
                fail(n, std::string("'") + key + "' must lie in " + std::to_string(lo) + ".." + std::to_string(hi));
            out = static_cast<T>(v);
        }
    }
    void seconds(const toml::table& t, const char* key, double& out, double lo) const {
        if (const toml::node* n = t.get(key)) {
            if (!n->is_number()) fail(n, std::string("'") + key + "' must be a number of seconds");
            const double v = *n->value<double>();
            if (!(v >= lo) || !std::isfinite(v))
                fail(n,
                     std::string("'") + key + "' must be at least " + numberText(lo) + " (not " + numberText(v) + ")");
            out = v;
        }
    }

    // A number as a person writes it: 0.01, not 0.010000.
    static std::string numberText(double v) {
        std::ostringstream out;
        out << std::setprecision(15) << v;
        return out.str();
    }

private:
    std::string file_;
};

constexpr const char* kPlaceRule = "must be 1 to 64 bytes of text without control characters";

// A name as host names are written: letters, digits, '-' and '.'. Digits
// and dots alone are an address, which inet_pton judges.
bool hostName(const std::string& host) {
    const auto nameChar = [](char ch) {
        return std::isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '.';
    };
    const auto addressChar = [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)) || ch == '.'; };
    return !host.empty() && host.size() <= 253 && host.front() != '-' && host.front() != '.' &&
           std::all_of(host.begin(), host.end(), nameChar) && !std::all_of(host.begin(), host.end(), addressChar);
}

// "host:port", the host not empty.
bool splitHostPort(const std::string& text, std::string& host, int& port, int minPort) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    host = text.substr(0, colon);
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) return false;
    port = std::stoi(digits);
    return port >= minPort && port <= 65535;
}

// "host:port" with a dotted IPv4 host, or with `names` a host name, which
// is looked up whenever the link opens.
bool splitAddress(const std::string& text, std::string& host, int& port, int minPort, bool names = false) {
    in_addr probe{};
    return splitHostPort(text, host, port, minPort) &&
           (inet_pton(AF_INET, host.c_str(), &probe) == 1 || (names && hostName(host)));
}

// The IPv4 address of `host` (a dotted address or a name), looked up by the
// core as reader links are; or "" and *why, which follows the host's name.
// IPv4 only, since the listener is an IPv4 socket: "localhost" gives 127.0.0.1.
std::string ipv4Of(const std::string& host, std::string* why) {
    char address[16];
    const int status = MorventResolveHost(host.c_str(), address);
    if (status == MORVENT_OK) return address;
    // Digits and dots that are not four numbers are refused unlooked-up: the
    // system would take "10.1.5" for 10.1.0.5, another machine's address.
    const bool dotted = host.find_first_not_of("0123456789.") == std::string::npos;
    *why = status == MORVENT_COMM_ERROR ? "cannot be looked up: the name service did not answer"
           : dotted                     ? "is not an IPv4 address (four numbers a.b.c.d)"
                                        : "has no IPv4 address (no such host, or IPv6 only)";
    return "";
}

bool hexBytes(const std::string& text, std::vector<std::uint8_t>& out) {
    if (text.size() % 2) return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            return false;
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return true;
}

void readReader(const Checker& c, const toml::table& t, const toml::node* where, ReaderConfig& r) {
    c.onlyKeys(t, "[[reader]]",
               {"name", "tcp", "com", "serial", "baud", "address", "mode", "tid", "tid_address", "tid_length",
                "mask_bank", "mask_address", "mask_bits", "mask", "poll_interval_ms", "location"},
               "reader.");
    c.text(t, "name", r.name);
    if (r.name.empty()) c.fail(where, "[[reader]] needs a name");
    if (!validName(r.name))
        c.fail(t.get("name"), "reader name '" + r.name + "': use letters, digits, '-', '_' and '.'");
    c.text(t, "location", r.location);
    if (t.get("location") && !validPlaceName(r.location))
        c.fail(t.get("location"), "reader '" + r.name + "': location '" + r.location + "' " + kPlaceRule);
    if (r.location.empty()) r.location = r.name;  // a location of its own
    std::string tcp, mode = "poll";
    c.text(t, "tcp", tcp);
    c.integer(t, "com", r.com, 1, 255);
    c.text(t, "serial", r.device);
    const int links = !tcp.empty() + (r.com != 0) + !r.device.empty();
    if (links != 1) c.fail(where, "reader '" + r.name + "' needs exactly one of tcp, com or serial");
    if (!tcp.empty() && !splitAddress(tcp, r.host, r.tcpPort, 1024, true))
        c.fail(t.get("tcp"), "reader '" + r.name + "': tcp '" + tcp +
                                 "' is not HOST:PORT (a host name or IPv4 address, PORT 1024..65535)");
    if (!r.device.empty() && r.device.front() != '/')
        c.fail(t.get("serial"), "serial: give the device's absolute path");
    c.integer(t, "baud", r.baud, 0, 115200);
    if (t.get("baud") && tcp.empty() == false) c.fail(t.get("baud"), "baud applies to serial readers only");
    static const int rates[] = {9600, 19200, 38400, 57600, 115200};
    if (std::find(std::begin(rates), std::end(rates), r.baud) == std::end(rates))
        c.fail(t.get("baud"), "baud must be 9600, 19200, 38400, 57600 or 115200");
    c.integer(t, "address", r.address, 0, 255);
    c.text(t, "mode", mode);
    if (mode != "poll" && mode != "active") c.fail(t.get("mode"), "mode must be \"poll\" or \"active\"");
    r.active = mode == "active";
    c.flag(t, "tid", r.tid);
    c.integer(t, "tid_address", r.tidAddress, 0, 255);
    c.integer(t, "tid_length", r.tidLength, 1, 15);
    c.integer(t, "poll_interval_ms", r.pollIntervalMs, 0, 60000);
    if (const toml::node* n = t.get("mask")) {
        std::string hex;
        c.text(t, "mask", hex);
        if (!hexBytes(hex, r.maskBytes) || r.maskBytes.empty() || r.maskBytes.size() > 32)
            c.fail(n, "mask must be 1 to 32 bytes of hex");
        r.mask = true;
        r.maskBits = static_cast<std::uint8_t>(std::min<std::size_t>(255, r.maskBytes.size() * 8));
        if (const toml::node* bank = t.get("mask_bank"); bank && bank->is_string()) {
            static const char* const banks[] = {"reserved", "epc", "tid", "user"};
            const auto name = bank->value<std::string>().value();
            const auto at = std::find(std::begin(banks), std::end(banks), name);
            if (at == std::end(banks)) c.fail(bank, "mask_bank must be reserved, epc, tid or user");
            r.maskBank = static_cast<std::uint8_t>(at - banks);
        } else {
            c.integer(t, "mask_bank", r.maskBank, 0, 3);
        }
        c.integer(t, "mask_address", r.maskAddress, 0, 65535);
        c.integer(t, "mask_bits", r.maskBits, 1, 255);
        if ((r.maskBits + 7u) / 8u != r.maskBytes.size())
            c.fail(t.get("mask_bits"), "mask_bits does not match the mask's length");
    } else if (t.get("mask_bank") || t.get("mask_address") || t.get("mask_bits")) {
        c.fail(where, "mask_bank, mask_address and mask_bits need a mask");
    }
}

// Location and portal names become topic levels: two names whose levels
// differ only in case are refused too, being far likelier a slip than two
// places.
class TopicLevels {
public:
    explicit TopicLevels(const char* kind) : kind_(kind) {}
    // Notes `name`; "" when it is new or noted already, else why it clashes.
    std::string clash(const std::string& name) {
        const std::string level = topicLevel(name);
        std::string folded = level;
        for (char& ch : folded) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        const auto [it, fresh] = names_.emplace(folded, name);
        if (fresh || it->second == name) return "";
        return kind_ + std::string(" '") + name + "' would share its topic with " + kind_ + " '" + it->second + "' (" +
               kind_ + "s/" + level + "): rename one; topics keep letters, digits, '-', '_', '.' and non-ASCII " +
               "characters, every other run of characters becomes '_', and case does not tell names apart";
    }

private:
    const char* kind_;
    std::map<std::string, std::string> names_;  // folded topic level -> the first name with it
};

void readPortal(const Checker& c, const toml::table& t, const toml::node* where, const std::set<std::string>& locations,
                Portal& p) {
    c.onlyKeys(t, "[[portal]]", {"name", "outside", "inside", "window_s"}, "portal.");
    c.text(t, "name", p.name);
    if (!t.get("name")) c.fail(where, "[[portal]] needs a name");
    if (!validPlaceName(p.name)) c.fail(t.get("name"), "portal name '" + p.name + "' " + kPlaceRule);
    for (const char* side : {"outside", "inside"}) {
        std::string& location = side[0] == 'o' ? p.outside : p.inside;
        c.text(t, side, location);
        if (!t.get(side)) c.fail(where, "portal '" + p.name + "' needs " + side + " (a location)");
        if (locations.count(location)) continue;
        std::string known;
        for (const std::string& l : locations) known += (known.empty() ? "" : ", ") + l;
        c.fail(t.get(side), "portal '" + p.name + "': " + side + " '" + location +
                                "' is no location (the locations are " + known + ")");
    }
    if (p.outside == p.inside)
        c.fail(t.get("inside"), "portal '" + p.name + "': outside and inside are both '" + p.inside + "'");
    double windowS = 5;
    c.seconds(t, "window_s", windowS, 0.05);
    p.windowMs = static_cast<std::int64_t>(windowS * 1000);
}

// A serial device named by more than one reader is an RS-485 bus: one line
// speed, and each reader answering to an address of its own. `r` joins the
// bus whose first reader is readers[first].
void checkBus(const Checker& c, const std::vector<ReaderConfig>& readers, std::size_t first, const ReaderConfig& r,
              const toml::table& t, const toml::node* where) {
    const ReaderConfig& f = readers[first];
    const std::string both = "readers '" + f.name + "' and '" + r.name + "' share " + r.port();
    if (!r.serial())
        c.fail(where, "reader '" + r.name + "': " + r.port() + " is already used by reader '" + f.name + "'");
    if (r.baud != f.baud)
        c.fail(t.get("baud") ? t.get("baud") : where, both + " at " + std::to_string(f.baud) + " and " +
                                                          std::to_string(r.baud) + " baud: a bus has one line speed");
    if (r.active || f.active)
        c.fail(t.get("mode") && r.active ? t.get("mode") : where,
               both + ": mode = \"active\" needs a device of its own (active readers on a bus talk over each other)");
    if (r.address == 0xFF || f.address == 0xFF)
        c.fail(t.get("address") ? t.get("address") : where,
               both + ": give each an address 0..254 of its own (255 reaches every reader on the bus)");
    for (std::size_t i = first; i < readers.size(); ++i)
        if (readers[i].port() == r.port() && readers[i].address == r.address)
            c.fail(t.get("address"), "reader '" + r.name + "': address " + std::to_string(r.address) + " on " +
                                         r.port() + " is already reader '" + readers[i].name + "'");
}

}  // namespace

bool validName(const std::string& name) {
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char ch) {
        return std::isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '_' || ch == '.';
    });
}

bool validPlaceName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto u = static_cast<unsigned char>(name[i]);
        // C0 controls and DEL; C1 controls, U+0080..U+009F, are C2 80..C2 9F in UTF-8.
        if (u < 0x20 || u == 0x7F) return false;
        if (u == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) <= 0x9F) return false;
    }
    return true;
}

const ReaderConfig* Config::reader(const std::string& name) const {
    for (const ReaderConfig& r : readers)
        if (r.name == name) return &r;
    return nullptr;
}

Config parseConfig(const std::string& text, const std::string& file) {
    Checker c(file);
    toml::table root;
    try {
        root = toml::parse(text, file);
    } catch (const toml::parse_error& e) {
        throw ConfigError(file + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
    }
    Config cfg;
    cfg.file = file;
    c.onlyKeys(root, "the file", {"gateway", "mqtt", "events", "spool", "history", "reader", "portal"});

    const toml::table* gw = c.table(root, "gateway");
    if (!gw) c.fail(nullptr, "missing [gateway] with its id");
    c.onlyKeys(*gw, "[gateway]", {"id", "spool", "http", "http_token"}, "gateway.");
    c.text(*gw, "id", cfg.id);
    if (!validName(cfg.id))
        c.fail(gw->get("id") ? gw->get("id") : gw,
               "gateway id '" + cfg.id + "': use letters, digits, '-', '_' and '.'");
    c.text(*gw, "spool", cfg.spool);
    if (cfg.spool.empty()) c.fail(gw->get("spool"), "spool must name a file");
    std::string http = "127.0.0.1:8780";
    c.text(*gw, "http", http);
    if (http.empty()) {
        cfg.httpPort = 0;
    } else if (!splitHostPort(http, cfg.httpHost, cfg.httpPort, 1)) {
        c.fail(gw->get("http"), "http '" + http + "' is not HOST:PORT (or \"\" to turn it off)");
    } else {
        std::string why;
        cfg.httpAddress = ipv4Of(cfg.httpHost, &why);
        if (cfg.httpAddress.empty()) c.fail(gw->get("http"), "http '" + http + "': " + cfg.httpHost + " " + why);
    }
    c.text(*gw, "http_token", cfg.httpToken);

    if (const toml::table* m = c.table(root, "mqtt")) {
        c.onlyKeys(*m, "[mqtt]",
                   {"url", "prefix", "username", "password", "ca_file", "client_id", "keepalive_s", "inflight"},
                   "mqtt.");
        std::string url = "mqtt://127.0.0.1:1883";
        c.text(*m, "url", url);
        std::string rest;
        if (url.rfind("mqtt://", 0) == 0) rest = url.substr(7);
        else if (url.rfind("mqtts://", 0) == 0) rest = url.substr(8), cfg.mqttTls = true;
        else c.fail(m->get("url"), "url must start with mqtt:// or mqtts://");
        if (rest.find(':') == std::string::npos) rest += cfg.mqttTls ? ":8883" : ":1883";
        const auto colon = rest.rfind(':');
        cfg.mqttHost = rest.substr(0, colon);
        const std::string port = rest.substr(colon + 1);
        if (cfg.mqttHost.empty() || port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), ::isdigit) || (cfg.mqttPort = std::stoi(port)) < 1 ||
            cfg.mqttPort > 65535)
            c.fail(m->get("url"), "url '" + url + "' needs a host and a port 1..65535");
        c.text(*m, "prefix", cfg.prefix);
        if (cfg.prefix.empty() || cfg.prefix.find_first_of("+#") != std::string::npos || cfg.prefix.back() == '/')
            c.fail(m->get("prefix"), "prefix must be a topic without '+', '#' or a trailing '/'");
        c.text(*m, "username", cfg.username);
        c.text(*m, "password", cfg.password);
        c.text(*m, "ca_file", cfg.caFile);
        if (!cfg.caFile.empty() && !std::ifstream(cfg.caFile))
            c.fail(m->get("ca_file"), "ca_file '" + cfg.caFile + "' cannot be read");
        if (cfg.mqttTls && cfg.caFile.empty()) c.fail(m->get("url"), "mqtts:// needs ca_file");
        if (!cfg.password.empty() && cfg.username.empty()) c.fail(m->get("password"), "password needs a username");
        c.text(*m, "client_id", cfg.clientId);
        c.integer(*m, "keepalive_s", cfg.keepaliveS, 5, 3600);
        c.integer(*m, "inflight", cfg.inflight, 1, 65535);
    }
    if (cfg.clientId.empty()) cfg.clientId = "morventd-" + cfg.id;

    if (const toml::table* e = c.table(root, "events")) {
        c.onlyKeys(*e, "[events]",
                   {"report_every_s", "depart_after_s", "arrive_after_reads", "scope", "move_hysteresis_s"}, "events.");
        c.seconds(*e, "report_every_s", cfg.reportEveryS, 0.01);
        c.seconds(*e, "depart_after_s", cfg.departAfterS, 0.05);
        c.integer(*e, "arrive_after_reads", cfg.arriveAfterReads, 1, 1000000);
        std::string scope = "reader";
        c.text(*e, "scope", scope);
        if (scope != "reader" && scope != "location")
            c.fail(e->get("scope"), "scope must be \"reader\" or \"location\"");
        cfg.scope = scope == "location" ? Scope::Location : Scope::Reader;
        c.seconds(*e, "move_hysteresis_s", cfg.moveHysteresisS, 0);
        // A tag quiet where it is departs after depart_after_s: it could never move.
        if (cfg.scope == Scope::Location && cfg.moveHysteresisS >= cfg.departAfterS)
            c.fail(e->get("move_hysteresis_s") ? e->get("move_hysteresis_s") : e->get("depart_after_s"),
                   "move_hysteresis_s (" + Checker::numberText(cfg.moveHysteresisS) +
                       ") must be shorter than depart_after_s (" + Checker::numberText(cfg.departAfterS) +
                       "): a tag would depart before it could move");
    }
    if (const toml::table* s = c.table(root, "spool")) {
        c.onlyKeys(*s, "[spool]", {"max_events", "commit_ms"}, "spool.");
        c.integer(*s, "max_events", cfg.maxEvents, 100, std::int64_t(1) << 40);
        c.integer(*s, "commit_ms", cfg.commitMs, 1, 1000);
    }
    if (const toml::table* h = c.table(root, "history")) {
        c.onlyKeys(*h, "[history]", {"keep_days", "max_events"}, "history.");
        if (const toml::node* n = h->get("keep_days")) {
            // A number of days: 0.5 keeps twelve hours; a hundred years at most.
            const std::optional<double> days = n->value<double>();
            if (!n->is_number() || !days || !(*days > 0) || *days > 36500)
                c.fail(n, "'keep_days' must be a number of days above 0, at most 36500");
            cfg.historyKeepDays = *days;
        }
        c.integer(*h, "max_events", cfg.historyMaxEvents, 0, std::int64_t(1) << 40);
    }

    const toml::node* readers = root.get("reader");
    if (!readers) c.fail(nullptr, "no [[reader]]: nothing to read");
    if (!readers->is_array_of_tables()) c.fail(readers, "reader must be given as [[reader]] tables");
    std::set<std::string> names, locations;
    std::map<std::string, std::size_t> ports;  // port -> its first reader
    TopicLevels locationLevels("location");
    for (const toml::node& node : *readers->as_array()) {
        ReaderConfig r;
        const toml::table& t = *node.as_table();
        readReader(c, t, &node, r);
        if (!names.insert(r.name).second) c.fail(&node, "duplicate reader name '" + r.name + "'");
        const auto [first, alone] = ports.emplace(r.port(), cfg.readers.size());
        if (!alone) checkBus(c, cfg.readers, first->second, r, t, &node);
        const std::string clash = locationLevels.clash(r.location);
        if (!clash.empty()) c.fail(t.get("location") ? t.get("location") : &node, "reader '" + r.name + "': " + clash);
        locations.insert(r.location);
        cfg.readers.push_back(std::move(r));
    }

    if (const toml::node* portals = root.get("portal")) {
        if (!portals->is_array_of_tables()) c.fail(portals, "portal must be given as [[portal]] tables");
        TopicLevels portalLevels("portal");
        for (const toml::node& node : *portals->as_array()) {
            Portal p;
            readPortal(c, *node.as_table(), &node, locations, p);
            if (std::any_of(cfg.portals.begin(), cfg.portals.end(), [&](const Portal& q) { return q.name == p.name; }))
                c.fail(&node, "duplicate portal name '" + p.name + "'");
            const std::string clash = portalLevels.clash(p.name);
            if (!clash.empty()) c.fail(node.as_table()->get("name"), clash);
            cfg.portals.push_back(std::move(p));
        }
    }
    return cfg;
}

std::vector<std::vector<const ReaderConfig*>> Config::links() const {
    std::vector<std::vector<const ReaderConfig*>> out;
    for (const ReaderConfig& r : readers) {
        const auto same = std::find_if(out.begin(), out.end(), [&](const auto& l) { return l[0]->port() == r.port(); });
        if (same == out.end()) out.push_back({&r});
        else same->push_back(&r);
    }
    return out;
}

Config loadConfig(const std::string& file) {
    std::ifstream in(file);
    if (!in) throw ConfigError(file + ": cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    return parseConfig(text.str(), file);
}

std::string Config::summary() const {
    std::ostringstream out;
    out << "gateway " << id << ": spool " << spool << " (at most " << maxEvents << " events, commits every " << commitMs
        << " ms)\n";
    out << "mqtt " << (mqttTls ? "mqtts://" : "mqtt://") << mqttHost << ":" << mqttPort << " as " << clientId
        << (username.empty() ? "" : " user " + username) << ", topics " << prefix << "/" << id << "/...\n";
    if (!httpPort) {
        out << "http off\n";
    } else {
        out << "http " << httpHost << ":" << httpPort << (httpHost != httpAddress ? " (" + httpAddress + ")" : "")
            << (httpToken.empty()
                    ? ", writes " + std::string(httpLoopback() ? "open (loopback only)" : "refused (no http_token)")
                    : ", writes need the token")
            << "\n";
    }
    if (historyMaxEvents)
        out << "history: kept " << historyKeepDays << " days, at most " << historyMaxEvents << " events\n";
    else out << "history off (max_events = 0)\n";
    out << "events: arrive after " << arriveAfterReads << " read(s), report every " << reportEveryS
        << " s, depart after " << departAfterS << " s, "
        << (scope == Scope::Location ? "by location (move hysteresis " + Checker::numberText(moveHysteresisS) +
                                           " s), topics " + prefix + "/" + id + "/locations/<location>/events"
                                     : std::string("by reader"))
        << "\n";
    for (const std::vector<const ReaderConfig*>& link : links()) {
        const bool bus = link.size() > 1;
        if (bus)
            out << "bus " << link[0]->link() << ": one worker taking turns between " << link.size() << " readers\n";
        for (const ReaderConfig* r : link) {
            out << (bus ? "  reader " : "reader ") << r->name << ": " << (bus ? "" : r->link() + ", ");
            if (r->address != 0xFF) out << "address " << int(r->address) << ", ";
            out << (r->active ? "active" : "poll") << " mode";
            if (r->tid) out << ", tid words " << int(r->tidAddress) << "+" << int(r->tidLength);
            if (r->mask)
                out << ", mask bank " << int(r->maskBank) << " bit " << r->maskAddress << " length "
                    << int(r->maskBits);
            if (r->location != r->name) out << ", at " << r->location;
            out << "\n";
        }
    }
    for (const Portal& p : portals)
        out << "portal " << p.name << ": in from " << p.outside << " to " << p.inside << " within "
            << Checker::numberText(static_cast<double>(p.windowMs) / 1000) << " s, topic " << prefix << "/" << id
            << "/portals/" << topicLevel(p.name) << "/events\n";
    return out.str();
}

bool Config::httpLoopback() const { return httpAddress.rfind("127.", 0) == 0; }

}  // namespace morventd

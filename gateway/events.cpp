#include "gateway/events.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace morventd {

const char* eventTypeName(EventType type) {
    switch (type) {
    case EventType::Arrive: return "arrive";
    case EventType::Report: return "report";
    case EventType::Depart: return "depart";
    }
    return "?";
}

std::vector<std::string> eventTypeNames() {
    // Those eventTypeName knows, up to the first it does not: a type added
    // to the enum and named there is listed with no more to do.
    std::vector<std::string> out;
    for (int i = 0;; ++i) {
        const std::string name = eventTypeName(static_cast<EventType>(i));
        if (name == "?") return out;
        out.push_back(name);
    }
}

TagEvent EventTracker::make(const Tag& tag, EventType type) const {
    TagEvent e;
    e.reader = reader_;
    e.type = type;
    e.epc = tag.epc;
    e.tid = tag.tid;
    e.count = tag.reads;
    e.firstSeenMs = tag.firstSeenMs;
    e.lastSeenMs = tag.lastSeenMs;
    return e;
}

// A tag that leaves Clean is listed for the next full take; one owed to an
// event for the next take of any kind, and stays owed until then.
void EventTracker::mark(const std::string& key, Tag& tag, Stored how) {
    if (tag.stored == how || tag.stored == Stored::Owed) return;
    if (tag.stored == Stored::Clean) stale_.push_back(key);
    if (how == Stored::Owed) owed_.push_back(key);
    tag.stored = how;
}

void EventTracker::read(const std::string& epc, const std::string& tid, std::int64_t atMs, std::vector<TagEvent>& out) {
    std::string key = epc;
    if (!tid.empty()) key += "/" + tid;
    auto [it, fresh] = tags_.try_emplace(std::move(key));
    Tag& tag = it->second;
    if (fresh) {
        tag.epc = epc;
        tag.tid = tid;
        tag.firstSeenMs = atMs;
        stale_.push_back(it->first);
    }
    tag.lastSeenMs = std::max(tag.lastSeenMs, atMs);
    ++tag.reads;
    if (!tag.arrived && tag.reads >= static_cast<std::uint64_t>(rules_.arriveAfterReads)) {
        tag.arrived = true;
        out.push_back(make(tag, EventType::Arrive));
    } else if (tag.arrived && atMs - tag.lastEventMs >= rules_.reportEveryMs) {
        out.push_back(make(tag, EventType::Report));
    } else {
        mark(it->first, tag, Stored::Stale);  // counted only
        return;
    }
    tag.lastEventMs = atMs;
    tag.reads = 0;
    mark(it->first, tag, Stored::Owed);
}

void EventTracker::tick(std::int64_t nowMs, std::vector<TagEvent>& out) {
    // A sweep costs a pass over the tags in view; ten a second are plenty.
    if (nowMs < nextSweepMs_) return;
    nextSweepMs_ = nowMs + std::min<std::int64_t>(100, rules_.departAfterMs / 4 + 1);
    for (auto it = tags_.begin(); it != tags_.end();) {
        if (nowMs - it->second.lastSeenMs < rules_.departAfterMs) {
            ++it;
            continue;
        }
        if (it->second.arrived) out.push_back(make(it->second, EventType::Depart));
        if (it->second.inSpool) gone_.push_back(it->second);
        it = tags_.erase(it);
    }
}

void EventTracker::restore(const TagInView& tag) {
    std::string key = tag.epc;
    if (!tag.tid.empty()) key += "/" + tag.tid;
    Tag& t = tags_[std::move(key)];
    static_cast<TagInView&>(t) = tag;
    t.stored = Stored::Clean;
    t.inSpool = true;
}

void EventTracker::takeChanges(bool all, std::vector<PresenceChange>& out) {
    // Departures first: a tag that left and came back is deleted, then stored anew.
    for (TagInView& tag : gone_) out.push_back({reader_, std::move(tag), true});
    gone_.clear();
    auto take = [&](std::vector<std::string>& keys, bool owedOnly) {
        for (const std::string& key : keys) {
            const auto it = tags_.find(key);
            if (it == tags_.end()) continue;
            Tag& tag = it->second;
            if (tag.stored == Stored::Clean || (owedOnly && tag.stored != Stored::Owed)) continue;
            out.push_back({reader_, tag, false});
            tag.stored = Stored::Clean;
            tag.inSpool = true;
        }
        keys.clear();
    };
    take(owed_, true);
    if (all) take(stale_, false);
}

std::string rfc3339(std::int64_t unixMs) {
    const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(unixMs % 1000));
    return text;
}

// Gateway and reader names are checked to need no escaping; EPC and TID are hex.
std::string eventJson(const TagEvent& e, std::uint64_t seq, const std::string& gateway) {
    std::string json;
    json.reserve(256);
    json += "{\"seq\":" + std::to_string(seq) + ",\"gateway\":\"" + gateway + "\",\"reader\":\"" + e.reader +
            "\",\"type\":\"" + eventTypeName(e.type) + "\",\"epc\":\"" + e.epc + "\"";
    if (!e.tid.empty()) json += ",\"tid\":\"" + e.tid + "\"";
    json += ",\"count\":" + std::to_string(e.count) + ",\"first_seen\":\"" + rfc3339(e.firstSeenMs) +
            "\",\"last_seen\":\"" + rfc3339(e.lastSeenMs) + "\"}";
    return json;
}

}  // namespace morventd

namespace morventd {

// Every member of an event is on its top level, and its strings (names, hex,
// identities, times) need no escaping: the first `"key":"` is the member's.
std::string eventMember(const std::string& json, const char* key) {
    const std::string prefix = std::string("\"") + key + "\":\"";
    const std::size_t at = json.find(prefix);
    if (at == std::string::npos) return "";
    const std::size_t begin = at + prefix.size(), end = json.find('"', begin);
    return end == std::string::npos ? "" : json.substr(begin, end - begin);
}

}  // namespace morventd

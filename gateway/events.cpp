#include "gateway/events.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "morvent.hpp"

namespace morventd {

namespace {

std::string tagKey(const std::string& epc, const std::string& tid) { return tid.empty() ? epc : epc + "/" + tid; }

// One more read of a tag at `location`; a read at another place than the
// one noted starts the note again.
void see(Sighting& s, const std::string& reader, const std::string& location, std::int64_t atMs) {
    if (s.reads == 0 || s.location != location) s = {reader, location, atMs, atMs, 0};
    s.reader = reader;
    s.lastMs = std::max(s.lastMs, atMs);
    ++s.reads;
}

// A tag seen at another place than its own has moved there once that place
// read it last and its own place has not read it for the hysteresis: a tag
// that both see in turn stays where it was, and one that crossed over moves
// a hysteresis after its last read at the old place.
bool crossed(std::int64_t hereLastMs, const Sighting& elsewhere, std::int64_t nowMs, std::int64_t hysteresisMs) {
    return elsewhere.reads > 0 && elsewhere.lastMs > hereLastMs && nowMs - hereLastMs >= hysteresisMs;
}

// A name as a JSON string. Config refuses control characters in names;
// quotes and backslashes are escaped.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

}  // namespace

const char* eventTypeName(EventType type) {
    switch (type) {
    case EventType::Arrive: return "arrive";
    case EventType::Report: return "report";
    case EventType::Depart: return "depart";
    case EventType::Move: return "move";
    case EventType::Direction: return "direction";
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

std::string PresenceChange::row() const { return (location.empty() ? reader : "") + ' ' + tag.epc + '/' + tag.tid; }

EventTracker::EventTracker(std::string reader, EventRules rules, std::string location)
    : reader_(std::move(reader)), location_(location.empty() ? reader_ : std::move(location)), rules_(rules) {}

EventTracker::EventTracker(EventRules rules) : byLocation_(true), rules_(rules) {}

TagEvent EventTracker::make(const Tag& tag, EventType type) const {
    TagEvent e;
    e.reader = tag.reader;
    e.type = type;
    e.epc = tag.epc;
    e.tid = tag.tid;
    e.uri = tag.uri;
    e.count = tag.reads;
    e.firstSeenMs = tag.firstSeenMs;
    e.lastSeenMs = tag.lastSeenMs;
    e.location = tag.location;
    if (byLocation_) e.topic = "locations/" + topicLevel(tag.location);
    return e;
}

PresenceChange EventTracker::change(const Tag& tag, bool gone) const {
    return {byLocation_ ? tag.reader : reader_, tag, gone, byLocation_ ? tag.location : std::string()};
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
    read(reader_, location_, epc, tid, atMs, out);
}

void EventTracker::read(const std::string& reader, const std::string& location, const std::string& epc,
                        const std::string& tid, std::int64_t atMs, std::vector<TagEvent>& out) {
    auto [it, fresh] = tags_.try_emplace(tagKey(epc, tid));
    Tag& tag = it->second;
    if (fresh) {
        tag.epc = epc;
        tag.tid = tid;
        tag.uri = epcUri(epc);
        tag.firstSeenMs = atMs;
        tag.location = location;
        stale_.push_back(it->first);
    } else if (tag.location != location) {
        // Only in location scope: a reader's tracker sees one location.
        if (tag.arrived) {
            see(tag.elsewhere, reader, location, atMs);
            settle(it->first, tag, atMs, out);
            return;
        }
        // Not arrived anywhere yet: its reads anywhere count (a tag that two
        // locations see in turn arrives all the same), and it arrives where
        // the read that makes them enough is made.
        tag.location = location;
    }
    tag.reader = reader;
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

// A tag seen elsewhere that has crossed over (see crossed()) moves there,
// with the reads made there, in one event.
void EventTracker::settle(const std::string& key, Tag& tag, std::int64_t nowMs, std::vector<TagEvent>& out) {
    Sighting& there = tag.elsewhere;
    // Garbled reads elsewhere are filtered as arrivals are.
    if (!crossed(tag.lastSeenMs, there, nowMs, rules_.moveHysteresisMs) ||
        there.reads < static_cast<std::uint64_t>(rules_.arriveAfterReads))
        return;
    std::string from = std::move(tag.location);
    tag.reader = there.reader;
    tag.location = there.location;
    tag.firstSeenMs = there.firstMs;
    tag.lastSeenMs = there.lastMs;
    tag.reads = there.reads;
    out.push_back(make(tag, EventType::Move));
    out.back().from = std::move(from);
    tag.lastEventMs = nowMs;
    tag.reads = 0;
    there = {};
    mark(key, tag, Stored::Owed);
}

void EventTracker::tick(std::int64_t nowMs, std::vector<TagEvent>& out) {
    // A sweep costs a pass over the tags in view; ten a second are plenty.
    if (nowMs < nextSweepMs_) return;
    nextSweepMs_ = nowMs + std::min<std::int64_t>(100, rules_.departAfterMs / 4 + 1);
    for (auto it = tags_.begin(); it != tags_.end();) {
        Tag& tag = it->second;
        if (tag.elsewhere.reads) {
            settle(it->first, tag, nowMs, out);
            // Reads elsewhere that stopped long ago, while it stayed here, were strays.
            if (nowMs - tag.elsewhere.lastMs >= rules_.departAfterMs) tag.elsewhere = {};
        }
        if (nowMs - tag.lastSeenMs < rules_.departAfterMs) {
            ++it;
            continue;
        }
        if (tag.arrived) out.push_back(make(tag, EventType::Depart));
        if (tag.inSpool) gone_.push_back(change(tag, true));
        it = tags_.erase(it);
    }
}

void EventTracker::restore(const PresenceChange& kept) {
    Tag& t = tags_[tagKey(kept.tag.epc, kept.tag.tid)];
    static_cast<TagInView&>(t) = kept.tag;
    t.reader = kept.reader;
    t.location = byLocation_ ? kept.location : location_;
    t.uri = epcUri(kept.tag.epc);
    t.stored = Stored::Clean;
    t.inSpool = true;
}

void EventTracker::takeChanges(bool all, std::vector<PresenceChange>& out) {
    // Departures first: a tag that left and came back is deleted, then stored anew.
    for (PresenceChange& gone : gone_) out.push_back(std::move(gone));
    gone_.clear();
    auto take = [&](std::vector<std::string>& keys, bool owedOnly) {
        for (const std::string& key : keys) {
            const auto it = tags_.find(key);
            if (it == tags_.end()) continue;
            Tag& tag = it->second;
            if (tag.stored == Stored::Clean || (owedOnly && tag.stored != Stored::Owed)) continue;
            out.push_back(change(tag, false));
            tag.stored = Stored::Clean;
            tag.inSpool = true;
        }
        keys.clear();
    };
    take(owed_, true);
    if (all) take(stale_, false);
}

void EventTracker::countByReader(std::map<std::string, std::size_t>& out) const {
    for (const auto& [key, tag] : tags_) ++out[tag.reader];
}

// ---- portals ----

PortalTracker::PortalTracker(std::vector<Portal> portals, std::int64_t hysteresisMs) : hysteresisMs_(hysteresisMs) {
    for (Portal& p : portals) {
        Watch& w = watches_.emplace_back();
        w.topic = "portals/" + topicLevel(p.name);
        w.portal = std::move(p);
    }
}

void PortalTracker::read(const std::string& reader, const std::string& location, const std::string& epc,
                         const std::string& tid, std::int64_t atMs, std::vector<TagEvent>& out) {
    for (Watch& w : watches_) {
        const bool inside = location == w.portal.inside;
        if (!inside && location != w.portal.outside) continue;
        auto [it, fresh] = w.tags.try_emplace(tagKey(epc, tid));
        Passage& p = it->second;
        if (fresh) {
            p.epc = epc;
            p.tid = tid;
            p.inside = inside;
        }
        if (p.inside == inside) {
            see(p.here, reader, location, atMs);
            continue;
        }
        see(p.elsewhere, reader, location, atMs);
        settle(w, p, atMs, out);
    }
}

// A crossing (see crossed()) within the window is a direction event; one
// after a longer absence only changes the side the tag is on.
void PortalTracker::settle(const Watch& w, Passage& p, std::int64_t nowMs, std::vector<TagEvent>& out) const {
    if (!crossed(p.here.lastMs, p.elsewhere, nowMs, hysteresisMs_)) return;
    if (p.elsewhere.firstMs - p.here.lastMs <= w.portal.windowMs) {
        TagEvent& e = out.emplace_back();
        e.reader = p.elsewhere.reader;
        e.type = EventType::Direction;
        e.epc = p.epc;
        e.tid = p.tid;
        e.count = p.elsewhere.reads;
        e.firstSeenMs = p.here.firstMs;
        e.lastSeenMs = p.elsewhere.lastMs;
        e.location = p.elsewhere.location;
        e.portal = w.portal.name;
        e.in = !p.inside;
        e.topic = w.topic;
    }
    p.inside = !p.inside;
    p.here = std::move(p.elsewhere);
    p.elsewhere = {};
}

void PortalTracker::tick(std::int64_t nowMs, std::vector<TagEvent>& out) {
    if (nowMs < nextSweepMs_) return;
    nextSweepMs_ = nowMs + 100;
    for (Watch& w : watches_) {
        for (auto it = w.tags.begin(); it != w.tags.end();) {
            Passage& p = it->second;
            if (p.elsewhere.reads) settle(w, p, nowMs, out);
            // A read on the other side long before the last on this one was a stray.
            if (p.elsewhere.reads && p.elsewhere.lastMs <= p.here.lastMs &&
                nowMs - p.elsewhere.lastMs > w.portal.windowMs)
                p.elsewhere = {};
            // Gone from both sides for the window: whatever reads it next, it
            // is no passage from here.
            if (!p.elsewhere.reads && nowMs - p.here.lastMs > w.portal.windowMs) it = w.tags.erase(it);
            else ++it;
        }
    }
}

// ---- the wire ----

std::string rfc3339(std::int64_t unixMs) {
    const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(unixMs % 1000));
    return text;
}

std::string epcUri(const std::string& epcHex) {
    try {
        return morvent::decodeEpc(morvent::fromHex(epcHex)).uri();
    } catch (const std::invalid_argument&) {
        return "";  // not hex: no EPC a reader gave, and no identity
    }
}

// Gateway and reader names are checked to need no escaping; EPC and TID are
// hex, and a pure-identity URI holds only characters JSON takes as they are
// (GS1's character set has no backslash, and the URI writes '"' as %22).
// Location and portal names are free text, quoted.
std::string eventJson(const TagEvent& e, std::uint64_t seq, const std::string& gateway) {
    std::string json;
    json.reserve(256);
    json += "{\"seq\":" + std::to_string(seq) + ",\"gateway\":\"" + gateway + "\",\"reader\":\"" + e.reader +
            "\",\"location\":" + quoted(e.location.empty() ? e.reader : e.location) + ",\"type\":\"" +
            eventTypeName(e.type) + "\"";
    if (e.type == EventType::Move) json += ",\"from\":" + quoted(e.from) + ",\"to\":" + quoted(e.location);
    if (e.type == EventType::Direction)
        json += ",\"portal\":" + quoted(e.portal) + ",\"direction\":\"" + (e.in ? "in" : "out") + "\"";
    json += ",\"epc\":\"" + e.epc + "\"";
    if (!e.tid.empty()) json += ",\"tid\":\"" + e.tid + "\"";
    if (!e.uri.empty()) json += ",\"uri\":\"" + e.uri + "\"";
    json += ",\"count\":" + std::to_string(e.count) + ",\"first_seen\":\"" + rfc3339(e.firstSeenMs) +
            "\",\"last_seen\":\"" + rfc3339(e.lastSeenMs) + "\"}";
    return json;
}

std::string topicLevel(const std::string& name) {
    std::string level;
    bool replacing = false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        const bool kept = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || c == '-' ||
                          c == '_' || c == '.' || u >= 0x80;
        if (kept) level += c;
        else if (!replacing) level += '_';
        replacing = !kept;
    }
    return level;
}

}  // namespace morventd

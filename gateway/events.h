// Tag events. Arrive when a tag is first seen (after the configured number
// of reads), report at most every report interval while it stays in view,
// depart after a quiet time without reads. In reader scope each reader's
// tags are tracked on their own, a tracker per reader. In location scope one
// tracker follows every tag at one location at a time, the readers of a
// location counting together, and a tag that turns up at another location
// moves there: one move event instead of a depart and an arrive. The tags in
// view are kept in the spool too, so that a restart continues where it
// stopped. Portals tell the direction in which tags pass between two
// locations.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace morventd {

enum class EventType {
    Arrive,     // first seen where it is
    Report,     // still there, with the reads since the last event
    Depart,     // not seen there for the depart time
    Move,       // location scope: arrived at `location` while present at `from`
    Direction,  // passed through `portal`, in or out
};
const char* eventTypeName(EventType type);
// Every type's name, in the enum's order.
std::vector<std::string> eventTypeNames();

// How presence is tracked.
enum class Scope {
    Reader,    // per reader and tag: today's events, a reader's location only named in them
    Location,  // per tag, at one location at a time: the readers of a location as one, moves between them
};

struct TagEvent {
    std::string reader;  // location scope: the reader of its last read at `location`
    EventType type = EventType::Arrive;
    std::string epc, tid;  // hex, upper case; tid empty when not asked
    std::uint64_t count = 0;
    std::int64_t firstSeenMs = 0, lastSeenMs = 0;  // Unix time in milliseconds
    std::string location =
        {};  // where the tag is (move: where it went; direction: the side it reached); empty: the reader's name
    std::string from = {};    // move: the location it left
    std::string portal = {};  // direction: the portal it passed
    bool in = false;          // direction: from the outside in (else out)
    std::string topic = {};   // what its topic has between <prefix>/<gateway>/ and /events; empty: the reader's name
    std::string uri = {};     // the EPC's GS1 pure identity; empty when it has none
};

struct EventRules {
    std::int64_t reportEveryMs = 5000;
    std::int64_t departAfterMs = 10000;
    int arriveAfterReads = 1;
    std::int64_t moveHysteresisMs = 2000;  // quiet where a tag is before it moves elsewhere
};

// A tag in view, as the tracker and the spool keep it.
struct TagInView {
    std::string epc, tid;
    std::int64_t firstSeenMs = 0, lastSeenMs = 0, lastEventMs = 0;
    std::uint64_t reads = 0;  // since the last event (before arrival: all of them)
    bool arrived = false;
};

// A change to the tags in view, for the spool: the tag as it is now, or gone.
struct PresenceChange {
    std::string reader;  // reader scope: whose tag it is; location scope: the reader of its last read
    TagInView tag;
    bool gone = false;
    std::string location;  // location scope: where the tag is, its row kept by tag alone; empty in reader scope
    // The row it changes: one per reader and tag, or (location scope) one per tag.
    std::string row() const;
};

// Reads of a tag at one place (a location, or a side of a portal).
struct Sighting {
    std::string reader, location;
    std::int64_t firstMs = 0, lastMs = 0;
    std::uint64_t reads = 0;  // 0: not seen there
};

class EventTracker {
public:
    // Reader scope: the tags of `reader`, which stands at `location` (its
    // own name when empty).
    EventTracker(std::string reader, EventRules rules, std::string location = {});
    // Location scope: the tags at every location.
    explicit EventTracker(EventRules rules);

    // One read of a tag at `atMs` by the tracker's reader (reader scope);
    // appends the events it causes.
    void read(const std::string& epc, const std::string& tid, std::int64_t atMs, std::vector<TagEvent>& out);
    // One read by `reader`, which stands at `location` (location scope).
    void read(const std::string& reader, const std::string& location, const std::string& epc, const std::string& tid,
              std::int64_t atMs, std::vector<TagEvent>& out);
    // Time passes: tags seen elsewhere move, tags quiet for the depart time leave.
    void tick(std::int64_t nowMs, std::vector<TagEvent>& out);
    // A tag in view as the spool kept it, before the first read.
    void restore(const PresenceChange& kept);

    // Appends the changes not yet taken: those of tags with an event since
    // the last call and of tags gone, and with `all` those of tags only
    // read as well. Each event's change is taken with the event itself, so
    // both are stored in one transaction.
    void takeChanges(bool all, std::vector<PresenceChange>& out);
    bool changed() const { return !owed_.empty() || !stale_.empty() || !gone_.empty(); }

    std::size_t inView() const { return tags_.size(); }
    // The tags in view by the reader of their last read.
    void countByReader(std::map<std::string, std::size_t>& out) const;

private:
    // How a tag in view stands against its copy in the spool.
    enum class Stored {
        Clean,  // the spool has it as it is
        Stale,  // read since: its last read and count are newer
        Owed,   // an event changed it: goes with that event's commit
    };
    struct Tag : TagInView {
        Stored stored = Stored::Stale;
        bool inSpool = false;          // a row may exist: its departure deletes it
        std::string uri;               // decoded once, when the tag comes into view
        std::string reader, location;  // of its last read where it is
        Sighting elsewhere;            // location scope: reads at another location while it is here
    };
    TagEvent make(const Tag& tag, EventType type) const;
    PresenceChange change(const Tag& tag, bool gone) const;
    void mark(const std::string& key, Tag& tag, Stored how);
    void settle(const std::string& key, Tag& tag, std::int64_t nowMs, std::vector<TagEvent>& out);

    std::string reader_, location_;  // reader scope
    bool byLocation_ = false;
    EventRules rules_;
    std::unordered_map<std::string, Tag> tags_;
    std::vector<std::string> owed_, stale_;  // keys, perhaps of tags gone or already taken
    std::vector<PresenceChange> gone_;       // departed or expired, with a row to delete
    std::int64_t nextSweepMs_ = 0;
};

// A door between two locations: a tag read at `outside` and then, within the
// window, at `inside` went in; the other way round, out.
struct Portal {
    std::string name, outside, inside;
    std::int64_t windowMs = 5000;
};

// Follows the tags read at the sides of the portals. A tag is on the side
// that read it first; it crosses to the other side as a tag moves between
// locations (the other side read it last, and its own not for the move
// hysteresis), so a tag that both sides see in turn does not cross back and
// forth. A crossing within the window of the last read on the side it left
// is a direction event. Not kept across restarts: a passage under way when
// the gateway stops is not reported.
class PortalTracker {
public:
    PortalTracker(std::vector<Portal> portals, std::int64_t hysteresisMs);

    void read(const std::string& reader, const std::string& location, const std::string& epc, const std::string& tid,
              std::int64_t atMs, std::vector<TagEvent>& out);
    void tick(std::int64_t nowMs, std::vector<TagEvent>& out);
    bool empty() const { return watches_.empty(); }

private:
    struct Passage {
        std::string epc, tid;
        bool inside = false;       // the side it is on
        Sighting here, elsewhere;  // its reads on that side, and on the other
    };
    struct Watch {
        Portal portal;
        std::string topic;
        std::unordered_map<std::string, Passage> tags;
    };
    void settle(const Watch& w, Passage& p, std::int64_t nowMs, std::vector<TagEvent>& out) const;

    std::vector<Watch> watches_;
    std::int64_t hysteresisMs_;
    std::int64_t nextSweepMs_ = 0;
};

// The GS1 pure-identity URI of an EPC given in hex; "" when it is none.
std::string epcUri(const std::string& epcHex);

// One event as the JSON object delivered to the broker.
std::string eventJson(const TagEvent& event, std::uint64_t seq, const std::string& gateway);
// RFC 3339 UTC with milliseconds: 2026-12-09T13:41:29.123Z
std::string rfc3339(std::int64_t unixMs);
// A location or portal name as one level of a topic: ASCII letters and
// digits, '-', '_', '.' and non-ASCII characters stay, and every run of
// other characters ('/', '+', '#', spaces...) becomes one '_'.
std::string topicLevel(const std::string& name);

}  // namespace morventd

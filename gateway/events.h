// Tag events of one reader: arrive when a tag is first seen (after the
// configured number of reads), report at most every report interval while it
// stays in view, depart after a quiet time without reads. The tags in view
// are kept in the spool too, so that a restart continues where it stopped.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace morventd {

enum class EventType { Arrive, Report, Depart };
const char* eventTypeName(EventType type);
// Every type's name, in the enum's order.
std::vector<std::string> eventTypeNames();

struct TagEvent {
    std::string reader;
    EventType type = EventType::Arrive;
    std::string epc, tid;  // hex, upper case; tid empty when not asked
    std::uint64_t count = 0;
    std::int64_t firstSeenMs = 0, lastSeenMs = 0;  // Unix time in milliseconds
};

struct EventRules {
    std::int64_t reportEveryMs = 5000;
    std::int64_t departAfterMs = 10000;
    int arriveAfterReads = 1;
};

// A tag in a reader's view, as the tracker and the spool keep it.
struct TagInView {
    std::string epc, tid;
    std::int64_t firstSeenMs = 0, lastSeenMs = 0, lastEventMs = 0;
    std::uint64_t reads = 0;  // since the last event (before arrival: all of them)
    bool arrived = false;
};

// A change to the tags in view, for the spool: the tag as it is now, or gone.
struct PresenceChange {
    std::string reader;
    TagInView tag;
    bool gone = false;
};

class EventTracker {
public:
    EventTracker(std::string reader, EventRules rules) : reader_(std::move(reader)), rules_(rules) {}

    // One read of a tag at `atMs`; appends the events it causes.
    void read(const std::string& epc, const std::string& tid, std::int64_t atMs, std::vector<TagEvent>& out);
    // Time passes: tags quiet for the depart time leave.
    void tick(std::int64_t nowMs, std::vector<TagEvent>& out);
    // A tag in view as the spool kept it, before the first read.
    void restore(const TagInView& tag);

    // Appends the changes not yet taken: those of tags with an event since
    // the last call and of tags gone, and with `all` those of tags only
    // read as well. Each event's change is taken with the event itself, so
    // both are stored in one transaction.
    void takeChanges(bool all, std::vector<PresenceChange>& out);
    bool changed() const { return !owed_.empty() || !stale_.empty() || !gone_.empty(); }

    std::size_t inView() const { return tags_.size(); }

private:
    // How a tag in view stands against its copy in the spool.
    enum class Stored {
        Clean,  // the spool has it as it is
        Stale,  // read since: its last read and count are newer
        Owed,   // an event changed it: goes with that event's commit
    };
    struct Tag : TagInView {
        Stored stored = Stored::Stale;
        bool inSpool = false;  // a row may exist: its departure deletes it
    };
    TagEvent make(const Tag& tag, EventType type) const;
    void mark(const std::string& key, Tag& tag, Stored how);

    std::string reader_;
    EventRules rules_;
    std::unordered_map<std::string, Tag> tags_;
    std::vector<std::string> owed_, stale_;  // keys, perhaps of tags gone or already taken
    std::vector<TagInView> gone_;            // departed or expired, with a row to delete
    std::int64_t nextSweepMs_ = 0;
};

// One event as the JSON object delivered to the broker.
std::string eventJson(const TagEvent& event, std::uint64_t seq, const std::string& gateway);
// The top-level string member `key` of an event's JSON as eventJson writes
// it, or "" when it has none.
std::string eventMember(const std::string& json, const char* key);
// RFC 3339 UTC with milliseconds: 2026-12-09T13:41:29.123Z
std::string rfc3339(std::int64_t unixMs);

}  // namespace morventd

// Tag events of one reader: arrive when a tag is first seen (after the
// configured number of reads), report at most every report interval while it
// stays in view, depart after a quiet time without reads.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace morventd {

enum class EventType { Arrive, Report, Depart };
const char* eventTypeName(EventType type);

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

class EventTracker {
public:
    EventTracker(std::string reader, EventRules rules) : reader_(std::move(reader)), rules_(rules) {}

    // One read of a tag at `atMs`; appends the events it causes.
    void read(const std::string& epc, const std::string& tid, std::int64_t atMs, std::vector<TagEvent>& out);
    // Time passes: tags quiet for the depart time leave.
    void tick(std::int64_t nowMs, std::vector<TagEvent>& out);

    std::size_t inView() const { return tags_.size(); }

private:
    struct Tag {
        std::string epc, tid;
        std::int64_t firstSeenMs = 0, lastSeenMs = 0, lastEventMs = 0;
        std::uint64_t reads = 0;  // since the last event (before arrival: all of them)
        bool arrived = false;
    };
    TagEvent make(const Tag& tag, EventType type) const;

    std::string reader_;
    EventRules rules_;
    std::unordered_map<std::string, Tag> tags_;
    std::int64_t nextSweepMs_ = 0;
};

// One event as the JSON object delivered to the broker.
std::string eventJson(const TagEvent& event, std::uint64_t seq, const std::string& gateway);
// RFC 3339 UTC with milliseconds: 2026-12-09T13:41:29.123Z
std::string rfc3339(std::int64_t unixMs);

}  // namespace morventd

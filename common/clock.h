// The time the programs above the core keep, and the waits between attempts
// to get something back. Shared by the morvent tool and the gateway, which
// include nothing of each other, and kept out of include/: it is not API.
// Standard C++ only, so that it builds wherever the tool does.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace morvent_common {

// Milliseconds on the monotonic clock: for deadlines and intervals, which a
// change of the wall clock must not stretch or cut short.
inline std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Milliseconds since the Unix epoch: for times that are shown or stored.
inline std::int64_t unixMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Capped doubling: the first wait is `min`, each one after it twice the one
// before, never more than `max`, until reset() after a success.
class Backoff {
public:
    constexpr Backoff(std::int64_t min, std::int64_t max) : min_(min), max_(max), next_(min) {}

    // The wait before the next attempt; the one after it doubles.
    std::int64_t next() {
        const std::int64_t wait = next_;
        next_ = std::min(max_, next_ * 2);
        return wait;
    }
    // Something worked: the next wait is the shortest again.
    void reset() { next_ = min_; }

    std::int64_t min() const { return min_; }
    std::int64_t max() const { return max_; }

private:
    std::int64_t min_, max_, next_;
};

}  // namespace morvent_common

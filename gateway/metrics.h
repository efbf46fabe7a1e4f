// What the supervisor counts, and its rendering for GET /metrics (Prometheus
// text format) and GET /health. The supervisor owns the numbers; the HTTP
// thread only reads the rendered text, swapped in under a lock.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "gateway/channel.h"

namespace morventd {

struct ReaderMetrics {
    ReaderState state = ReaderState::Connecting;
    std::uint64_t reads = 0, reconnects = 0, restarts = 0;
};

struct Metrics {
    static constexpr std::array<double, 11> kLatencyBuckets{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

    std::map<std::string, ReaderMetrics> readers;
    std::uint64_t arrive = 0, report = 0, depart = 0, move = 0, direction = 0;
    std::uint64_t published = 0, dropped = 0, spoolErrors = 0, mqttConnects = 0;
    std::int64_t spoolDepth = 0, held = 0;
    std::int64_t historySize = 0;
    std::uint64_t historyExpired = 0, historyOverflowed = 0;  // dropped from the history, by reason
    bool mqttConnected = false;
    std::string spoolError;
    std::array<std::uint64_t, kLatencyBuckets.size() + 1> latency{};
    double latencySum = 0;
    double commitSeconds = 0;
    std::uint64_t commits = 0;
    std::uint64_t latencyCount = 0;

    void observeLatency(double seconds);
    std::string prometheus(const std::string& gateway) const;
    std::string health(const std::string& gateway, int* httpStatus) const;
};

// The rendered pages, shared with the HTTP thread.
class Pages {
public:
    void set(std::string metrics, std::string health, int healthStatus);
    std::string metrics() const;
    std::string health(int* status) const;

private:
    mutable std::mutex mutex_;
    std::string metrics_, health_ = "{\"status\":\"starting\"}\n";
    int healthStatus_ = 503;
};

}  // namespace morventd

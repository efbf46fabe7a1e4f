#include "gateway/metrics.h"

#include <sstream>

#include <nlohmann/json.hpp>

namespace morventd {

void Metrics::observeLatency(double seconds) {
    std::size_t i = 0;
    while (i < kLatencyBuckets.size() && seconds > kLatencyBuckets[i]) ++i;
    ++latency[i];
    latencySum += seconds;
    ++latencyCount;
}

std::string Metrics::prometheus(const std::string& gateway) const {
    std::ostringstream o;
    const std::string gw = "gateway=\"" + gateway + "\"";
    auto head = [&](const char* name, const char* type, const char* help) {
        o << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
    };
    head("morventd_reads_total", "counter", "Tag reads received from the readers.");
    for (const auto& [name, r] : readers)
        o << "morventd_reads_total{" << gw << ",reader=\"" << name << "\"} " << r.reads << "\n";
    head("morventd_events_total", "counter", "Events produced, by type.");
    o << "morventd_events_total{" << gw << ",type=\"arrive\"} " << arrive << "\n";
    o << "morventd_events_total{" << gw << ",type=\"report\"} " << report << "\n";
    o << "morventd_events_total{" << gw << ",type=\"depart\"} " << depart << "\n";
    o << "morventd_events_total{" << gw << ",type=\"move\"} " << move << "\n";
    o << "morventd_events_total{" << gw << ",type=\"direction\"} " << direction << "\n";
    head("morventd_published_total", "counter", "Events acknowledged by the broker.");
    o << "morventd_published_total{" << gw << "} " << published << "\n";
    head("morventd_spool_depth", "gauge", "Events in the spool, not yet acknowledged.");
    o << "morventd_spool_depth{" << gw << "} " << spoolDepth << "\n";
    head("morventd_unspooled_events", "gauge", "Events held in memory because the spool cannot be written.");
    o << "morventd_unspooled_events{" << gw << "} " << held << "\n";
    head("morventd_dropped_total", "counter", "Events dropped unpublished to stay within spool.max_events.");
    o << "morventd_dropped_total{" << gw << "} " << dropped << "\n";
    head("morventd_history_events", "gauge", "Events kept in the searchable history.");
    o << "morventd_history_events{" << gw << "} " << historySize << "\n";
    head("morventd_history_dropped_total", "counter",
         "Events dropped from the history, oldest first: older than history.keep_days, or past history.max_events.");
    o << "morventd_history_dropped_total{" << gw << ",reason=\"keep_days\"} " << historyExpired << "\n";
    o << "morventd_history_dropped_total{" << gw << ",reason=\"max_events\"} " << historyOverflowed << "\n";
    head("morventd_spool_errors_total", "counter", "Failed spool commits.");
    o << "morventd_spool_errors_total{" << gw << "} " << spoolErrors << "\n";
    head("morventd_spool_commit_seconds", "summary", "Time spent in spool commits.");
    o << "morventd_spool_commit_seconds_sum{" << gw << "} " << commitSeconds << "\n";
    o << "morventd_spool_commit_seconds_count{" << gw << "} " << commits << "\n";
    head("morventd_mqtt_connected", "gauge", "1 while the broker connection is up.");
    o << "morventd_mqtt_connected{" << gw << "} " << (mqttConnected ? 1 : 0) << "\n";
    head("morventd_mqtt_connects_total", "counter", "Accepted broker connections.");
    o << "morventd_mqtt_connects_total{" << gw << "} " << mqttConnects << "\n";
    head("morventd_reader_state", "gauge", "1 for the state each reader is in.");
    for (const auto& [name, r] : readers)
        for (const ReaderState s : kReaderStates)
            o << "morventd_reader_state{" << gw << ",reader=\"" << name << "\",state=\"" << stateName(s) << "\"} "
              << (r.state == s ? 1 : 0) << "\n";
    head("morventd_reader_reconnects_total", "counter", "Times a reader's link was lost after being online.");
    for (const auto& [name, r] : readers)
        o << "morventd_reader_reconnects_total{" << gw << ",reader=\"" << name << "\"} " << r.reconnects << "\n";
    head("morventd_worker_restarts_total", "counter", "Times a reader's worker process was restarted.");
    for (const auto& [name, r] : readers)
        o << "morventd_worker_restarts_total{" << gw << ",reader=\"" << name << "\"} " << r.restarts << "\n";
    head("morventd_publish_latency_seconds", "histogram", "From spooling an event to the broker's acknowledgement.");
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < kLatencyBuckets.size(); ++i) {
        cumulative += latency[i];
        o << "morventd_publish_latency_seconds_bucket{" << gw << ",le=\"" << kLatencyBuckets[i] << "\"} " << cumulative
          << "\n";
    }
    cumulative += latency.back();
    o << "morventd_publish_latency_seconds_bucket{" << gw << ",le=\"+Inf\"} " << cumulative << "\n";
    o << "morventd_publish_latency_seconds_sum{" << gw << "} " << latencySum << "\n";
    o << "morventd_publish_latency_seconds_count{" << gw << "} " << latencyCount << "\n";
    return o.str();
}

// Healthy while events are being stored: a broker that is away is reported
// but is not a fault of the gateway (it spools meanwhile).
std::string Metrics::health(const std::string& gateway, int* httpStatus) const {
    nlohmann::json j;
    const bool ok = spoolError.empty();
    j["status"] = ok ? "ok" : "failing";
    j["gateway"] = gateway;
    j["mqtt"] = mqttConnected ? "connected" : "disconnected";
    j["spool"] = ok ? "ok" : spoolError;
    j["spool_depth"] = spoolDepth;
    for (const auto& [name, r] : readers) j["readers"][name] = stateName(r.state);
    *httpStatus = ok ? 200 : 503;
    return j.dump() + "\n";
}

void Pages::set(std::string metrics, std::string health, int healthStatus) {
    std::lock_guard<std::mutex> lock(mutex_);
    metrics_ = std::move(metrics);
    health_ = std::move(health);
    healthStatus_ = healthStatus;
}

std::string Pages::metrics() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return metrics_;
}

std::string Pages::health(int* status) const {
    std::lock_guard<std::mutex> lock(mutex_);
    *status = healthStatus_;
    return health_;
}

}  // namespace morventd

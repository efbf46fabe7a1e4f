// The supervisor: starts one worker per link and restarts those that die
// (with back-off), turns their reads into events, commits the events to the
// spool and publishes them over MQTT, deleting each from the spool on its
// acknowledgement. One poll loop, one spool writer, one sequence per gateway.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/clock.h"
#include "gateway/channel.h"
#include "gateway/config.h"
#include "gateway/dashboard.h"
#include "gateway/events.h"
#include "gateway/metrics.h"
#include "gateway/mqtt.h"
#include "gateway/spool.h"

namespace httplib {
class Server;
}

namespace morventd {

class History;

class Supervisor {
public:
    // Opens the spool and carries over the tags in view it kept; starts
    // nothing yet. `workerProgram` is the worker's executable.
    Supervisor(const Config& config, std::string workerProgram);
    ~Supervisor();
    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;

    // Runs until SIGTERM or SIGINT; the process exit status.
    int run();

    // What a line from the worker of link `worker` (Config::links() order)
    // does, as the loop does it; for a test to feed lines without a process.
    void workerLine(std::size_t worker, std::string_view line);
    const Metrics& metrics() const { return metrics_; }

private:
    // One reader as the supervisor keeps it: its events and its state.
    struct Reader {
        const ReaderConfig* config = nullptr;
        EventTracker* tracker = nullptr;  // its own (reader scope), or the one of every location
        ReaderState state = ReaderState::Connecting;
        std::string detail = "starting";
        std::int64_t sinceMs = 0;
    };
    // One worker process: a TCP reader, or the readers of one serial bus.
    struct Worker {
        std::vector<Reader*> readers;
        pid_t pid = -1;
        int fd = -1;
        short ready = 0;  // what the last wait found on fd
        std::string input;
        std::int64_t startedMs = 0, restartAtMs = 0;
        morvent_common::Backoff restarts{250, 30000};  // the waits before restarting it

        std::string name() const;
        Reader* reader(std::string_view name) const;
    };
    struct InFlight {
        std::uint64_t seq;
        std::int64_t storedMs;
    };

    // ---- the loop: one turn is these steps, in this order ----
    void wait();              // poll every descriptor until one is ready or something falls due
    void serveSignals();      // SIGTERM and SIGINT stop the loop, SIGCHLD reaps the workers that ended
    void serveWorkers();      // each worker's lines: states and reads
    void serveRequests();     // operations asked for over HTTP, to their readers' workers
    void serveMqtt();         // the broker's socket, its keep-alive, and reconnecting
    void applyEventRules();   // time passes: quiet tags depart
    void commit(bool force);  // waiting events, acknowledgements and tags in view into the spool
    void publish();           // stored events to the broker, within the in-flight window
    void restartWorkers();    // those whose back-off is over
    void render(bool force);  // metrics, health and the dashboard's counters

    void begin();
    void shutdown();
    void sendStored();
    void startHttp();
    void restorePresence(const EventRules& rules);
    Reader* reader(const std::string& name);
    void start(Worker& w);
    void reap();
    void input(Worker& w);
    void line(Worker& w, std::string_view text);
    void setState(Reader& r, ReaderState state, const std::string& detail);
    void publishState(const Reader& r);
    void connected();
    void acked(int mid);
    void count(const std::vector<TagEvent>& events);

    const Config& config_;
    std::string workerProgram_;
    Spool spool_;
    Mqtt mqtt_;
    std::vector<Reader> readers_;
    std::vector<std::unique_ptr<EventTracker>> trackers_;  // one per reader, or in location scope one
    PortalTracker portals_;
    std::vector<Worker> workers_;
    std::vector<TagEvent> waiting_;         // events not yet in the spool
    std::vector<PresenceChange> presence_;  // changes to the tags in view not yet in the spool
    std::int64_t presenceEveryMs_ = 1000;
    std::int64_t presenceFlushedMs_ = 0;
    std::size_t restored_ = 0;  // tags in view carried over from the last run
    std::int64_t waitingSinceMs_ = 0;
    std::int64_t committedMs_ = 0;
    std::vector<std::uint64_t> acked_;
    std::unordered_map<int, InFlight> inflight_;
    std::uint64_t cursor_ = 0;  // the last seq handed to the broker on this connection
    std::int64_t spoolRetryAtMs_ = 0;
    Metrics metrics_;
    Pages pages_;
    std::int64_t renderedAtMs_ = 0;
    std::unique_ptr<Dashboard> dash_;
    std::unique_ptr<History> history_;  // read by the HTTP threads: goes after them
    bool historyFullLogged_ = false;
    std::unique_ptr<httplib::Server> http_;
    std::thread httpThread_;
    bool stopping_ = false;
    // What the last wait found, step by step.
    short signalsReady_ = 0, requestsReady_ = 0;
    pollfd mqttPolled_{-1, 0, 0};
};

// Runs the gateway's supervisor with the worker program `worker`; the
// process exit status.
int runSupervisor(const Config& config, const std::string& worker);

}  // namespace morventd

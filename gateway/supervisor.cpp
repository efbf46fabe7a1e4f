#include "gateway/supervisor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <set>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "common/clock.h"
#include "gateway/history.h"
#include "gateway/log.h"

namespace morventd {

using morvent_common::steadyMs;
using morvent_common::unixMs;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int signal) {
    const int saved = errno;
    const char c = static_cast<char>(signal);
    ssize_t n = ::write(signalPipe[1], &c, 1);
    (void)n;
    errno = saved;
}

constexpr std::int64_t kStableRunMs = 30000;  // a worker that ran this long restarts at once
constexpr std::size_t kCommitBatch = 4000;    // commit early past this many waiting events
constexpr std::int64_t kTrimEveryMs = 50;     // an idle gateway's history retention, a slice at a time

// Why `address`:`port` cannot be bound (the server does not say): bound
// again the same way, the system's reason.
std::string bindFailure(const std::string& address, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::strerror(errno);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 && listen(fd, 1) == 0;
    const std::string why = bound ? "refused by the HTTP server" : std::strerror(errno);
    close(fd);
    return why;
}

}  // namespace

Supervisor::Supervisor(const Config& config, std::string workerProgram)
    : config_(config),
      workerProgram_(std::move(workerProgram)),
      spool_(config.spool, config.maxEvents, HistoryLimits{config.historyKeepDays, config.historyMaxEvents}),
      mqtt_(config),
      portals_(config.portals, static_cast<std::int64_t>(config.moveHysteresisS * 1000)) {
    EventRules rules;
    rules.reportEveryMs = static_cast<std::int64_t>(config.reportEveryS * 1000);
    rules.departAfterMs = static_cast<std::int64_t>(config.departAfterS * 1000);
    rules.arriveAfterReads = config.arriveAfterReads;
    rules.moveHysteresisMs = static_cast<std::int64_t>(config.moveHysteresisS * 1000);
    if (config.scope == Scope::Location) trackers_.push_back(std::make_unique<EventTracker>(rules));
    // A tag only read since it was stored is written again at most this
    // often; a crash loses no more of its last reads.
    presenceEveryMs_ = std::clamp<std::int64_t>(rules.departAfterMs / 10, config.commitMs, 1000);
    readers_.reserve(config.readers.size());  // the workers point into it
    for (const std::vector<const ReaderConfig*>& link : config.links()) {
        Worker& w = workers_.emplace_back();
        for (const ReaderConfig* r : link) {
            Reader& reader = readers_.emplace_back();
            reader.config = r;
            if (config.scope == Scope::Reader)
                trackers_.push_back(std::make_unique<EventTracker>(r->name, rules, r->location));
            reader.tracker = trackers_.back().get();
            reader.sinceMs = unixMs();
            w.readers.push_back(&reader);
            metrics_.readers[r->name];
        }
    }
    restorePresence(rules);
    mqtt_.onConnected = [this] { connected(); };
    mqtt_.onDisconnected = [this] { inflight_.clear(); };
    mqtt_.onAcked = [this](int mid) { acked(mid); };
}

Supervisor::~Supervisor() {
    // Left by an exception out of run(): the HTTP thread must end before
    // what it serves goes.
    if (httpThread_.joinable()) {
        dash_->stop();
        http_->stop();
        httpThread_.join();
    }
}

std::string Supervisor::Worker::name() const {
    return readers.size() == 1 ? readers[0]->config->name : "bus " + readers[0]->config->port();
}

Supervisor::Reader* Supervisor::Worker::reader(std::string_view name) const {
    for (Reader* r : readers)
        if (r->config->name == name) return r;
    return nullptr;
}

// ---- the loop ----

int Supervisor::run() {
    begin();
    while (!stopping_) {
        wait();
        serveSignals();
        serveWorkers();
        serveRequests();
        serveMqtt();
        applyEventRules();
        commit(false);
        publish();
        restartWorkers();
        render(false);
    }
    shutdown();
    return 0;
}

void Supervisor::begin() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot make the signal pipe");
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGCHLD, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    startHttp();
    logLine("gateway " + config_.id + " starting: " + std::to_string(readers_.size()) + " reader(s), " +
            std::to_string(workers_.size()) + " worker(s), spool " + config_.spool + " holds " +
            std::to_string(spool_.depth()) + " unacknowledged event(s) and a history of " +
            std::to_string(spool_.historySize()) + ", next seq " + std::to_string(spool_.nextSeq()) + ", " +
            std::to_string(restored_) + " tag(s) in view carried over");
    for (Worker& w : workers_) start(w);
    render(true);
}

void Supervisor::wait() {
    // Each descriptor, and where what the poll finds on it goes: the step
    // that serves it reads it from there.
    struct Watch {
        pollfd fd;
        short* ready;
    };
    std::vector<Watch> watches;
    watches.push_back({{signalPipe[0], POLLIN, 0}, &signalsReady_});
    for (Worker& w : workers_)
        if (w.fd >= 0) watches.push_back({{w.fd, POLLIN, 0}, &w.ready});
    if (dash_) watches.push_back({{dash_->wakeFd(), POLLIN, 0}, &requestsReady_});
    mqttPolled_ = mqtt_.watch();
    if (mqttPolled_.fd >= 0) watches.push_back({mqttPolled_, &mqttPolled_.revents});

    int timeout = 100;
    if (!waiting_.empty() || !acked_.empty()) timeout = std::min(timeout, config_.commitMs);
    timeout = std::min(timeout, mqtt_.untilServiceMs());
    std::vector<pollfd> fds;
    for (const Watch& w : watches) fds.push_back(w.fd);
    const int ready = poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    // A poll cut short by a signal found nothing: its revents are not to be read.
    for (std::size_t i = 0; i < watches.size(); ++i) *watches[i].ready = ready > 0 ? fds[i].revents : 0;
}

void Supervisor::serveSignals() {
    if (!(signalsReady_ & POLLIN)) return;
    char signals[64];
    ssize_t n;
    bool child = false;
    while ((n = read(signalPipe[0], signals, sizeof signals)) > 0)
        for (ssize_t i = 0; i < n; ++i) {
            if (signals[i] == SIGCHLD) child = true;
            else stopping_ = true;
        }
    if (child) reap();
}

void Supervisor::serveWorkers() {
    for (Worker& w : workers_) {
        // A worker reaped since the wait has no descriptor any more; what
        // it left was read as it was reaped.
        if (w.fd >= 0 && w.ready) input(w);
        w.ready = 0;
    }
}

// Operations asked for over HTTP go to the worker of their reader, which
// runs them between its rounds and answers on the same channel.
void Supervisor::serveRequests() {
    if (!dash_ || !(requestsReady_ & POLLIN)) return;
    for (Request& request : dash_->takeRequests()) {
        const Worker* w = nullptr;
        for (const Worker& candidate : workers_)
            if (candidate.reader(request.reader)) w = &candidate;
        if (!w || w->fd < 0) {
            Answer answer = notConnected();
            answer.id = request.id;
            dash_->answer(answer);
            continue;
        }
        const std::string text = format(request);
        // Never waits on a worker. Its socket holds far more than the HTTP
        // threads can have asked at once (one request each, answered or
        // given up within seconds): a send that does not take the whole
        // line means a worker that has stopped reading, and the caller is told.
        const ssize_t n = ::send(w->fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n != static_cast<ssize_t>(text.size())) {
            Answer answer = Answer::refused(Outcome::Unavailable, "the reader's worker is busy; try again");
            answer.id = request.id;
            dash_->answer(answer);
        }
    }
}

void Supervisor::serveMqtt() {
    mqtt_.serve(mqttPolled_);
    mqtt_.service();
}

void Supervisor::applyEventRules() {
    const std::int64_t now = unixMs();
    const bool none = waiting_.empty();
    for (auto& tracker : trackers_) tracker->tick(now, waiting_);
    portals_.tick(now, waiting_);
    if (none && !waiting_.empty()) waitingSinceMs_ = steadyMs();
}

void Supervisor::restartWorkers() {
    const std::int64_t now = steadyMs();
    for (Worker& w : workers_)
        if (w.pid < 0 && now >= w.restartAtMs && !stopping_) start(w);
}

// ---- workers ----

void Supervisor::reap() {
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        for (Worker& w : workers_) {
            if (w.pid != pid) continue;
            w.pid = -1;
            if (w.fd >= 0) input(w);  // what it sent before it went
            if (w.fd >= 0) close(w.fd), w.fd = -1;
            // Stopping, the workers end because they were told to: none
            // restarts, and shutdown() says why their readers are offline.
            if (stopping_) break;
            const std::string how = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                                        : "exited with status " + std::to_string(WEXITSTATUS(status));
            const std::int64_t now = steadyMs();
            if (now - w.startedMs > kStableRunMs) w.restarts.reset();
            const std::int64_t delay = w.restarts.next();
            w.restartAtMs = now + delay;
            logLine("worker of " + w.name() + " " + how + "; restarting in " + std::to_string(delay) + " ms");
            for (Reader* r : w.readers) {
                ++metrics_.readers[r->config->name].restarts;
                if (dash_) dash_->failAll(r->config->name, "the reader's worker " + how);
                setState(*r, ReaderState::Offline, "worker " + how);
            }
        }
    }
}

void Supervisor::input(Worker& w) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(w.fd, buffer, sizeof buffer);
        if (n > 0) {
            w.input.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // The end of the stream, or a failure other than "nothing more for
        // now": the worker is gone or going, and SIGCHLD will say how.
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            close(w.fd);
            w.fd = -1;
        }
        break;
    }
    std::size_t at = 0;
    for (std::size_t end; (end = w.input.find('\n', at)) != std::string::npos; at = end + 1)
        line(w, std::string_view(w.input).substr(at, end - at));
    w.input.erase(0, at);
}

void Supervisor::workerLine(std::size_t worker, std::string_view text) { line(workers_.at(worker), text); }

// A worker speaks only for the readers of its own link: a line naming any
// other reader, or one of no known shape, is dropped.
void Supervisor::line(Worker& w, std::string_view text) {
    ReadMessage read;
    StateMessage state;
    Answer answer;
    if (parse(text, read)) {
        Reader* r = w.reader(read.reader);
        if (!r) return;
        if (waiting_.empty()) waitingSinceMs_ = steadyMs();
        ++metrics_.readers[r->config->name].reads;
        r->tracker->read(r->config->name, r->config->location, read.epc, read.tid, read.atMs, waiting_);
        portals_.read(r->config->name, r->config->location, read.epc, read.tid, read.atMs, waiting_);
    } else if (parse(text, state)) {
        Reader* r = w.reader(state.reader);
        if (!r) return;
        // A link lost after being online; not each attempt to get it back.
        if (state.state == ReaderState::Connecting && r->state == ReaderState::Online) {
            ++metrics_.readers[r->config->name].reconnects;
            logLine("reader " + r->config->name + ": " + state.detail);
        }
        setState(*r, state.state, state.detail);
    } else if (parse(text, answer)) {
        if (dash_) dash_->answer(answer);
    }
}

void Supervisor::setState(Reader& r, ReaderState state, const std::string& detail) {
    if (state == r.state && detail == r.detail) return;
    if (state != r.state) r.sinceMs = unixMs();
    r.state = state;
    r.detail = detail;
    if (dash_) dash_->readerState(r.config->name, state, r.sinceMs, detail);
    metrics_.readers[r.config->name].state = state;
    publishState(r);
}

// ---- HTTP, spool and broker ----

void Supervisor::startHttp() {
    if (!config_.httpPort) {
        logLine("http off: no dashboard, API, metrics or health");
        return;
    }
    http_ = std::make_unique<httplib::Server>();
    // Event streams each hold a thread while a browser shows them.
    http_->new_task_queue = [] { return new httplib::ThreadPool(24); };
    dash_ = std::make_unique<Dashboard>(config_);
    dash_->install(*http_);
    history_ = std::make_unique<History>(config_.spool);
    history_->install(*http_);
    http_->Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(pages_.metrics(), "text/plain; version=0.0.4");
    });
    http_->Get("/health", [this](const httplib::Request&, httplib::Response& res) {
        int status = 200;
        res.set_content(pages_.health(&status), "application/json");
        res.status = status;
    });
    // Without SO_REUSEPORT (the library's default): a second gateway on the
    // same address must fail here instead of silently sharing the port.
    http_->set_socket_options([](int fd) {
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    const std::string address = config_.httpHost + ":" + std::to_string(config_.httpPort);
    if (!http_->bind_to_port(config_.httpAddress, config_.httpPort))
        throw std::runtime_error("http: cannot listen on " + address + ": " +
                                 bindFailure(config_.httpAddress, config_.httpPort));
    httpThread_ = std::thread([this] { http_->listen_after_bind(); });
    logLine("http: dashboard, API, metrics and health on http://" + address);
}

// The tags in view when the gateway stopped carry on: read again within the
// depart time they continue without a second arrive, and those not read
// again depart as if the gateway had never stopped. Tags of readers no longer
// configured, at locations no reader has any more, or kept in the scope the
// gateway no longer uses, depart at once.
void Supervisor::restorePresence(const EventRules& rules) {
    const bool byLocation = config_.scope == Scope::Location;
    std::set<std::string> locations;
    for (const ReaderConfig& r : config_.readers) locations.insert(r.location);
    // By reader; "" for the tags kept by location.
    std::map<std::string, std::unique_ptr<EventTracker>> retired;
    for (const PresenceChange& p : spool_.presence()) {
        const bool located = !p.location.empty();
        Reader* r = located ? nullptr : reader(p.reader);
        if (located == byLocation && (located ? locations.count(p.location) != 0 : r != nullptr)) {
            (located ? trackers_.front().get() : r->tracker)->restore(p);
            ++restored_;
            continue;
        }
        auto& tracker = retired[located ? "" : p.reader];
        const ReaderConfig* still = located ? nullptr : config_.reader(p.reader);
        if (!tracker && located) tracker = std::make_unique<EventTracker>(rules);
        if (!tracker) tracker = std::make_unique<EventTracker>(p.reader, rules, still ? still->location : "");
        tracker->restore(p);
    }
    for (auto& [name, tracker] : retired) {
        const std::size_t before = waiting_.size();
        tracker->tick(unixMs() + rules.departAfterMs, waiting_);
        tracker->takeChanges(true, presence_);
        const std::string whose =
            !name.empty() ? "reader " + name +
                                (config_.reader(name) ? " (events are by location now)" : " is no longer configured")
            : byLocation ? "locations no longer configured"
                         : "the locations (events are by reader now)";
        logLine(whose + ": " + std::to_string(waiting_.size() - before) + " tag(s) in view depart");
    }
    if (!waiting_.empty()) waitingSinceMs_ = steadyMs();
}

Supervisor::Reader* Supervisor::reader(const std::string& name) {
    for (Reader& r : readers_)
        if (r.config->name == name) return &r;
    return nullptr;
}

void Supervisor::start(Worker& w) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        logLine(std::string("cannot start a worker: ") + std::strerror(errno));
        w.restartAtMs = steadyMs() + w.restarts.max();
        return;
    }
    // Everything the child needs is made before the fork: it only execs.
    std::vector<const ReaderConfig*> configs;
    for (const Reader* r : w.readers) configs.push_back(r->config);
    std::vector<std::string> args = workerArgs(configs);
    args.insert(args.begin(), workerProgram_);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // fd 3 to the supervisor; dup2 clears close-on-exec, unless it is already fd 3.
        if (pair[1] == 3) fcntl(3, F_SETFD, 0);
        else dup2(pair[1], 3);
        // The worker starts with no signal blocked, whatever the mask of
        // the thread that forked it.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pair[1]);
    if (pid < 0) {
        close(pair[0]);
        logLine(std::string("cannot start a worker: ") + std::strerror(errno));
        w.restartAtMs = steadyMs() + w.restarts.max();
        return;
    }
    fcntl(pair[0], F_SETFL, fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    w.pid = pid;
    w.fd = pair[0];
    w.input.clear();
    w.startedMs = steadyMs();
}

void Supervisor::publishState(const Reader& r) {
    nlohmann::json j;
    j["state"] = stateName(r.state);
    j["since"] = rfc3339(r.sinceMs);
    j["detail"] = r.detail;
    int mid = 0;
    // Without a connection it goes nowhere: connected() publishes every
    // reader's status anew.
    mqtt_.publish(config_.prefix + "/" + config_.id + "/" + r.config->name + "/status", j.dump(), true, &mid);
}

void Supervisor::connected() {
    ++metrics_.mqttConnects;
    // Start over from the oldest unacknowledged event; acknowledgements
    // received so far are committed first so their events are not sent again.
    commit(true);
    inflight_.clear();
    cursor_ = 0;
    // Every reader's retained status anew: what a gateway that vanished
    // left there is stale.
    for (const Reader& r : readers_) publishState(r);
}

void Supervisor::acked(int mid) {
    const auto it = inflight_.find(mid);
    if (it == inflight_.end()) return;  // a status message
    acked_.push_back(it->second.seq);
    ++metrics_.published;
    metrics_.observeLatency(static_cast<double>(unixMs() - it->second.storedMs) / 1000.0);
    inflight_.erase(it);
}

void Supervisor::count(const std::vector<TagEvent>& events) {
    for (const TagEvent& e : events) {
        switch (e.type) {
        case EventType::Arrive: ++metrics_.arrive; break;
        case EventType::Report: ++metrics_.report; break;
        case EventType::Depart: ++metrics_.depart; break;
        case EventType::Move: ++metrics_.move; break;
        case EventType::Direction: ++metrics_.direction; break;
        }
    }
}

void Supervisor::commit(bool force) {
    const std::int64_t now = steadyMs();
    // Tags only read since they were stored go along at most every presenceEveryMs_.
    const bool presenceDue = now - presenceFlushedMs_ >= presenceEveryMs_;
    bool presence = !presence_.empty();
    for (const auto& tracker : trackers_) presence = presence || tracker->changed();
    // Retention alone commits now and then; with events flowing it goes
    // along with their commits.
    const bool trim = now - committedMs_ >= kTrimEveryMs && spool_.historyDue(unixMs());
    if (waiting_.empty() && acked_.empty() && !presence && !trim) return;
    if (!force) {
        const bool due =
            (!waiting_.empty() && (now - waitingSinceMs_ >= config_.commitMs || waiting_.size() >= kCommitBatch)) ||
            (!acked_.empty() && now - committedMs_ >= config_.commitMs) || (presence && presenceDue) || trim;
        // After a failed commit the spool is tried again a second later,
        // not on every turn.
        if (!due || now < spoolRetryAtMs_) return;
    }
    // Taken now, each event's change goes into the same transaction as the event.
    for (auto& tracker : trackers_) tracker->takeChanges(force || presenceDue, presence_);
    try {
        Spool::Commit c = spool_.commit(waiting_, config_.id, acked_, unixMs(), presence_);
        metrics_.commitSeconds += static_cast<double>(steadyMs() - now) / 1000.0;
        ++metrics_.commits;
        count(waiting_);
        if (dash_) dash_->events(waiting_);
        metrics_.historyExpired += static_cast<std::uint64_t>(c.historyExpired);
        metrics_.historyOverflowed += static_cast<std::uint64_t>(c.historyOverflowed);
        if (c.historyOverflowed && !historyFullLogged_) {
            historyFullLogged_ = true;
            logLine("history full (max_events " + std::to_string(config_.historyMaxEvents) +
                    "): from now on the oldest events leave it as new ones come");
        }
        if (c.dropped) {
            metrics_.dropped += static_cast<std::uint64_t>(c.dropped);
            logLine("spool full (max_events " + std::to_string(config_.maxEvents) + "): dropped " +
                    std::to_string(c.dropped) + " unpublished events, seq " + std::to_string(c.firstDropped) + ".." +
                    std::to_string(c.lastDropped));
        }
        if (!metrics_.spoolError.empty())
            logLine("spool: writable again; " + std::to_string(waiting_.size()) + " held events stored");
        metrics_.spoolError.clear();
        waiting_.clear();
        acked_.clear();
        presence_.clear();
        committedMs_ = now;
        if (force || presenceDue) presenceFlushedMs_ = now;
    } catch (const SpoolError& e) {
        ++metrics_.spoolErrors;
        if (metrics_.spoolError != e.what())
            logLine(std::string(e.what()) + "; holding " + std::to_string(waiting_.size()) +
                    " events in memory, nothing published until they are stored");
        metrics_.spoolError = e.what();
        spoolRetryAtMs_ = now + 1000;
        // Memory is bounded like the spool: past max_events the oldest go,
        // counted among the events made (as stored ones are when stored)
        // and among the dropped, so that the counters still add up.
        if (static_cast<std::int64_t>(waiting_.size()) > config_.maxEvents) {
            const std::size_t over = waiting_.size() - static_cast<std::size_t>(config_.maxEvents);
            count(std::vector<TagEvent>(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(over)));
            waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(over));
            metrics_.dropped += over;
            logLine("spool unwritable: dropped " + std::to_string(over) + " oldest unstored events");
        }
        // Only the last change of each tag matters: the held changes stay
        // as many as the tags, however long the spool stays unwritable.
        std::unordered_map<std::string, std::size_t> last;
        for (std::size_t i = 0; i < presence_.size(); ++i) last[presence_[i].row()] = i;
        std::vector<PresenceChange> kept;
        for (std::size_t i = 0; i < presence_.size(); ++i)
            if (last[presence_[i].row()] == i) kept.push_back(std::move(presence_[i]));
        presence_ = std::move(kept);
    }
    metrics_.spoolDepth = spool_.depth();
    metrics_.historySize = spool_.historySize();
    metrics_.held = static_cast<std::int64_t>(waiting_.size());
}

void Supervisor::publish() {
    sendStored();
    mqtt_.flush();
}

// Stored events after the cursor to the broker, as many as the in-flight
// window takes.
void Supervisor::sendStored() {
    if (!mqtt_.connected()) return;
    const std::size_t window = static_cast<std::size_t>(config_.inflight);
    while (inflight_.size() < window && cursor_ + 1 < spool_.nextSeq()) {
        std::vector<StoredEvent> batch;
        try {
            batch = spool_.fetch(cursor_, std::min<std::size_t>(window - inflight_.size(), 500));
        } catch (const SpoolError& e) {
            logLine(e.what());
            return;
        }
        // Everything after the cursor was acknowledged or dropped meanwhile.
        if (batch.empty()) {
            cursor_ = spool_.nextSeq() - 1;
            return;
        }
        for (const StoredEvent& e : batch) {
            int mid = 0;
            // Refused, the connection was dropped with what was in flight:
            // the next one starts again from the oldest stored event.
            if (!mqtt_.publish(config_.prefix + "/" + config_.id + "/" + e.topic + "/events", e.payload, false, &mid))
                return;
            inflight_[mid] = {e.seq, e.storedMs};
            cursor_ = e.seq;
        }
    }
}

void Supervisor::render(bool force) {
    const std::int64_t now = steadyMs();
    if (!force && now - renderedAtMs_ < 250) return;
    renderedAtMs_ = now;
    metrics_.mqttConnected = mqtt_.connected();
    metrics_.spoolDepth = spool_.depth();
    metrics_.historySize = spool_.historySize();
    int status = 200;
    std::string health = metrics_.health(config_.id, &status);
    pages_.set(metrics_.prometheus(config_.id), std::move(health), status);
    if (dash_) {
        std::map<std::string, Dashboard::Counters> counters;
        // By location, a tag counts with the reader of its last read.
        std::map<std::string, std::size_t> byReader;
        if (config_.scope == Scope::Location) trackers_.front()->countByReader(byReader);
        for (const Reader& r : readers_) {
            const ReaderMetrics& m = metrics_.readers[r.config->name];
            counters[r.config->name] = {
                m.reads, m.reconnects, m.restarts,
                config_.scope == Scope::Location ? byReader[r.config->name] : r.tracker->inView()};
        }
        dash_->sample(unixMs(), counters);
    }
}

void Supervisor::shutdown() {
    logLine("stopping: " + std::to_string(workers_.size()) + " worker(s)");
    for (Worker& w : workers_)
        if (w.pid > 0) kill(w.pid, SIGTERM);
    // Workers end within about a second (every reader call is bounded); then they are killed.
    const std::int64_t deadline = steadyMs() + 5000;
    for (;;) {
        bool left = false;
        for (Worker& w : workers_) {
            if (w.fd >= 0) input(w);
            if (w.pid > 0 && waitpid(w.pid, nullptr, WNOHANG) == w.pid) w.pid = -1;
            left = left || w.pid > 0;
        }
        if (!left) break;
        if (steadyMs() > deadline) {
            for (Worker& w : workers_)
                if (w.pid > 0) kill(w.pid, SIGKILL), waitpid(w.pid, nullptr, 0), w.pid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // What is in memory goes to the spool; then a short while for the
    // broker to acknowledge what is in flight.
    commit(true);
    const std::int64_t until = steadyMs() + 2000;
    while (mqtt_.connected() && steadyMs() < until && (!inflight_.empty() || cursor_ + 1 < spool_.nextSeq())) {
        sendStored();
        pollfd p = mqtt_.watch();
        if (p.fd < 0) break;
        if (poll(&p, 1, 20) <= 0) p.revents = 0;
        mqtt_.serve(p);
        mqtt_.service();
    }
    for (Reader& r : readers_) setState(r, ReaderState::Offline, "gateway stopped");
    mqtt_.close(1000);
    // The acknowledgements that came in while closing, and the tags in view.
    commit(true);
    if (http_) {
        dash_->stop();
        http_->stop();
        if (httpThread_.joinable()) httpThread_.join();
    }
    logLine("stopped; " + std::to_string(spool_.depth()) + " unacknowledged event(s) kept in the spool");
}

int runSupervisor(const Config& config, const std::string& worker) {
    if (access(worker.c_str(), X_OK) != 0)
        throw std::runtime_error("the worker program " + worker +
                                 " is missing (install morventd-worker beside morventd)");
    Supervisor supervisor(config, worker);
    return supervisor.run();
}

}  // namespace morventd

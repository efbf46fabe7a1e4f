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
#include <memory>
#include <thread>
#include <unordered_map>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "gateway/dashboard.h"
#include "gateway/events.h"
#include "gateway/log.h"
#include "gateway/metrics.h"
#include "gateway/mqtt.h"
#include "gateway/spool.h"

namespace morventd {

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int signal) {
    const int saved = errno;
    const char c = static_cast<char>(signal);
    ssize_t n = ::write(signalPipe[1], &c, 1);
    (void)n;
    errno = saved;
}

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::int64_t unixMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

constexpr std::int64_t kRestartMinMs = 250;
constexpr std::int64_t kRestartMaxMs = 30000;
constexpr std::int64_t kStableRunMs = 30000;  // a worker that ran this long restarts at once
constexpr std::size_t kCommitBatch = 4000;     // commit early past this many waiting events

// One reader as the supervisor keeps it: its events and its state.
struct ReaderState {
    const ReaderConfig* config = nullptr;
    std::unique_ptr<EventTracker> tracker;
    std::string state = "connecting", detail = "starting";
    std::int64_t sinceMs = 0;
};

// One worker process: a TCP reader, or the readers of one serial bus.
struct Worker {
    std::vector<ReaderState*> readers;
    pid_t pid = -1;
    int fd = -1;
    std::string input;
    std::int64_t startedMs = 0, restartAtMs = 0, backoffMs = kRestartMinMs;

    std::string name() const {
        return readers.size() == 1 ? readers[0]->config->name : "bus " + readers[0]->config->port();
    }
    ReaderState* reader(const char* name, std::size_t size) const {
        for (ReaderState* r : readers)
            if (r->config->name.size() == size && r->config->name.compare(0, size, name, size) == 0) return r;
        return nullptr;
    }
};

class Supervisor {
public:
    Supervisor(const Config& config, std::string workerProgram)
        : config_(config), workerProgram_(std::move(workerProgram)), spool_(config.spool, config.maxEvents), mqtt_(config) {
        EventRules rules;
        rules.reportEveryMs = static_cast<std::int64_t>(config.reportEveryS * 1000);
        rules.departAfterMs = static_cast<std::int64_t>(config.departAfterS * 1000);
        rules.arriveAfterReads = config.arriveAfterReads;
        // A tag only read since it was stored is written again at most this
        // often; a crash loses no more of its last reads.
        presenceEveryMs_ = std::clamp<std::int64_t>(rules.departAfterMs / 10, config.commitMs, 1000);
        readers_.reserve(config.readers.size());  // the workers point into it
        for (const std::vector<const ReaderConfig*>& link : config.links()) {
            Worker& w = workers_.emplace_back();
            for (const ReaderConfig* r : link) {
                ReaderState& state = readers_.emplace_back();
                state.config = r;
                state.tracker = std::make_unique<EventTracker>(r->name, rules);
                state.sinceMs = unixMs();
                w.readers.push_back(&state);
                metrics_.readers[r->name];
            }
        }
        restorePresence(rules);
        mqtt_.onConnected = [this] { connected(); };
        mqtt_.onDisconnected = [this] { inflight_.clear(); };
        mqtt_.onAcked = [this](int mid) { acked(mid); };
    }

    int run();

private:
    void startHttp();
    void restorePresence(const EventRules& rules);
    ReaderState* reader(const std::string& name);
    void start(Worker& w);
    void reap();
    void input(Worker& w);
    void line(Worker& w, const char* text, std::size_t size);
    void setState(ReaderState& r, const std::string& state, const std::string& detail);
    void publishState(const ReaderState& r);
    void connected();
    void acked(int mid);
    void commit(bool force);
    void publish();
    void count(const std::vector<TagEvent>& events);
    void render(bool force);
    void shutdown();
    void forward();

    const Config& config_;
    std::string workerProgram_;
    Spool spool_;
    Mqtt mqtt_;
    std::vector<ReaderState> readers_;
    std::vector<Worker> workers_;
    std::vector<TagEvent> waiting_;  // events not yet in the spool
    std::vector<PresenceChange> presence_;  // changes to the tags in view not yet in the spool
    std::int64_t presenceEveryMs_ = 1000;
    std::int64_t presenceFlushedMs_ = 0;
    std::size_t restored_ = 0;  // tags in view carried over from the last run
    std::int64_t waitingSinceMs_ = 0;
    std::int64_t committedMs_ = 0;
    std::vector<std::uint64_t> acked_;
    struct InFlight {
        std::uint64_t seq;
        std::int64_t storedMs;
    };
    std::unordered_map<int, InFlight> inflight_;
    std::uint64_t cursor_ = 0;  // the last seq handed to the broker on this connection
    std::int64_t spoolRetryAtMs_ = 0;
    Metrics metrics_;
    Pages pages_;
    std::int64_t renderedAtMs_ = 0;
    std::unique_ptr<Dashboard> dash_;
    std::unique_ptr<httplib::Server> http_;
    std::thread httpThread_;
    bool stopping_ = false;
};

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
        throw std::runtime_error("http: cannot listen on " + address + ": " + bindFailure(config_.httpAddress, config_.httpPort));
    httpThread_ = std::thread([this] { http_->listen_after_bind(); });
    logLine("http: dashboard, API, metrics and health on http://" + address);
}

// The tags in view when the gateway stopped carry on: read again within the
// depart time they continue without a second arrive, and those not read
// again depart as if the gateway had never stopped. Tags of readers no longer
// configured depart at once.
void Supervisor::restorePresence(const EventRules& rules) {
    std::map<std::string, std::unique_ptr<EventTracker>> retired;
    for (const PresenceChange& p : spool_.presence()) {
        if (ReaderState* r = reader(p.reader)) {
            r->tracker->restore(p.tag);
            ++restored_;
            continue;
        }
        auto& tracker = retired[p.reader];
        if (!tracker) tracker = std::make_unique<EventTracker>(p.reader, rules);
        tracker->restore(p.tag);
    }
    for (auto& [name, tracker] : retired) {
        const std::size_t before = waiting_.size();
        tracker->tick(unixMs() + rules.departAfterMs, waiting_);
        tracker->takeChanges(true, presence_);
        logLine("reader " + name + " is no longer configured: its " + std::to_string(waiting_.size() - before) +
                " tag(s) in view depart");
    }
    if (!waiting_.empty()) waitingSinceMs_ = steadyMs();
}

ReaderState* Supervisor::reader(const std::string& name) {
    for (ReaderState& r : readers_)
        if (r.config->name == name) return &r;
    return nullptr;
}

void Supervisor::start(Worker& w) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        logLine(std::string("cannot start a worker: ") + std::strerror(errno));
        w.restartAtMs = steadyMs() + kRestartMaxMs;
        return;
    }
    // Everything the child needs is made before the fork: it only execs.
    std::vector<const ReaderConfig*> configs;
    for (const ReaderState* r : w.readers) configs.push_back(r->config);
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
        w.restartAtMs = steadyMs() + kRestartMaxMs;
        return;
    }
    fcntl(pair[0], F_SETFL, fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    w.pid = pid;
    w.fd = pair[0];
    w.input.clear();
    w.startedMs = steadyMs();
}

void Supervisor::reap() {
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        for (Worker& w : workers_) {
            if (w.pid != pid) continue;
            w.pid = -1;
            if (w.fd >= 0) input(w);  // what it sent before it went
            if (w.fd >= 0) close(w.fd), w.fd = -1;
            if (stopping_) break;
            const std::string how = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                                        : "exited with status " + std::to_string(WEXITSTATUS(status));
            const std::int64_t now = steadyMs();
            if (now - w.startedMs > kStableRunMs) w.backoffMs = kRestartMinMs;
            w.restartAtMs = now + w.backoffMs;
            logLine("worker of " + w.name() + " " + how + "; restarting in " + std::to_string(w.backoffMs) + " ms");
            w.backoffMs = std::min(kRestartMaxMs, w.backoffMs * 2);
            for (ReaderState* r : w.readers) {
                ++metrics_.readers[r->config->name].restarts;
                if (dash_) dash_->failAll(r->config->name, "the reader's worker " + how);
                setState(*r, "offline", "worker " + how);
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
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            close(w.fd);
            w.fd = -1;
        }
        break;
    }
    std::size_t at = 0;
    for (std::size_t end; (end = w.input.find('\n', at)) != std::string::npos; at = end + 1)
        line(w, w.input.data() + at, end - at);
    w.input.erase(0, at);
}

void Supervisor::line(Worker& w, const char* text, std::size_t size) {
    // "<kind> <reader> ...": every line but an answer names its reader.
    const char* end = text + size;
    if (size < 2 || text[1] != ' ') return;
    if (text[0] == 'A' && dash_) {
        // A <id> <answer>
        char* p = nullptr;
        const unsigned long long id = std::strtoull(text + 2, &p, 10);
        if (p < end && *p == ' ') dash_->answer(id, std::string(static_cast<const char*>(p) + 1, end));
        return;
    }
    const char* name = text + 2;
    const char* space = static_cast<const char*>(std::memchr(name, ' ', static_cast<std::size_t>(end - name)));
    ReaderState* r = space ? w.reader(name, static_cast<std::size_t>(space - name)) : nullptr;
    if (!r) return;
    const char* rest = space + 1;
    if (text[0] == 'R') {
        // R <reader> <unix ms> <epc> <tid or ->
        char* p = nullptr;
        const long long atMs = std::strtoll(rest, &p, 10);
        if (p >= end || *p != ' ') return;
        const char* epc = p + 1;
        const char* gap = static_cast<const char*>(std::memchr(epc, ' ', static_cast<std::size_t>(end - epc)));
        if (!gap) return;
        std::string tid(gap + 1, end);
        if (tid == "-") tid.clear();
        if (waiting_.empty()) waitingSinceMs_ = steadyMs();
        ++metrics_.readers[r->config->name].reads;
        r->tracker->read(std::string(epc, gap), tid, atMs, waiting_);
    } else if (text[0] == 'S') {
        // S <reader> <state> <detail>
        const std::string line(rest, end);
        const auto gap = line.find(' ');
        const std::string state = line.substr(0, gap);
        const std::string detail = gap == std::string::npos ? "" : line.substr(gap + 1);
        // A link lost after being online; not each attempt to get it back.
        if (state == "connecting" && r->state == "online") {
            ++metrics_.readers[r->config->name].reconnects;
            logLine("reader " + r->config->name + ": " + detail);
        }
        setState(*r, state, detail);
    }
}

// Operations asked for over HTTP go to the worker of their reader, which
// runs them between its rounds and answers on the same channel.
void Supervisor::forward() {
    for (const Dashboard::Request& request : dash_->takeRequests()) {
        const Worker* w = nullptr;
        for (const Worker& candidate : workers_)
            for (const ReaderState* r : candidate.readers)
                if (r->config->name == request.reader) w = &candidate;
        if (!w || w->fd < 0) {
            dash_->answer(request.id, "err -1 -1 the reader is not connected");
            continue;
        }
        const std::string text = "C " + std::to_string(request.id) + " " + request.reader + " " + request.line + "\n";
        const ssize_t n = ::send(w->fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n != static_cast<ssize_t>(text.size())) dash_->answer(request.id, "err -1 -1 the reader's worker is busy; try again");
    }
}

void Supervisor::setState(ReaderState& r, const std::string& state, const std::string& detail) {
    if (state == r.state && detail == r.detail) return;
    if (state != r.state) r.sinceMs = unixMs();
    r.state = state;
    r.detail = detail;
    if (dash_) dash_->readerState(r.config->name, state, r.sinceMs, detail);
    metrics_.readers[r.config->name].state = state;
    publishState(r);
}

void Supervisor::publishState(const ReaderState& r) {
    nlohmann::json j;
    j["state"] = r.state;
    j["since"] = rfc3339(r.sinceMs);
    j["detail"] = r.detail;
    int mid = 0;
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
    for (const ReaderState& r : readers_) publishState(r);
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
        }
    }
}

void Supervisor::commit(bool force) {
    const std::int64_t now = steadyMs();
    // Tags only read since they were stored go along at most every presenceEveryMs_.
    const bool presenceDue = now - presenceFlushedMs_ >= presenceEveryMs_;
    bool presence = !presence_.empty();
    for (const ReaderState& r : readers_) presence = presence || r.tracker->changed();
    if (waiting_.empty() && acked_.empty() && !presence) return;
    if (!force) {
        const bool due = (!waiting_.empty() && (now - waitingSinceMs_ >= config_.commitMs || waiting_.size() >= kCommitBatch)) ||
                         (!acked_.empty() && now - committedMs_ >= config_.commitMs) || (presence && presenceDue);
        if (!due || now < spoolRetryAtMs_) return;
    }
    // Taken now, each event's change goes into the same transaction as the event.
    for (ReaderState& r : readers_) r.tracker->takeChanges(force || presenceDue, presence_);
    try {
        Spool::Commit c = spool_.commit(waiting_, config_.id, acked_, unixMs(), presence_);
        metrics_.commitSeconds += static_cast<double>(steadyMs() - now) / 1000.0;
        ++metrics_.commits;
        count(waiting_);
        if (dash_) dash_->events(waiting_);
        if (c.dropped) {
            metrics_.dropped += static_cast<std::uint64_t>(c.dropped);
            logLine("spool full (max_events " + std::to_string(config_.maxEvents) + "): dropped " +
                    std::to_string(c.dropped) + " unpublished events, seq " + std::to_string(c.firstDropped) + ".." +
                    std::to_string(c.lastDropped));
        }
        if (!metrics_.spoolError.empty()) logLine("spool: writable again; " + std::to_string(waiting_.size()) + " held events stored");
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
        // Memory is bounded like the spool: past max_events the oldest go, counted.
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
        for (std::size_t i = 0; i < presence_.size(); ++i)
            last[presence_[i].reader + ' ' + presence_[i].tag.epc + '/' + presence_[i].tag.tid] = i;
        std::vector<PresenceChange> kept;
        for (std::size_t i = 0; i < presence_.size(); ++i)
            if (last[presence_[i].reader + ' ' + presence_[i].tag.epc + '/' + presence_[i].tag.tid] == i)
                kept.push_back(std::move(presence_[i]));
        presence_ = std::move(kept);
    }
    metrics_.spoolDepth = spool_.depth();
    metrics_.held = static_cast<std::int64_t>(waiting_.size());
}

void Supervisor::publish() {
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
        if (batch.empty()) {
            cursor_ = spool_.nextSeq() - 1;
            return;
        }
        for (const StoredEvent& e : batch) {
            int mid = 0;
            if (!mqtt_.publish(config_.prefix + "/" + config_.id + "/" + e.reader + "/events", e.payload, false, &mid)) return;
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
    int status = 200;
    std::string health = metrics_.health(config_.id, &status);
    pages_.set(metrics_.prometheus(config_.id), std::move(health), status);
    if (dash_) {
        std::map<std::string, Dashboard::Counters> counters;
        for (const ReaderState& r : readers_) {
            const ReaderMetrics& m = metrics_.readers[r.config->name];
            counters[r.config->name] = {m.reads, m.reconnects, m.restarts, r.tracker->inView()};
        }
        dash_->sample(unixMs(), counters);
    }
}

int Supervisor::run() {
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
            std::to_string(workers_.size()) + " worker(s), spool " +
            config_.spool + " holds " + std::to_string(spool_.depth()) + " unacknowledged event(s), next seq " +
            std::to_string(spool_.nextSeq()) + ", " + std::to_string(restored_) + " tag(s) in view carried over");
    for (Worker& w : workers_) start(w);
    render(true);

    std::vector<pollfd> fds;
    std::vector<Worker*> owners;
    std::vector<TagEvent> departs;
    while (!stopping_) {
        fds.clear();
        owners.clear();
        fds.push_back({signalPipe[0], POLLIN, 0});
        owners.push_back(nullptr);
        for (Worker& w : workers_)
            if (w.fd >= 0) fds.push_back({w.fd, POLLIN, 0}), owners.push_back(&w);
        const int dashAt = static_cast<int>(fds.size());
        if (dash_) fds.push_back({dash_->wakeFd(), POLLIN, 0}), owners.push_back(nullptr);
        const int mqttAt = static_cast<int>(fds.size());
        const int mqttFd = mqtt_.socket();
        if (mqttFd >= 0) fds.push_back({mqttFd, static_cast<short>(POLLIN | (mqtt_.wantWrite() ? POLLOUT : 0)), 0});
        int timeout = 100;
        if (!waiting_.empty() || !acked_.empty()) timeout = std::min(timeout, config_.commitMs);
        timeout = std::min(timeout, mqtt_.untilServiceMs());
        const int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));

        if (ready > 0 && (fds[0].revents & POLLIN)) {
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
        for (std::size_t i = 1; ready > 0 && i < owners.size(); ++i)
            if (owners[i] && fds[i].revents && owners[i]->fd >= 0) input(*owners[i]);
        if (dash_ && ready > 0 && (fds[dashAt].revents & POLLIN)) forward();
        if (mqttFd >= 0 && ready > 0 && static_cast<std::size_t>(mqttAt) < fds.size() && mqtt_.socket() == mqttFd) {
            if (fds[mqttAt].revents & (POLLIN | POLLHUP | POLLERR)) mqtt_.readable();
            if (mqtt_.socket() == mqttFd && (fds[mqttAt].revents & POLLOUT)) mqtt_.writable();
        }
        const std::int64_t now = unixMs();
        for (ReaderState& r : readers_) {
            const std::size_t before = waiting_.size();
            r.tracker->tick(now, waiting_);
            if (before == 0 && !waiting_.empty()) waitingSinceMs_ = steadyMs();
        }
        mqtt_.service();
        commit(false);
        publish();
        if (mqtt_.wantWrite()) mqtt_.writable();
        const std::int64_t steady = steadyMs();
        for (Worker& w : workers_)
            if (w.pid < 0 && steady >= w.restartAtMs && !stopping_) start(w);
        render(false);
    }
    shutdown();
    return 0;
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
        publish();
        const int fd = mqtt_.socket();
        if (fd < 0) break;
        pollfd p{fd, static_cast<short>(POLLIN | (mqtt_.wantWrite() ? POLLOUT : 0)), 0};
        if (poll(&p, 1, 20) > 0) {
            if (p.revents & (POLLIN | POLLHUP | POLLERR)) mqtt_.readable();
            if (mqtt_.socket() == fd && (p.revents & POLLOUT)) mqtt_.writable();
        }
        mqtt_.service();
    }
    for (ReaderState& r : readers_) setState(r, "offline", "gateway stopped");
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

}  // namespace

int runSupervisor(const Config& config, const std::string& worker) {
    if (access(worker.c_str(), X_OK) != 0)
        throw std::runtime_error("the worker program " + worker + " is missing (install morventd-worker beside morventd)");
    Supervisor supervisor(config, worker);
    return supervisor.run();
}

}  // namespace morventd

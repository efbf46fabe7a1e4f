#include "gateway/worker.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <deque>
#include <optional>

#include "common/clock.h"
#include "gateway/channel.h"
#include "gateway/log.h"
#include "gateway/operation.h"
#include "gateway/reader_source.h"

namespace morventd {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStop(int) { stopRequested = 1; }

using morvent_common::Backoff;
using morvent_common::steadyMs;
using morvent_common::unixMs;

// The waits between attempts to open the link, and to reach a reader on it.
constexpr Backoff kRetry{250, 30000};

// One reader of the link, and where the worker stands with it.
struct Turn {
    explicit Turn(const ReaderConfig& config) : source(config) {}
    ReaderSource source;
    std::int64_t dueMs = 0;  // its next round, or its next attempt to reach it
    Backoff backoff = kRetry;
    bool tried = false;  // asked since the link was opened
    std::string logged;  // the failure last logged: a reader away for long logs it once
};

// The worker's end of the channel to the supervisor (channel.h).
class SupervisorLink {
public:
    explicit SupervisorLink(int fd) : fd_(fd) {}
    // Whole lines to the supervisor; false once it is gone.
    bool send(const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool state(const Turn& turn, ReaderState state, const std::string& detail) {
        return send(format(StateMessage{turn.source.config().name, state, detail}));
    }

    // Waits at most `ms` for requests and answers each at once, by its
    // reader when that is attached.
    bool serve(std::deque<Turn>& turns, int ms) {
        pollfd p{fd_, POLLIN, 0};
        if (ms > 0 && poll(&p, 1, ms) <= 0) return true;  // nothing, or a signal to look at
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                input_.append(buffer, static_cast<std::size_t>(n));
                if (input_.size() > 1 << 20) input_.clear();  // no request is this long
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) return false;
            break;
        }
        std::size_t at = 0;
        for (std::size_t end; (end = input_.find('\n', at)) != std::string::npos; at = end + 1) {
            Request request;
            if (!parse(std::string_view(input_).substr(at, end - at), request)) continue;
            Answer answer = this->answer(turns, request);
            answer.id = request.id;
            if (!send(format(answer))) return false;
        }
        input_.erase(0, at);
        return true;
    }

private:
    static Answer answer(std::deque<Turn>& turns, const Request& request) {
        for (Turn& t : turns) {
            if (t.source.config().name != request.reader) continue;
            if (!t.source.attached()) return notConnected();
            // In active mode the reader sends on its own; commands wait for poll mode.
            if (t.source.config().active)
                return Answer::refused(Outcome::ActiveMode,
                                       "the reader runs in active mode: tag and reader "
                                       "operations need mode = \"poll\"");
            return runOperation(*t.source.reader(), request.operation);
        }
        return Answer::refused(Outcome::Invalid, "no reader " + request.reader + " on this link");
    }

    int fd_;
    std::string input_;
};

}  // namespace

int runWorker(const std::vector<ReaderConfig>& readers, int fd) {
    const ReaderConfig& first = readers.front();
    const bool bus = readers.size() > 1;
    setLogTag("morventd[" + (bus ? first.port() : first.name) + "]");
    struct sigaction stop {};
    stop.sa_handler = onStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // The worker never outlives its supervisor. One that died before the
    // line above took effect left this process to init already.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1) return 1;

    SupervisorLink supervisor(fd);
    std::deque<Turn> turns;
    for (const ReaderConfig& r : readers) turns.emplace_back(r);
    // On a bus every line of the log names its reader.
    auto who = [&](const Turn& t) { return bus ? t.source.config().name + ": " : std::string(); };
    std::optional<morvent::Reader> link;
    std::int64_t linkRetryAtMs = 0;
    Backoff linkBackoff = kRetry;
    std::string linkLogged;
    std::vector<TagRead> reads;
    std::string line;
    for (const Turn& t : turns)
        if (!supervisor.state(t, ReaderState::Connecting, first.link())) return 1;
    while (!stopRequested) {
        const std::int64_t now = steadyMs();
        if (!link) {
            if (now < linkRetryAtMs) {
                const int waitMs = static_cast<int>(std::min<std::int64_t>(100, linkRetryAtMs - now));
                if (!supervisor.serve(turns, waitMs)) return 1;
                continue;
            }
            std::string error;
            link = openLink(readers, &error);
            if (!link) {
                if (error != linkLogged) logLine(error + "; retrying");
                linkLogged = error;
                for (const Turn& t : turns)
                    if (!supervisor.state(t, ReaderState::Connecting, error)) return 1;
                linkRetryAtMs = now + linkBackoff.next();
                continue;
            }
            linkLogged.clear();
            for (Turn& t : turns) t.dueMs = now, t.backoff.reset(), t.tried = false;
        }
        // The reader whose turn is due first; on a tie, the first in the file.
        Turn& t = *std::min_element(turns.begin(), turns.end(),
                                    [](const Turn& a, const Turn& b) { return a.dueMs < b.dueMs; });
        if (t.dueMs > now) {
            if (!supervisor.serve(turns, static_cast<int>(std::min<std::int64_t>(100, t.dueMs - now)))) return 1;
            continue;
        }
        const ReaderConfig& r = t.source.config();
        if (!t.source.attached()) {
            t.tried = true;
            if (t.source.attach(*link)) {
                t.backoff.reset();
                t.logged.clear();
                logLine(who(t) + stateName(ReaderState::Online) + ": " + r.link() +
                        (r.address != 0xFF ? ", address " + std::to_string(r.address) : "") +
                        (r.active ? ", active mode" : ", poll mode"));
                if (!supervisor.state(t, ReaderState::Online, r.link())) return 1;
            } else {
                if (t.source.lastError() != t.logged) logLine(who(t) + t.source.lastError() + "; retrying");
                t.logged = t.source.lastError();
                if (!supervisor.state(t, ReaderState::Connecting, t.source.lastError())) return 1;
                t.dueMs = now + t.backoff.next();
            }
        } else {
            reads.clear();
            const ReaderSource::Result result = t.source.round(reads);
            if (!reads.empty()) {
                const std::int64_t at = unixMs();
                line.clear();
                for (const TagRead& read : reads) line += format(ReadMessage{r.name, at, read.epc, read.tid});
                if (!supervisor.send(line)) return 1;
            }
            if (result == ReaderSource::Result::LinkLost) {
                const std::string detail = "link lost: " + t.source.lastError();
                logLine(who(t) + detail + "; reconnecting");
                t.source.detach();
                if (!supervisor.state(t, ReaderState::Connecting, detail)) return 1;
                // The first try to reach it again waits the shortest time, and
                // leaves the back-off as it is: attached, it was reset.
                t.dueMs = now + t.backoff.min();
            } else {
                // A link that works again retries at once when it is next lost.
                linkBackoff.reset();
                t.dueMs = r.active ? now : steadyMs() + r.pollIntervalMs;
            }
        }
        // No reader answers any more: the link itself is opened anew (a
        // connection dropped, a device unplugged and back).
        if (std::all_of(turns.begin(), turns.end(), [](const Turn& x) { return x.tried && !x.source.attached(); })) {
            link.reset();
            linkRetryAtMs = now + linkBackoff.next();
        }
        if (!supervisor.serve(turns, 0)) return 1;
    }
    for (Turn& t : turns) t.source.detach();
    return 0;
}

}  // namespace morventd

#include "gateway/worker.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

#include "gateway/log.h"
#include "gateway/operation.h"
#include "gateway/reader_source.h"

namespace morventd {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStop(int) {
    stopRequested = 1;
}

std::int64_t unixMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Sleeps up to `ms`, waking early when asked to stop.
void rest(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopRequested && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(std::chrono::milliseconds(20),
                                                                     until - std::chrono::steady_clock::now()));
}

class Channel {
public:
    explicit Channel(int fd) : fd_(fd) {}
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
    bool state(const char* state, const std::string& detail) {
        std::string line = std::string("S ") + state + " " + detail;
        for (char& c : line)
            if (c == '\n') c = ' ';
        return send(line + "\n");
    }

    // Requests the supervisor sent ("C <id> <request>"), answered at once:
    // by `reader` when it is open, else refused as offline.
    bool serve(morvent::Reader* reader, const char* refusal = "the reader is not connected") {
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
            const std::string request = input_.substr(at, end - at);
            if (request.rfind("C ", 0) != 0) continue;
            const std::size_t space = request.find(' ', 2);
            if (space == std::string::npos) continue;
            const std::string id = request.substr(2, space - 2);
            std::string answer = reader ? runOperation(*reader, request.substr(space + 1))
                                        : std::string("err -1 -1 ") + refusal;
            for (char& c : answer)
                if (c == '\n') c = ' ';
            if (!send("A " + id + " " + answer + "\n")) return false;
        }
        input_.erase(0, at);
        return true;
    }

private:
    int fd_;
    std::string input_;
};

}  // namespace

int runWorker(const ReaderConfig& reader, int fd) {
    setLogTag("morventd[" + reader.name + "]");
    struct sigaction stop {};
    stop.sa_handler = onStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // The worker never outlives its supervisor.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1) return 1;

    Channel channel(fd);
    ReaderSource source(reader);
    std::vector<TagRead> reads;
    std::string line;
    int backoffMs = 250;
    std::string detail = reader.link();
    std::string lastLogged;
    while (!stopRequested) {
        if (!channel.state("connecting", detail)) return 1;
        if (!source.open()) {
            detail = source.lastError();
            if (!channel.serve(nullptr)) return 1;
            if (detail != lastLogged) logLine(detail + "; retrying");
            lastLogged = detail;
            rest(backoffMs);
            backoffMs = std::min(30000, backoffMs * 2);
            continue;
        }
        backoffMs = 250;
        lastLogged.clear();
        logLine("online: " + reader.link() + (reader.active ? ", active mode" : ", poll mode"));
        if (!channel.state("online", reader.link())) return 1;
        while (!stopRequested) {
            reads.clear();
            const ReaderSource::Result result = source.round(reads);
            if (!reads.empty()) {
                const std::string at = std::to_string(unixMs());
                line.clear();
                for (const TagRead& r : reads) line += "R " + at + " " + r.epc + " " + (r.tid.empty() ? "-" : r.tid) + "\n";
                if (!channel.send(line)) return 1;
            }
            if (result == ReaderSource::Result::LinkLost) break;
            // In active mode the reader sends on its own; commands wait for poll mode.
            if (!(reader.active ? channel.serve(nullptr, "the reader runs in active mode: tag and reader operations need mode = \"poll\"")
                                : channel.serve(source.reader())))
                return 1;
            if (!reader.active && reader.pollIntervalMs) rest(reader.pollIntervalMs);
        }
        if (stopRequested) break;
        detail = "link lost: " + source.lastError();
        logLine(detail + "; reconnecting");
        source.close();
    }
    source.close();
    return 0;
}

}  // namespace morventd

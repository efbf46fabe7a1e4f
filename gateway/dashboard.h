// What the gateway shows over HTTP: the JSON API (readers, tags in view,
// Server-Sent Events of tag events and reader states), the dashboard's pages,
// and the operations on a reader, which its worker carries out.
//
// The supervisor feeds the state in from its loop; the HTTP threads read it
// under one mutex. Operations travel as requests the supervisor takes from
// here (woken through `wakeFd()`) and writes to the worker; the answer comes
// back through `answer()`, and the HTTP thread waits for it a bounded time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "gateway/channel.h"
#include "gateway/config.h"
#include "gateway/events.h"

namespace httplib {
class Server;
}

namespace morventd {

class Dashboard {
public:
    static constexpr int kHistoryS = 600;          // read-rate samples kept, one a second
    static constexpr std::size_t kBacklog = 2000;  // SSE messages kept for slow clients
    static constexpr std::size_t kMaxBody = 16 * 1024;

    explicit Dashboard(const Config& config);
    ~Dashboard();
    Dashboard(const Dashboard&) = delete;
    Dashboard& operator=(const Dashboard&) = delete;

    void install(httplib::Server& server);
    void stop();  // ends the event streams and fails waiting operations

    // ---- fed by the supervisor's loop ----
    void readerState(const std::string& reader, ReaderState state, std::int64_t sinceMs, const std::string& detail);
    void events(const std::vector<TagEvent>& events);
    struct Counters {
        std::uint64_t reads = 0, reconnects = 0, restarts = 0;
        std::size_t inView = 0;
    };
    // Called often; takes a read-rate sample once a second.
    void sample(std::int64_t nowMs, const std::map<std::string, Counters>& counters);

    int wakeFd() const { return wake_[0]; }
    std::vector<Request> takeRequests();                              // drains the wake pipe too
    void answer(const Answer& answer);                                // to the request answer.id
    void failAll(const std::string& reader, const std::string& why);  // its worker went away

    // Whether a request is addressed to this gateway, by its Host header: 0,
    // or the HTTP status and *message.
    int admitHost(const std::string& host, std::string* message) const;
    // Whether a request that changes something may come from where it does:
    // from the dashboard's own origin (or no browser at all), as JSON.
    static int admitChange(const std::string& host, const std::string& origin, const std::string& contentType,
                           std::string* message);
    // Who may write: 0 when allowed, else the HTTP status and message.
    int authorize(const std::string& authorization, std::string* message) const;
    // A request from the API's JSON body; "" and *error set when it is refused.
    static std::string requestLine(const std::string& operation, const std::string& body, std::string* error);
    // The JSON answer to the API and its HTTP status, from the worker's
    // answer to the operation `line`.
    static std::string answerJson(const std::string& line, const Answer& answer, int* status);

private:
    struct Reader {
        std::string name, link;
        ReaderState state = ReaderState::Connecting;
        std::string detail, lastError;
        std::int64_t sinceMs = 0;
        Counters counters;
        std::uint64_t sampledReads = 0;
        double rate = 0;
        std::deque<double> history;
    };
    struct Tag {
        std::string reader, location, epc, tid, uri;
        std::int64_t firstSeenMs = 0, lastSeenMs = 0;
        std::uint64_t count = 0;
    };
    struct Pending {
        bool done = false;
        Answer answer;
        std::string reader;
    };

    std::string readerJsonLocked(const Reader& r, bool history) const;
    std::string tagsJsonLocked() const;
    void pushLocked(const std::string& event, const std::string& data);
    std::string operate(const std::string& reader, const std::string& line, int* status);

    const Config& config_;
    std::set<std::string> hostNames_;  // lower case
    bool anyAddress_ = false;          // listening on 0.0.0.0: any IPv4 address is ours
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Reader> readers_;
    std::map<std::string, Tag> tags_;  // reader + ' ' + epc
    std::deque<std::pair<std::uint64_t, std::string>> messages_;
    std::uint64_t nextMessage_ = 1;
    std::int64_t nextSampleMs_ = 0, lastSampleMs_ = 0;
    std::vector<Request> requests_;
    std::map<std::uint64_t, std::shared_ptr<Pending>> pending_;
    std::uint64_t nextRequest_ = 1;
    bool stopping_ = false;
    int wake_[2] = {-1, -1};
};

}  // namespace morventd

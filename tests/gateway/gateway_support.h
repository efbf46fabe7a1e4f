// Whole-system fixtures for the gateway: a real mosquitto broker on a free
// loopback port, simulated readers, morventd itself and an MQTT subscriber.
// Every process is stopped by its owner; every wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace gwtest {

int freePort();
std::string slurp(const std::string& path);
// Polls `done` every 20 ms for at most `ms`; true once it held.
bool waitFor(const std::function<bool()>& done, int ms);

// A child process with stdout and stderr in files under `dir`.
class Process {
public:
    Process() = default;
    Process(const std::vector<std::string>& argv, const std::string& dir, const std::string& name);
    ~Process();
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;

    pid_t pid() const { return pid_; }
    bool running();
    // Sends `signal`, waits at most `ms`, then kills; the exit status (-1: killed).
    int stop(int signal = 15, int ms = 10000);
    std::string out() const { return slurp(out_); }
    std::string err() const { return slurp(err_); }

private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string out_, err_;
};

class Broker {
public:
    // `extra`: more mosquitto.conf lines.
    explicit Broker(const std::string& dir, int port = 0, const std::string& extra = "");
    ~Broker() { stop(); }
    int port() const { return port_; }
    void start();
    void stop();
    std::string log() const { return process_.err(); }

private:
    std::string dir_;
    int port_;
    Process process_;
};

// morvent-sim with one reader on a TCP port (0: a free one), and one more
// reader for every "--reader" among `extra`.
class Sim {
public:
    Sim(const std::string& dir, const std::vector<std::string>& extra = {}, int port = 0);
    int port(std::size_t reader = 0) const { return ports_.at(reader); }
    Process& process() { return process_; }

private:
    std::vector<int> ports_;
    Process process_;
};

struct Message {
    std::string topic, payload;
};

// Subscribes to "#" with QoS 1 in a persistent session, so that nothing
// published while it reconnects (or the broker restarts) is lost to it.
class Subscriber {
public:
    Subscriber(int port, const std::string& id);
    ~Subscriber();
    std::vector<Message> messages();
    std::size_t count();
    bool connected();

private:
    static void onMessage(mosquitto*, void*, const mosquitto_message*);
    static void onConnect(mosquitto*, void*, int);
    mosquitto* client_ = nullptr;
    std::mutex mutex_;
    std::vector<Message> messages_;
    bool connected_ = false;
};

struct Event {
    std::uint64_t seq = 0;
    std::string gateway, reader, type, payload;
};
// The event messages among `messages`, in arrival order.
std::vector<Event> events(const std::vector<Message>& messages, const std::string& gateway);
// The last retained state ("online", ...) seen for reader `reader` of gateway `gw`.
std::string lastState(const std::vector<Message>& messages, const std::string& prefix);

// A spool's contents, read with its own code: the seqs still waiting and the next seq.
struct SpoolView {
    std::vector<std::uint64_t> waiting;
    std::uint64_t nextSeq = 0;
};
SpoolView readSpool(const std::string& path);

}  // namespace gwtest

#include "gateway_support.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <nlohmann/json.hpp>

#include "gateway/spool.h"

namespace gwtest {

int freePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        throw std::runtime_error("no free port");
    close(s);
    return ntohs(a.sin_port);
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waitFor(const std::function<bool()>& done, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

Process::Process(const std::vector<std::string>& argv, const std::string& dir, const std::string& name)
    : out_(dir + "/" + name + ".out"), err_(dir + "/" + name + ".err") {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        // A test that dies (a sanitizer stopping it, say) leaves no broker or reader behind.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execvp(args[0], args.data());
        _exit(127);
    }
}

Process::~Process() {
    if (pid_ > 0) stop(SIGKILL, 5000);
}

Process::Process(Process&& other) noexcept {
    *this = std::move(other);
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        if (pid_ > 0) stop(SIGKILL, 5000);
        pid_ = other.pid_;
        status_ = other.status_;
        out_ = std::move(other.out_);
        err_ = std::move(other.err_);
        other.pid_ = -1;
    }
    return *this;
}

bool Process::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return false;
    }
    return true;
}

int Process::stop(int signal, int ms) {
    if (pid_ <= 0) return status_;
    kill(pid_, signal);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return status_ = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Broker::Broker(const std::string& dir, int port, const std::string& extra) : dir_(dir), port_(port ? port : freePort()) {
    std::ofstream(dir_ + "/mosquitto.conf") << "listener " << port_ << " 127.0.0.1\n"
                                            << "allow_anonymous true\n"
                                            << "persistence true\n"
                                            << "persistence_location " << dir_ << "/\n"
                                            << "max_queued_messages 1000000\n"
                                            << extra;
    // Started as root, mosquitto would change to its own user and could not
    // write its persistence file here.
    if (geteuid() == 0) std::ofstream(dir_ + "/mosquitto.conf", std::ios::app) << "user root\n";
    start();
}

void Broker::start() {
    process_ = Process({"mosquitto", "-c", dir_ + "/mosquitto.conf"}, dir_, "mosquitto");
    // Listening once a client can connect.
    const bool up = waitFor(
        [&] {
            const int s = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<std::uint16_t>(port_));
            const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            close(s);
            return ok;
        },
        10000);
    if (!up) throw std::runtime_error("mosquitto did not start: " + process_.err());
}

void Broker::stop() {
    process_.stop(SIGTERM, 5000);
}

Sim::Sim(const std::string& dir, const std::vector<std::string>& extra, int port) {
    static int number = 0;
    const std::string name = "sim" + std::to_string(++number);
    std::vector<std::string> argv{MORVENT_SIM_PATH, "--tcp", std::to_string(port), "--run-for", "300"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    process_ = Process(argv, dir, name);
    const auto readers = 1 + std::count(extra.begin(), extra.end(), "--reader");
    const auto listening = [&] {
        const std::string out = process_.out();
        return std::count(out.begin(), out.end(), '\n') >= readers;
    };
    waitFor(listening, 10000);
    const std::string out = process_.out();
    for (auto at = out.find("tcp=127.0.0.1:"); at != std::string::npos; at = out.find("tcp=127.0.0.1:", at + 1))
        ports_.push_back(std::atoi(out.c_str() + at + 14));
    if (!listening() || ports_.empty()) throw std::runtime_error("morvent-sim did not start: " + process_.err());
}

Subscriber::Subscriber(int port, const std::string& id) {
    mosquitto_lib_init();
    client_ = mosquitto_new(id.c_str(), false, this);
    mosquitto_message_callback_set(client_, &Subscriber::onMessage);
    mosquitto_connect_callback_set(client_, &Subscriber::onConnect);
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    if (mosquitto_connect(client_, "127.0.0.1", port, 10) != MOSQ_ERR_SUCCESS) throw std::runtime_error("subscriber: no broker");
    mosquitto_loop_start(client_);
    if (!waitFor([&] { return connected(); }, 10000)) throw std::runtime_error("subscriber: not subscribed");
}

Subscriber::~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);  // the loop ends after the disconnect; no cancelling it under a lock
    mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
}

void Subscriber::onConnect(mosquitto* m, void* self, int rc) {
    if (rc != 0) return;
    mosquitto_subscribe(m, nullptr, "#", 1);
    auto* s = static_cast<Subscriber*>(self);
    std::lock_guard<std::mutex> lock(s->mutex_);
    s->connected_ = true;
}

void Subscriber::onMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto* s = static_cast<Subscriber*>(self);
    std::lock_guard<std::mutex> lock(s->mutex_);
    s->messages_.push_back({m->topic, std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen))});
}

std::vector<Message> Subscriber::messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::size_t Subscriber::count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
}

bool Subscriber::connected() {
    std::lock_guard<std::mutex> lock(mutex_);
    return connected_;
}

std::vector<Event> events(const std::vector<Message>& messages, const std::string& gateway) {
    std::vector<Event> out;
    for (const Message& m : messages) {
        if (m.topic.size() < 7 || m.topic.compare(m.topic.size() - 7, 7, "/events") != 0) continue;
        const auto j = nlohmann::json::parse(m.payload);
        if (j.at("gateway") != gateway) continue;
        out.push_back({j.at("seq").get<std::uint64_t>(), gateway, j.at("reader"), j.at("type"), m.payload});
    }
    return out;
}

std::string lastState(const std::vector<Message>& messages, const std::string& topic) {
    std::string state;
    for (const Message& m : messages)
        if (m.topic == topic) state = nlohmann::json::parse(m.payload).at("state");
    return state;
}

SpoolView readSpool(const std::string& path) {
    morventd::Spool spool(path, 1 << 30);
    SpoolView view;
    for (const morventd::StoredEvent& e : spool.fetch(0, 1u << 30)) view.waiting.push_back(e.seq);
    view.nextSeq = spool.nextSeq();
    return view;
}

}  // namespace gwtest

#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace clitest {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Forks and execs argv with stdout and stderr sent to the given files, and
// stdin from `in` (else /dev/null).
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const std::string& out_path, const std::string& err_path, int in = -1) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    int null_in = in >= 0 ? in : open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null_in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// Waits for pid at most timeout_ms, then kills it. The exit code, or -1.
int reap(pid_t pid, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string temp_path(const char* what) {
    static std::atomic<int> counter{0};  // tests run commands from several threads
    return scratch_dir("runs") + "/" + std::to_string(getpid()) + "-" + std::to_string(++counter) + what;
}

}  // namespace

std::string scratch_dir(const std::string& name) {
    std::string path = "cli-scratch-" + name;
    mkdir(path.c_str(), 0755);
    return path;
}

Outcome run(const std::vector<std::string>& argv, const std::vector<std::string>& environment, int timeout_ms,
            const std::string& typed) {
    std::string out = temp_path(".out"), err = temp_path(".err");
    // The terminal's far side holds the typed text until the program reads it.
    int terminal = -1, keyboard = typed.empty() ? -1 : posix_openpt(O_RDWR | O_NOCTTY);
    if (keyboard >= 0 && grantpt(keyboard) == 0 && unlockpt(keyboard) == 0)
        terminal = open(ptsname(keyboard), O_RDWR | O_NOCTTY);
    if (terminal >= 0) (void)!write(keyboard, typed.data(), typed.size());
    Outcome result;
    const bool ready = typed.empty() || terminal >= 0;
    result.exit_code = ready ? reap(spawn(argv, environment, out, err, terminal), timeout_ms) : -1;
    if (terminal >= 0) close(terminal);
    if (keyboard >= 0) close(keyboard);
    result.out = slurp(out);
    result.err = slurp(err);
    unlink(out.c_str());
    unlink(err.c_str());
    return result;
}

Outcome run_and_signal(const std::vector<std::string>& argv, int signal, int delay_ms, int timeout_ms) {
    std::string out = temp_path(".out"), err = temp_path(".err");
    pid_t pid = spawn(argv, {}, out, err);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    kill(pid, signal);
    Outcome result;
    result.exit_code = reap(pid, timeout_ms);
    result.out = slurp(out);
    result.err = slurp(err);
    unlink(out.c_str());
    unlink(err.c_str());
    return result;
}

Simulator::Simulator(const std::string& pty_link, const std::vector<std::string>& extra, bool paced) {
    std::string out = temp_path(".sim");
    // --run-for: even a test that dies leaves no simulator behind for long.
    // --no-pacing: most sessions check what is printed, not how long it took.
    std::vector<std::string> argv{MORVENT_SIM_PATH, "--tcp", "0", "--pty", pty_link, "--run-for", "600"};
    if (!paced) argv.push_back("--no-pacing");
    argv.insert(argv.end(), extra.begin(), extra.end());
    pid_ = spawn(argv, {}, out, out + ".err");
    // It prints "reader=1 ... tcp=127.0.0.1:PORT ..." once it listens.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string text = slurp(out);
        std::size_t at = text.find("tcp=127.0.0.1:");
        if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
            tcp_port_ = std::atoi(text.c_str() + at + std::strlen("tcp=127.0.0.1:"));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    reap(pid_, 5000);
    throw std::runtime_error("morvent-sim did not start: " + slurp(out + ".err"));
}

Simulator::~Simulator() {
    kill(pid_, SIGTERM);
    reap(pid_, 10000);
}

}  // namespace clitest

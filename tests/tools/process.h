// Child processes for whole-session tests: the simulated reader in the
// background and the tool run to completion, each bounded in time.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace clitest {

struct Outcome {
    int exit_code = -1;  // -1: killed or did not start
    std::string out;
    std::string err;
};

// Runs `argv` with extra environment entries ("NAME=value"), and kills it
// after `timeout_ms`. Its stdin is empty, or with `typed` a terminal on
// which that text waits to be read, as if typed ahead.
Outcome run(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
        int timeout_ms = 30000, const std::string& typed = "");

// Starts `argv` in the background, its output going to a file, and sends it
// `signal` after `delay_ms`; returns what run() would.
Outcome run_and_signal(const std::vector<std::string>& argv, int signal, int delay_ms, int timeout_ms = 30000);

// morvent-sim in the background: one reader on a free TCP port and a pty
// linked at `pty_link`. Stopped (SIGTERM, bounded wait) on destruction.
// Unpaced unless `paced`: answers come at once, not at line speed.
class Simulator {
public:
    Simulator(const std::string& pty_link, const std::vector<std::string>& extra = {}, bool paced = false);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    int tcp_port() const { return tcp_port_; }
    std::string tcp() const { return "127.0.0.1:" + std::to_string(tcp_port_); }

private:
    pid_t pid_ = -1;
    int tcp_port_ = 0;
};

// A fresh directory under the test's working directory.
std::string scratch_dir(const std::string& name);

}  // namespace clitest

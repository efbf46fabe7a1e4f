// morventd: reads many readers continuously and delivers every tag event to
// an MQTT broker, keeping each one on disk until the broker has it.
#include <unistd.h>

#include <climits>
#include <iostream>

#include <CLI/CLI.hpp>

#include "morvent.h"

#include "gateway/config.h"
#include "gateway/log.h"
#include "gateway/spool.h"
#include "gateway/supervisor.h"

namespace {

// The worker program: beside morventd (build tree), or installed under
// libexec/morventd.
std::string workerPath() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "morventd-worker";
    path[n] = '\0';
    std::string dir(path);
    dir.erase(dir.rfind('/') + 1);
    for (const std::string& candidate : {dir + "morventd-worker", dir + "../libexec/morventd/morventd-worker"})
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    return dir + "morventd-worker";
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("morventd: reads UHF RFID readers continuously and publishes their tag events over MQTT", "morventd");
    std::string configFile, checkFile;
    app.add_option("--config", configFile, "run the gateway described by this TOML file")->type_name("FILE");
    app.add_option("--check-config", checkFile,
                   "check FILE, print what it would run, exit 0 (or 2 with the line at fault)")
        ->type_name("FILE");
    app.set_version_flag("--version", std::string("morventd ") + MorventVersion(), "print the version and exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (configFile.empty() == checkFile.empty()) {
        std::cerr << "morventd: give --config FILE to run, or --check-config FILE (see --help)\n";
        return 2;
    }
    morventd::Config config;
    try {
        config = morventd::loadConfig(checkFile.empty() ? configFile : checkFile);
    } catch (const morventd::ConfigError& e) {
        std::cerr << "morventd: " << e.what() << "\n";
        return 2;
    }
    if (!checkFile.empty()) {
        std::cout << config.summary() << "configuration " << checkFile << " is valid\n";
        return 0;
    }
    try {
        // Before anything else: a second gateway on the same spool would
        // hand out the same seqs and fight over the broker's client id.
        const morventd::SpoolLock lock(config.spool);
        return morventd::runSupervisor(config, workerPath());
    } catch (const morventd::SpoolError& e) {
        morventd::logLine(e.what());
        return 1;
    } catch (const std::exception& e) {
        morventd::logLine(std::string("fatal: ") + e.what());
        return 1;
    }
}

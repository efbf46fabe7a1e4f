// morvent-sim: simulated readers for development and tests without hardware.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/host.h"

namespace {

const char kUsage[] = R"(usage: morvent-sim [reader options] [--reader [reader options]]... [--run-for SECONDS]

Runs simulated readers until interrupted. Each --reader starts the options of
one more reader; the options before the first --reader describe the first.
A reader given neither --tcp nor --pty gets both, on a free TCP port.
Readers given the same --pty SYMLINK share that pty as an RS-485 bus: each
needs its own --address, and only the first may have --tcp. Their answers to
a broadcast (address 0xFF) collide on the line and arrive garbled.

Reader options:
  --tcp PORT            listen on 127.0.0.1:PORT (0 = a free port)
  --pty [SYMLINK]       serve a pseudo-terminal; optionally link SYMLINK to it
  --scenario FILE       settings, tags and faults from a JSON scenario file
  --no-tags             no tags in the field but moving ones and those of paths
  --address N           reader address (default 0)
  --baud CODE           serial line speed code: 0 9600, 1 19200, 2 38400,
                        5 57600 (default), 6 115200
  --at-delay MS         answer ChangeATMode after MS milliseconds
Timing (by default the reader keeps real time):
  --no-pacing           answer at once: no line speed on the pty, no air time
  --burst               send a multi-frame answer in one write once it is
                        complete, instead of each frame when it is ready
  --tag-air-ms MS       inventory air time per tag found (default 2)
  --round-air-ms MS     inventory air time of one round (default 1)
A moving tag field (besides the scenario's tags):
  --arrive-rate N       N new tags enter the field per second (0: none)
  --stay S[-S2]         each stays S seconds, or between S and S2 (default 2-6)
  --population-max N    at most N moving tags in the field at once (default 1000)
Tags passing through several readers' fields (for all readers at once):
  --path N,M[,...]      every --path-every seconds a new tag stays --path-dwell
                        seconds in reader N's field, then in M's, and so on
                        (readers numbered from 1, as printed); may be repeated
  --path-every S        a new tag starts each path every S seconds (default 5)
  --path-dwell S        each stays S seconds in each field (default 1)
Faults (rates are per answer, 0 to 1; --seed makes a run repeatable):
  --seed N  --latency MS  --split RATE  --split-gap MS  --corrupt-crc RATE
  --wrong-echo RATE  --drop RATE  --stray-before RATE  --stray-after RATE
  --close-after N       close the TCP connection after every N answers

--version prints the version and exits.

For each reader one line is printed once it is listening:
  reader=1 address=0x00 tcp=127.0.0.1:40123 pty=/dev/pts/4 link=/tmp/com3 baud=57600
with "-" for a link the reader does not have.
)";

struct ReaderSpec {
    ReaderSpec() { options.pacing = true; }
    sim::HostOptions options;
    bool tcpGiven = false;
    bool ptyGiven = false;
    std::size_t busOf = 0;  // shares the pty of reader busOf (from 1); 0: a host of its own
    // Flags win over the scenario file, whatever their order.
    std::vector<std::pair<std::string, std::string>> overrides;
};

// Tags that pass through the fields of several readers.
struct Paths {
    std::vector<std::vector<std::size_t>> routes;  // reader numbers, from 1
    double everyS = 5, dwellS = 1;
    std::string timing;  // the timing flag given, for the message when no --path is
};

volatile std::sig_atomic_t interrupted = 0;

void onSignal(int) { interrupted = 1; }

bool takesValue(const std::string& flag) {
    static const char* const flags[] = {
        "--tcp",          "--scenario",    "--address",        "--baud",        "--at-delay",   "--seed",
        "--latency",      "--split",       "--split-gap",      "--corrupt-crc", "--wrong-echo", "--drop",
        "--stray-before", "--stray-after", "--close-after",    "--run-for",     "--tag-air-ms", "--round-air-ms",
        "--arrive-rate",  "--stay",        "--population-max", "--path",        "--path-every", "--path-dwell"};
    for (const char* f : flags)
        if (flag == f) return true;
    return false;
}

unsigned long whole(const std::string& flag, const std::string& value) {
    char* end = nullptr;
    const unsigned long n = std::strtoul(value.c_str(), &end, 0);
    if (value.empty() || *end) throw std::runtime_error(flag + ": not a number: " + value);
    return n;
}

double rate(const std::string& flag, const std::string& value) {
    char* end = nullptr;
    const double r = std::strtod(value.c_str(), &end);
    if (value.empty() || *end || r < 0 || r > 1) throw std::runtime_error(flag + ": not a rate from 0 to 1: " + value);
    return r;
}

double milliseconds(const std::string& flag, const std::string& value) {
    char* end = nullptr;
    const double ms = std::strtod(value.c_str(), &end);
    if (value.empty() || *end || !(ms >= 0 && ms <= 1000))
        throw std::runtime_error(flag + ": not a time from 0 to 1000 ms: " + value);
    return ms;
}

double seconds(const std::string& flag, const std::string& value) {
    char* end = nullptr;
    const double r = std::strtod(value.c_str(), &end);
    if (value.empty() || *end || !(r >= 0)) throw std::runtime_error(flag + ": not a number of seconds: " + value);
    return r;
}

void applyOverride(sim::Scenario& s, const std::string& flag, const std::string& value) {
    sim::FaultPlan& f = s.faults;
    if (flag == "--address") s.settings.address = static_cast<std::uint8_t>(whole(flag, value));
    else if (flag == "--baud") {
        s.settings.baudCode = static_cast<std::uint8_t>(whole(flag, value));
        if (sim::bitRateOfCode(s.settings.baudCode) == 0) throw std::runtime_error("--baud: not 0, 1, 2, 5 or 6");
    } else if (flag == "--at-delay") s.settings.atModeDelayMs = static_cast<unsigned>(whole(flag, value));
    else if (flag == "--seed") f.seed = static_cast<std::uint32_t>(whole(flag, value));
    else if (flag == "--latency") f.latencyMs = static_cast<unsigned>(whole(flag, value));
    else if (flag == "--split") f.split = rate(flag, value);
    else if (flag == "--split-gap") f.splitGapMs = static_cast<unsigned>(whole(flag, value));
    else if (flag == "--corrupt-crc") f.corruptCrc = rate(flag, value);
    else if (flag == "--wrong-echo") f.wrongEcho = rate(flag, value);
    else if (flag == "--drop") f.drop = rate(flag, value);
    else if (flag == "--stray-before") f.strayBefore = rate(flag, value);
    else if (flag == "--stray-after") f.strayAfter = rate(flag, value);
    else if (flag == "--close-after") f.closeAfter = static_cast<unsigned>(whole(flag, value));
    else if (flag == "--no-tags") s.gen2.clear(), s.tags6B.clear();
    else if (flag == "--tag-air-ms") s.settings.tagAirMs = milliseconds(flag, value);
    else if (flag == "--round-air-ms") s.settings.roundAirMs = milliseconds(flag, value);
    else if (flag == "--arrive-rate") s.population.ratePerS = seconds(flag, value);
    else if (flag == "--population-max") s.population.max = static_cast<unsigned>(whole(flag, value));
    else if (flag == "--stay") {
        const auto dash = value.find('-');
        s.population.staySMin = seconds(flag, value.substr(0, dash));
        s.population.staySMax =
            dash == std::string::npos ? s.population.staySMin : seconds(flag, value.substr(dash + 1));
        if (s.population.staySMax < s.population.staySMin) throw std::runtime_error("--stay: S2 below S");
    }
}

std::vector<std::size_t> route(const std::string& value) {
    std::vector<std::size_t> readers;
    for (std::size_t at = 0; at <= value.size();) {
        const std::size_t comma = std::min(value.find(',', at), value.size());
        const std::string number = value.substr(at, comma - at);
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
            whole("--path", number) == 0)
            throw std::runtime_error("--path " + value + ": give reader numbers from 1, separated by commas (1,2)");
        readers.push_back(whole("--path", number));
        at = comma + 1;
    }
    return readers;
}

// Each reader on a path gets its stop, all counting from one moment.
void placePaths(const Paths& paths, std::vector<ReaderSpec>& specs) {
    if (paths.routes.empty() && !paths.timing.empty()) throw std::runtime_error(paths.timing + " needs --path");
    if (paths.routes.size() > 255) throw std::runtime_error("--path: at most 255 paths");
    if (!(paths.everyS > 0) || !(paths.dwellS > 0))
        throw std::runtime_error("--path-every, --path-dwell: more than 0 seconds");
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t p = 0; p < paths.routes.size(); ++p) {
        const std::vector<std::size_t>& readers = paths.routes[p];
        for (std::size_t position = 0; position < readers.size(); ++position) {
            if (readers[position] > specs.size())
                throw std::runtime_error("--path: there is no reader " + std::to_string(readers[position]) + " (" +
                                         std::to_string(specs.size()) + " given; each --reader adds one)");
            sim::PathStop stop{static_cast<std::uint8_t>(p + 1), static_cast<unsigned>(position), paths.everyS,
                               paths.dwellS, start};
            specs[readers[position] - 1].options.scenario.paths.push_back(stop);
        }
    }
}

std::vector<ReaderSpec> parse(int argc, char** argv, unsigned long& runFor) {
    std::vector<ReaderSpec> specs(1);
    Paths paths;
    std::string scenarioFile;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        ReaderSpec& spec = specs.back();
        if (flag == "--help" || flag == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (flag == "--version") {
            std::cout << "morvent-sim " << MORVENT_VERSION_TEXT << "\n";
            std::exit(0);
        }
        if (flag == "--reader") {
            specs.emplace_back();
            continue;
        }
        if (flag == "--no-pacing") {
            spec.options.pacing = false;
            continue;
        }
        if (flag == "--burst") {
            spec.options.burst = true;
            continue;
        }
        if (flag == "--no-tags") {
            spec.overrides.emplace_back(flag, "");
            continue;
        }
        if (flag == "--pty") {
            spec.ptyGiven = true;
            if (i + 1 < argc && argv[i + 1][0] != '-') spec.options.ptyLink = argv[++i];
            continue;
        }
        if (!takesValue(flag)) throw std::runtime_error("unknown option " + flag + " (see --help)");
        if (i + 1 >= argc) throw std::runtime_error(flag + " needs a value");
        const std::string value = argv[++i];
        if (flag == "--run-for") runFor = whole(flag, value);
        else if (flag == "--path") paths.routes.push_back(route(value));
        else if (flag == "--path-every" || flag == "--path-dwell") {
            (flag == "--path-every" ? paths.everyS : paths.dwellS) = seconds(flag, value);
            paths.timing = flag;
        } else if (flag == "--tcp") {
            spec.tcpGiven = true;
            spec.options.tcpPort = static_cast<std::uint16_t>(whole(flag, value));
        } else if (flag == "--scenario") spec.options.scenario = sim::loadScenario(value);
        else spec.overrides.emplace_back(flag, value);
    }
    placePaths(paths, specs);  // before a bus takes copies of its readers' scenarios
    for (std::size_t i = 0; i < specs.size(); ++i) {
        ReaderSpec& spec = specs[i];
        for (const auto& [flag, value] : spec.overrides) applyOverride(spec.options.scenario, flag, value);
        const bool neither = !spec.tcpGiven && !spec.ptyGiven;
        spec.options.tcp = spec.tcpGiven || neither;
        spec.options.pty = spec.ptyGiven || neither;
        for (std::size_t j = 0; j < i && !spec.options.ptyLink.empty(); ++j) {
            ReaderSpec& bus = specs[j];
            if (bus.busOf || bus.options.ptyLink != spec.options.ptyLink) continue;
            const std::string who =
                "reader " + std::to_string(i + 1) + " shares the pty of reader " + std::to_string(j + 1);
            if (spec.tcpGiven) throw std::runtime_error(who + ": --tcp belongs to the first reader of a bus");
            const sim::Settings& mine = spec.options.scenario.settings;
            if (mine.baudCode != bus.options.scenario.settings.baudCode)
                throw std::runtime_error(who + ": a bus has one line speed (--baud)");
            std::vector<std::uint8_t> taken{bus.options.scenario.settings.address};
            for (const sim::Scenario& other : bus.options.busReaders) taken.push_back(other.settings.address);
            if (std::find(taken.begin(), taken.end(), mine.address) != taken.end())
                throw std::runtime_error(who + ": its address is taken (give each reader on a bus its own --address)");
            bus.options.busReaders.push_back(spec.options.scenario);
            spec.busOf = j + 1;
            break;
        }
    }
    return specs;
}

std::string describe(std::size_t number, const sim::ReaderHost& host, const sim::HostOptions& options) {
    char address[8];
    std::snprintf(address, sizeof address, "0x%02X", options.scenario.settings.address);
    std::string line = "reader=" + std::to_string(number) + " address=" + address;
    line += " tcp=" + (options.tcp ? "127.0.0.1:" + std::to_string(host.tcpPort()) : std::string("-"));
    line += " pty=" + (options.pty ? host.ptyPath() : std::string("-"));
    line += " link=" + (options.ptyLink.empty() ? std::string("-") : options.ptyLink);
    line += " baud=" + std::to_string(host.lineBitRate());
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long runFor = 0;
    std::vector<std::unique_ptr<sim::ReaderHost>> hosts;
    try {
        const std::vector<ReaderSpec> specs = parse(argc, argv, runFor);
        std::vector<sim::ReaderHost*> hostOf;  // per reader
        for (std::size_t i = 0; i < specs.size(); ++i) {
            if (specs[i].busOf) {
                hostOf.push_back(hostOf[specs[i].busOf - 1]);
            } else {
                hosts.push_back(std::make_unique<sim::ReaderHost>(specs[i].options));
                hostOf.push_back(hosts.back().get());
            }
        }
        for (std::size_t i = 0; i < specs.size(); ++i)
            std::cout << describe(i + 1, *hostOf[i], specs[i].options) << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "morvent-sim: " << e.what() << "\n";
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    const auto start = std::chrono::steady_clock::now();
    while (!interrupted && (runFor == 0 || std::chrono::steady_clock::now() - start < std::chrono::seconds(runFor)))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    hosts.clear();
    return 0;
}

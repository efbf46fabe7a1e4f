// The gateway's configuration: one TOML file, checked completely at start.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "gateway/events.h"
#include "gateway/reader_config.h"

namespace morventd {

// A refused configuration: the message names the file and line at fault.
struct ConfigError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Config {
    std::string file;
    std::string id;
    std::string spool = "/var/lib/morventd/spool.db";
    std::string httpHost = "127.0.0.1";     // as written: an IPv4 address or a name
    std::string httpAddress = "127.0.0.1";  // what httpHost resolved to, where the server listens
    int httpPort = 8780;                    // 0: no HTTP endpoint
    std::string httpToken;                  // needed by requests that write to a tag or change a setting
    bool httpLoopback() const;              // listens on a loopback address only

    std::string mqttHost = "127.0.0.1";
    int mqttPort = 1883;
    bool mqttTls = false;
    std::string prefix = "morvent";
    std::string username, password, caFile, clientId;
    int keepaliveS = 30;
    int inflight = 1000;  // QoS 1 messages awaiting their acknowledgement

    double reportEveryS = 5;
    double departAfterS = 10;
    int arriveAfterReads = 1;
    Scope scope = Scope::Reader;
    double moveHysteresisS = 2;

    std::int64_t maxEvents = 1000000;  // events kept in the spool at most
    int commitMs = 10;                 // group commit window

    double historyKeepDays = 7;                  // events stay searchable this long after they are made
    std::int64_t historyMaxEvents = 10'000'000;  // and this many at most (0: no history)

    std::vector<ReaderConfig> readers;  // each with its location (its own name when the file names none)
    std::vector<Portal> portals;

    const ReaderConfig* reader(const std::string& name) const;
    // The readers of each link, one worker each: a TCP reader alone, or the
    // readers of one serial device (an RS-485 bus, which the worker serves
    // in turns); in the order of the file.
    std::vector<std::vector<const ReaderConfig*>> links() const;
    std::string summary() const;  // what the gateway would run, for --check-config
};

// Reads and checks FILE; throws ConfigError ("FILE:LINE: message").
Config loadConfig(const std::string& file);
Config parseConfig(const std::string& text, const std::string& file = "config");

// Names that end up in MQTT topics and metrics labels: letters, digits, '-', '_', '.'.
bool validName(const std::string& name);
// Location and portal names, free text: 1 to 64 bytes, no control characters.
// Their topic level is topicLevel(name).
bool validPlaceName(const std::string& name);

}  // namespace morventd

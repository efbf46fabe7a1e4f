// The gateway's configuration: one TOML file, checked completely at start.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace morventd {

// A refused configuration: the message names the file and line at fault.
struct ConfigError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ReaderConfig {
    std::string name;
    // Exactly one link: TCP (host + port), or a serial port (com number, or a
    // device path that the worker names as its COM port).
    std::string host;
    int tcpPort = 0;
    int com = 0;
    std::string device;
    int baud = 57600;
    std::uint8_t address = 0xFF;
    bool active = false;  // mode = "active": the reader's own inventory, drained
    bool tid = false;
    std::uint8_t tidAddress = 0;  // words
    std::uint8_t tidLength = 6;   // words
    bool mask = false;
    std::uint8_t maskBank = 1;
    std::uint16_t maskAddress = 32;  // bits; the EPC starts at bit 32 of its bank
    std::uint8_t maskBits = 0;
    std::vector<std::uint8_t> maskBytes;
    int pollIntervalMs = 0;  // pause between two inventories in poll mode

    bool serial() const { return tcpPort == 0; }
    std::string link() const;  // "tcp 10.0.0.5:6000" or "com 3 at 57600"
};

struct Config {
    std::string file;
    std::string id;
    std::string spool = "/var/lib/morventd/spool.db";
    std::string httpHost = "127.0.0.1";
    int httpPort = 8780;  // 0: no HTTP endpoint

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

    std::int64_t maxEvents = 1000000;  // events kept in the spool at most
    int commitMs = 20;                 // group commit window

    std::vector<ReaderConfig> readers;

    const ReaderConfig* reader(const std::string& name) const;
    std::string summary() const;  // what the gateway would run, for --check-config
};

// Reads and checks FILE; throws ConfigError ("FILE:LINE: message").
Config loadConfig(const std::string& file);
Config parseConfig(const std::string& text, const std::string& file = "config");

// Names that end up in MQTT topics and metrics labels: letters, digits, '-', '_', '.'.
bool validName(const std::string& name);

}  // namespace morventd

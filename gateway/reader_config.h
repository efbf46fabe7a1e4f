// One reader of the gateway: its link and how it is read. Shared by the
// supervisor (which reads it from the configuration file) and the worker
// program (which gets it on its command line and links nothing else).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace morventd {

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
    std::string location;    // where it reads (the supervisor's alone: not on the worker's command line)

    bool serial() const { return tcpPort == 0; }
    std::string port() const;  // "tcp 10.0.0.5:6000", "com 3" or "serial /dev/ttyUSB0"
    std::string link() const;  // "tcp 10.0.0.5:6000" or "com 3 at 57600"
};

// The worker's command line for the readers of one link (one TCP reader, or
// the readers of a serial bus), each starting with its --name; and back.
// fromWorkerArgs throws std::invalid_argument on anything it does not know.
std::vector<std::string> workerArgs(const std::vector<const ReaderConfig*>& readers);
std::vector<ReaderConfig> fromWorkerArgs(const std::vector<std::string>& args);

}  // namespace morventd

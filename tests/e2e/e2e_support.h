// The core library against the simulated reader, run in this process on its
// own thread: helpers to start readers and open them over TCP or a pty.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "morvent.h"
#include "sim/host.h"

namespace e2e {

// The Gen2 tags of the simulator's built-in field.
inline std::size_t defaultTags() { return sim::defaultScenario().gen2.size(); }

inline sim::HostOptions bothLinks(sim::Scenario scenario = sim::defaultScenario()) {
    sim::HostOptions options;
    options.scenario = std::move(scenario);
    options.tcp = true;
    options.pty = true;
    return options;
}

// Points COM `com` at the reader's pseudo-terminal. Call before any thread
// that uses the library starts: the environment is not thread-safe.
inline void mapCom(int com, const std::string& path) {
    setenv(("MORVENT_COM" + std::to_string(com)).c_str(), path.c_str(), 1);
}

// An open link to a simulated reader, closed again at the end of scope.
class Link {
public:
    static Link tcp(const sim::ReaderHost& host) {
        Link link;
        link.status = OpenNetPort(host.tcpPort(), "127.0.0.1", &link.address, &link.port);
        return link;
    }
    static Link serial(const sim::ReaderHost& host, int com, unsigned char baudCode = 5) {
        mapCom(com, host.ptyPath());
        Link link;
        link.status = OpenComPort(com, &link.address, baudCode, &link.port);
        return link;
    }
    Link(Link&& other) noexcept : address(other.address), port(other.port), status(other.status) { other.port = -1; }
    ~Link() { close(); }
    void close() {
        if (port >= 1024) CloseNetPort(port);
        else if (port > 0) CloseSpecComPort(port);
        port = -1;
    }
    bool open() const { return status == MORVENT_OK && port > 0; }

    unsigned char address = 0xFF;
    int port = -1;
    int status = -1;

private:
    Link() = default;
};

// Scan time reported by GetReaderInformation, or -status on failure.
inline int scanTimeOf(unsigned char address, int port) {
    unsigned char pair[2], b2, b3, b4, b5, b6, scan = 0, b8, b9, b10;
    const int status = GetReaderInformation(&address, pair, &b2, &b3, &b4, &b5, &b6, &scan, &b8, &b9, &b10, port);
    return status == MORVENT_OK ? scan : -status;
}

}  // namespace e2e

// The program side of the tool: the link to the reader, opened on first use
// so that bad input is refused before anything is sent, and the output mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/args.h"
#include "cli/output.h"
#include "cli/parse.h"

namespace morvent_cli {

// A reader or link status that ends the command.
struct Failure {
    int status;
    std::string what;  // "read", "cannot open 127.0.0.1:6000"
    Document details;  // extra fields, e.g. the tag's error code
};

struct Context {
    // Link and output options.
    std::optional<Endpoint> tcp;
    std::optional<int> com;
    bool automatic = false;
    std::uint8_t baud_code = 5;
    std::optional<std::uint8_t> address_option;
    bool json = false;
    std::string command;  // for messages

    // Open link; port < 0 until opened.
    int port = -1;
    bool network = false;
    std::uint8_t reader_address = 0xFF;

    Context() = default;
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    ~Context() { close(); }

    void configure(const Arguments& arguments);
    int handle();              // opens the link on first use
    std::uint8_t* address();   // the address byte to send, after opening
    void close();

    // Throws Failure unless status is MORVENT_OK.
    void check(int status, const std::string& what = {}, Document details = {}) const;
    void emit(const Document& document) const;
    void note(const std::string& line) const;  // progress text; stderr when --json
};

// Ctrl-C (and SIGTERM) handling for the commands that run until stopped.
void catch_interrupts(bool on);
bool interrupted();
void pause_unless_interrupted(long milliseconds);
bool output_is_terminal();

// Room the API fills through pointers never holds fewer bytes than this.
inline std::uint8_t* data_or(Bytes& bytes, std::uint8_t* fallback) { return bytes.empty() ? fallback : bytes.data(); }

}  // namespace morvent_cli

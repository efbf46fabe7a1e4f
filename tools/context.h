// The program side of the tool: the link to the reader, opened on first use
// so that bad input is refused before anything is sent, reopened when it
// fails under a long-running command, and the output mode.
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
    std::string hint;  // what the user may try, "" when nothing useful
};

enum class Format { Text, Json, Csv };

struct Context {
    // Link and output options.
    std::optional<Endpoint> tcp;
    std::optional<int> com;
    std::optional<std::string> device;
    bool automatic = false;
    std::uint8_t baud_code = 5;
    bool baud_given = false;
    bool baud_auto = false;
    std::optional<std::uint8_t> address_option;
    Format format = Format::Text;
    bool json = false;  // format == Json
    bool yes = false;
    std::string command;  // for messages

    // Open link; port < 0 until opened.
    int port = -1;
    bool network = false;
    std::uint8_t reader_address = 0xFF;
    std::string link;   // "TCP 127.0.0.1:6000", "COM3 at /dev/ttyUSB0"
    int serial_com = 0;  // the COM number the serial link was opened as

    Context() = default;
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    ~Context() { close(); }

    void configure(const Arguments& arguments);
    int handle();              // opens the link on first use
    std::uint8_t* address();   // the address byte to send, after opening
    void close();

    // After a failure of the link: closes it and opens it again, waiting
    // 0.2 s, 0.4 s, ... up to 5 s between attempts, saying so on stderr.
    // False when interrupted before the link came back.
    bool reconnect(int status);
    int reconnects = 0;

    // Throws Failure unless status is MORVENT_OK.
    void check(int status, const std::string& what = {}, Document details = {}) const;
    void emit(const Document& document) const;
    void note(const std::string& line) const;  // progress text; stderr unless plain text
    void warn(const std::string& line) const;  // always stderr
};

// Statuses that mean the link itself failed (not the reader or a tag).
bool is_link_failure(int status);

// Asks on the terminal before something that cannot be undone; true when
// --yes was given or stdin is not a terminal (scripts pass --yes or nothing).
bool confirm(const Context& context, const std::string& question);

// Ctrl-C (and SIGTERM) handling for the commands that run until stopped.
void catch_interrupts(bool on);
bool interrupted();
void pause_unless_interrupted(long milliseconds);
bool output_is_terminal();

// Room the API fills through pointers never holds fewer bytes than this.
inline std::uint8_t* data_or(Bytes& bytes, std::uint8_t* fallback) { return bytes.empty() ? fallback : bytes.data(); }

}  // namespace morvent_cli

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
#include "morvent.hpp"

namespace morvent_cli {

// A reader or link status that ends the command.
struct Failure {
    int status;
    std::string what;  // "read", "cannot open 127.0.0.1:6000"
    Document details;  // extra fields, e.g. the tag's error code
    std::string hint;  // what the user may try, "" when nothing useful
    // The cause when it is known better than the status tells ("no such
    // device /dev/ttyUSB0"), else "".
    std::string reason = {};

    // The reason, or else the status by name, number and meaning.
    std::string cause() const;
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

    // The open link; empty until first used.
    std::optional<morvent::Reader> link_reader;
    bool network = false;
    std::string link;    // "TCP 127.0.0.1:6000", "COM3 at /dev/ttyUSB0"
    int serial_com = 0;  // the COM number the serial link was opened as

    Context() = default;
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    void configure(const Arguments& arguments);
    // The reader, its link opened on first use; its commands carry --address
    // or else the address the reader answered with. Throws Failure when the
    // link does not open.
    morvent::Reader& reader();
    void close();

    // After a failure of the link: closes it and opens it again, waiting
    // 0.2 s, 0.4 s, ... up to 5 s between attempts, saying so on stderr.
    // False when interrupted before the link came back.
    bool reconnect(int status);
    int reconnects = 0;

    // Throws Failure unless status is MORVENT_OK.
    void check(int status, const std::string& what = {}, Document details = {}) const;
    // The Failure a failed reader command ends this command with; `what`
    // defaults to the command's name.
    Failure failure(const morvent::Error& error, const std::string& what = {}) const;
    void emit(const Document& document) const;
    void note(const std::string& line) const;  // progress text; stderr unless plain text
    void warn(const std::string& line) const;  // always stderr
};

// Statuses that mean the link itself failed (not the reader or a tag).
bool isLinkFailure(int status);

// Asks on the terminal before something that cannot be undone; true when
// --yes was given or stdin is not a terminal (scripts pass --yes or nothing).
bool confirm(const Context& context, const std::string& question);

// Ctrl-C (and SIGTERM) handling for the commands that run until stopped.
void catchInterrupts(bool on);
bool interrupted();
void pauseUnlessInterrupted(long milliseconds);
bool outputIsTerminal();

// Sleeps about one millisecond. While a FineTimer lives, that holds on
// Windows too, whose timer otherwise ticks every 15.6 ms.
void pauseOneMillisecond();
struct FineTimer {
    FineTimer();
    ~FineTimer();
    FineTimer(const FineTimer&) = delete;
    FineTimer& operator=(const FineTimer&) = delete;
};

}  // namespace morvent_cli

// morvent: the kit's command-line tool. A plain client of the public API.
#include <iostream>

#include "cli/status.h"
#include "commands.h"
#include "context.h"

using namespace morvent_cli;

namespace {

const Options kGlobal = {
    {"tcp", "HOST:PORT", "network reader (HOST a dotted IPv4 address or localhost)"},
    {"com", "N", "serial reader on COMn: the device in $MORVENT_COM<n>, else /dev/ttyS<n-1>"},
    {"auto", nullptr, "try COM1..COM12 until a reader answers"},
    {"baud", "RATE", "serial rate when opening: 9600..115200, or code 0,1,2,5,6 (default 57600)"},
    {"address", "A", "reader address to send (default: the address the reader gave when opened)"},
    {"json", nullptr, "print results as JSON"},
};

const char* const kIntro =
    "usage: morvent LINK COMMAND [OPTIONS]\n"
    "\n"
    "Talks to a UHF RFID reader over TCP or a serial line: lists tags, reads and\n"
    "writes them, changes the reader's settings. LINK is --tcp HOST:PORT, --com N\n"
    "or --auto. Example, against the simulated reader:\n"
    "  morvent-sim --tcp 6000 &\n"
    "  morvent --tcp 127.0.0.1:6000 inventory\n"
    "\n"
    "Exit status: 0 success, 1 the reader or the link reported a failure (shown\n"
    "by name, number and meaning), 2 bad input (nothing was sent).\n";

std::vector<CommandSpec> all_commands() {
    std::vector<CommandSpec> commands = reader_commands();
    const std::vector<CommandSpec>& tags = tag_commands();
    commands.insert(commands.begin() + 1, tags.begin(), tags.end());
    return commands;
}

void report_failure(const Context& context, const Failure& failure) {
    Document document = failure.details;
    document.status = failure.status;
    if (context.json) {
        document.fields.insert(document.fields.begin(), Field{"error", Value::text(failure.what)});
        std::cout << render_json(document);
        return;
    }
    std::cerr << "morvent: " << failure.what << ": " << status_line(failure.status) << "\n";
    for (const Field& field : failure.details.fields) {
        if (field.key == "tag_error") std::cerr << "  tag error " << field.value.as_text() << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<CommandSpec> commands = all_commands();
    Context context;
    try {
        Invocation invocation = parse_command_line(std::vector<std::string>(argv + 1, argv + argc), kGlobal, commands);
        if (invocation.help || !invocation.command) {
            if (invocation.command) std::cout << command_help(*invocation.command, kGlobal);
            else if (!invocation.group.empty()) std::cout << group_help(invocation.group, commands);
            else std::cout << tool_help(kGlobal, commands, kIntro);
            if (invocation.help) return 0;
            std::cerr << "morvent: no command given\n";
            return 2;
        }
        context.configure(invocation.arguments);
        context.command = invocation.command->name;
        return invocation.command->run(context, invocation.arguments);
    } catch (const UsageError& error) {
        std::cerr << "morvent: " << error.what() << "\n";
        return 2;
    } catch (const Failure& failure) {
        report_failure(context, failure);
        return 1;
    }
}

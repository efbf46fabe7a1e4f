// morvent: the kit's command-line tool. A plain client of the C++ API.
#include <algorithm>
#include <iostream>

#include "cli/status.h"
#include "commands.h"
#include "context.h"

using namespace morvent_cli;

namespace {

const Options kGlobal = {
    {"tcp", "HOST:PORT", "network reader (HOST a host name or dotted IPv4 address)"},
    {"com", "N", "serial reader on COMn: the device in $MORVENT_COM<n>, else /dev/ttyS<n-1> (Windows: COMn)"},
    {"device", "PATH", "serial reader on this device, e.g. /dev/ttyUSB0 (Windows: COMn)"},
    {"auto", nullptr, "look for a serial reader: /dev/ttyUSB*, /dev/ttyACM*, then COM1..COM12"},
    {"baud", "RATE", "serial rate when opening: 9600..115200, code 0,1,2,5,6, or auto (default 57600)"},
    {"address", "A",
     "reader address to send, on a serial bus also the one opened at (default: the address the reader gave when "
     "opened)"},
    {"json", nullptr, "print results as JSON (streams: one object per line); errors too, on stdout"},
    {"csv", nullptr, "print streams (inventory --watch, active) as CSV rows, header first"},
    {"yes", nullptr, "do not ask before a permanent lock or a kill"},
    {"version", nullptr, "print the version and exit"},
};

const char* const kIntro =
    "usage: morvent LINK COMMAND [OPTIONS]\n"
    "\n"
    "Talks to a UHF RFID reader over TCP or a serial line: lists tags, reads and\n"
    "writes them, changes the reader's settings. LINK is --tcp HOST:PORT, --com N,\n"
    "--device PATH or --auto. Example, against the simulated reader:\n"
    "  $ morvent-sim --tcp 6000 &\n"
    "  $ morvent --tcp localhost:6000 inventory\n"
    "\n"
    "Commands that change or kill a tag need --epc or --mask to pick it, or --any\n"
    "to act on whichever tag answers. epc decode and epc encode need no LINK:\n"
    "  $ morvent epc decode 3074257BF7194E4000001A85\n"
    "\n"
    "Exit status: 0 success, 1 the reader or the link reported a failure (shown\n"
    "by name, number and meaning) or an EPC is no GS1 identity (epc decode),\n"
    "2 bad input (nothing was sent).\n";

std::vector<CommandSpec> allCommands() {
    std::vector<CommandSpec> commands = readerCommands();
    const std::vector<CommandSpec>& tags = tagCommands();
    commands.insert(commands.begin() + 1, tags.begin(), tags.end());
    const std::vector<CommandSpec>& epc = epcCommands();
    commands.insert(commands.end(), epc.begin(), epc.end());
    return commands;
}

void reportFailure(const Context& context, const Failure& failure) {
    if (context.json) {
        Json object{{"error", failure.what}, {"status", statusJson(failure.status)}};
        if (!failure.reason.empty()) object["reason"] = failure.reason;
        for (const Field& field : failure.details.fields) object[field.key] = field.value.asJson();
        if (!failure.hint.empty()) object["hint"] = failure.hint;
        std::cout << object.dump(2) << "\n";
        return;
    }
    std::cerr << "morvent: " << failure.what << ": " << failure.cause() << "\n";
    for (const Field& field : failure.details.fields) {
        if (field.key == "tag_error") std::cerr << "  tag error " << field.value.asText() << "\n";
    }
    if (!failure.hint.empty()) std::cerr << "  " << failure.hint << "\n";
}

// --csv formats rows, so a command that prints one document has nothing
// for it: refused rather than quietly printed as text.
void checkCsv(const Invocation& invocation, const std::vector<CommandSpec>& commands) {
    const CommandSpec& command = *invocation.command;
    const bool streams = command.stream && (!*command.stream || invocation.arguments.flag(command.stream));
    if (!invocation.arguments.flag("csv") || streams) return;
    std::string list;
    for (const CommandSpec& c : commands) {
        if (!c.stream) continue;
        list += (list.empty() ? "" : ", ") + std::string(c.name) + (*c.stream ? std::string(" --") + c.stream : "");
    }
    const std::string which =
        command.stream ? std::string(command.name) + " without --" + command.stream : command.name;
    throw UsageError("--csv: " + which + " prints no rows; --csv applies to " + list + " (--json fits every command)");
}

// Bad input under --json is a JSON object on stdout as well; the --json
// option is looked for by hand because the command line may not parse.
void reportUsage(const std::vector<std::string>& args, const std::string& message) {
    auto end = std::find(args.begin(), args.end(), "--");
    if (std::find(args.begin(), end, "--json") != end) {
        std::cout << Json{{"error", message}, {"usage_error", true}}.dump(2) << "\n";
    }
    std::cerr << "morvent: " << message << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<CommandSpec> commands = allCommands();
    std::vector<std::string> args(argv + 1, argv + argc);
    Context context;
    try {
        Invocation invocation = parseCommandLine(args, kGlobal, commands);
        if (invocation.arguments.flag("version")) {
            std::cout << "morvent " << morvent::version() << "\n";
            return 0;
        }
        if (invocation.help || !invocation.command) {
            if (invocation.command) std::cout << commandHelp(*invocation.command, kGlobal);
            else if (!invocation.group.empty()) std::cout << groupHelp(invocation.group, commands);
            else std::cout << toolHelp(kGlobal, commands, kIntro);
            if (invocation.help) return 0;
            std::cerr << "morvent: no command given\n";
            return 2;
        }
        checkCsv(invocation, commands);
        context.configure(invocation.arguments);
        context.command = invocation.command->name;
        return invocation.command->run(context, invocation.arguments);
    } catch (const UsageError& error) {
        reportUsage(args, error.what());
        return 2;
    } catch (const Failure& failure) {
        reportFailure(context, failure);
        return 1;
    } catch (const morvent::Error& error) {
        reportFailure(context, context.failure(error));
        return 1;
    }
}

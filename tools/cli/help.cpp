// Help texts, written from the same command tables the parser reads.
#include <algorithm>

#include "args.h"

namespace morvent_cli {
namespace {

std::string optionsText(const Options& options) {
    std::size_t width = 0;
    auto label = [](const OptionSpec& o) {
        return std::string("--") + o.name + (o.alias ? std::string(", --") + o.alias : "") +
               (o.metavar ? std::string(" ") + o.metavar : "");
    };
    for (const OptionSpec& option : options) width = std::max(width, label(option).size());
    std::string text;
    for (const OptionSpec& option : options) {
        std::string name = label(option);
        text += "  " + name + std::string(width - name.size() + 2, ' ') + option.help + "\n";
    }
    return text;
}

std::string commandList(const std::vector<CommandSpec>& commands, const std::string& group) {
    std::size_t width = 0;
    for (const CommandSpec& command : commands) width = std::max(width, std::string(command.name).size());
    std::string text;
    for (const CommandSpec& command : commands) {
        std::string name = command.name;
        if (!group.empty() && name.rfind(group + " ", 0) != 0) continue;
        text += "  " + name + std::string(width - name.size() + 2, ' ') + command.summary + "\n";
    }
    return text;
}

}  // namespace

std::string toolHelp(const Options& global, const std::vector<CommandSpec>& commands, const char* intro) {
    Options options = global;
    options.push_back({"help", nullptr, "this text; after a command, that command's options"});
    return std::string(intro) + "\nCommands:\n" + commandList(commands, "") + "\nLink and output options:\n" +
           optionsText(options);
}

std::string groupHelp(const std::string& group, const std::vector<CommandSpec>& commands) {
    return "usage: morvent [LINK] " + group + " COMMAND [OPTIONS]\n\nCommands:\n" + commandList(commands, group) +
           "\nmorvent " + group + " COMMAND --help shows a command's options.\n";
}

std::string commandHelp(const CommandSpec& command, const Options& global) {
    std::string text = "usage: morvent [LINK] " + std::string(command.name) +
                       (command.options.empty() ? "" : " [OPTIONS]") +
                       (*command.operands ? std::string(" ") + command.operands : "") + "\n\n" + command.summary + "\n";
    if (*command.details) text += "\n" + std::string(command.details) + "\n";
    if (!command.options.empty()) text += "\nOptions:\n" + optionsText(command.options);
    text += "\nLink and output options (see morvent --help):\n" + optionsText(global);
    return text;
}

}  // namespace morvent_cli

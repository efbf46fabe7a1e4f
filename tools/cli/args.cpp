#include "args.h"

#include <algorithm>

#include "parse.h"

namespace morvent_cli {
namespace {

const OptionSpec* find_option(const std::string& name, const std::vector<const Options*>& tables) {
    for (const Options* table : tables) {
        for (const OptionSpec& option : *table) {
            if (name == option.name) return &option;
        }
    }
    return nullptr;
}

const CommandSpec* find_command(const std::string& name, const std::vector<CommandSpec>& commands) {
    for (const CommandSpec& command : commands) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

bool is_group(const std::string& word, const std::vector<CommandSpec>& commands) {
    std::string prefix = word + " ";
    return std::any_of(commands.begin(), commands.end(),
                       [&](const CommandSpec& c) { return std::string(c.name).rfind(prefix, 0) == 0; });
}

// Parses the option at args[i] (which starts with "--"); returns the index of
// the last argument it consumed.
std::size_t parse_option(const std::vector<std::string>& args, std::size_t i,
                         const std::vector<const Options*>& tables, const std::string& context,
                         Invocation& invocation) {
    std::string word = args[i].substr(2);
    std::optional<std::string> inline_value;
    std::size_t equals = word.find('=');
    if (equals != std::string::npos) {
        inline_value = word.substr(equals + 1);
        word = word.substr(0, equals);
    }
    if (word == "help") {
        invocation.help = true;
        return i;
    }
    const OptionSpec* option = find_option(word, tables);
    if (!option) throw UsageError("unknown option --" + word + " (see morvent " + context + "--help)");
    if (invocation.arguments.has(word)) throw UsageError("--" + word + " given twice");
    if (!option->metavar) {
        if (inline_value) throw UsageError("--" + word + " takes no value");
        invocation.arguments.set_flag(word);
        return i;
    }
    if (inline_value) {
        invocation.arguments.set_value(word, *inline_value);
        return i;
    }
    if (i + 1 >= args.size()) throw UsageError("--" + word + " needs a value " + option->metavar);
    invocation.arguments.set_value(word, args[i + 1]);
    return i + 1;
}

std::string options_text(const Options& options) {
    std::size_t width = 0;
    auto label = [](const OptionSpec& o) { return std::string("--") + o.name + (o.metavar ? std::string(" ") + o.metavar : ""); };
    for (const OptionSpec& option : options) width = std::max(width, label(option).size());
    std::string text;
    for (const OptionSpec& option : options) {
        std::string name = label(option);
        text += "  " + name + std::string(width - name.size() + 2, ' ') + option.help + "\n";
    }
    return text;
}

std::string command_list(const std::vector<CommandSpec>& commands, const std::string& group) {
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

std::optional<std::string> Arguments::value(const std::string& name) const {
    auto found = values_.find(name);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

std::string Arguments::required(const std::string& name) const {
    auto found = value(name);
    if (!found) throw UsageError("--" + name + " is required");
    return *found;
}

Invocation parse_command_line(const std::vector<std::string>& args, const Options& global,
                              const std::vector<CommandSpec>& commands) {
    Invocation invocation;
    std::vector<const Options*> tables{&global};
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        std::string context = invocation.command ? std::string(invocation.command->name) + " " : "";
        if (!options_ended && word == "--") {
            options_ended = true;
        } else if (!options_ended && word.size() > 2 && word.rfind("--", 0) == 0) {
            i = parse_option(args, i, tables, context, invocation);
        } else if (!options_ended && word == "-h") {
            invocation.help = true;
        } else if (!options_ended && word.size() > 1 && word[0] == '-' && !invocation.command) {
            throw UsageError("unknown option " + word + " (see morvent --help)");
        } else if (invocation.command) {
            invocation.arguments.add_operand(word);
        } else if (!invocation.group.empty()) {
            invocation.command = find_command(invocation.group + " " + word, commands);
            if (!invocation.command) {
                throw UsageError("unknown command '" + invocation.group + " " + word + "' (see morvent " +
                                 invocation.group + " --help)");
            }
            tables.push_back(&invocation.command->options);
        } else if ((invocation.command = find_command(word, commands))) {
            tables.push_back(&invocation.command->options);
        } else if (is_group(word, commands)) {
            invocation.group = word;
        } else {
            throw UsageError("unknown command '" + word + "' (see morvent --help)");
        }
    }
    return invocation;
}

std::string tool_help(const Options& global, const std::vector<CommandSpec>& commands, const char* intro) {
    Options options = global;
    options.push_back({"help", nullptr, "this text; after a command, that command's options"});
    return std::string(intro) + "\nCommands:\n" + command_list(commands, "") + "\nLink and output options:\n" +
           options_text(options);
}

std::string group_help(const std::string& group, const std::vector<CommandSpec>& commands) {
    return "usage: morvent [LINK] " + group + " COMMAND [OPTIONS]\n\nCommands:\n" + command_list(commands, group) +
           "\nmorvent " + group + " COMMAND --help shows a command's options.\n";
}

std::string command_help(const CommandSpec& command, const Options& global) {
    std::string text = "usage: morvent [LINK] " + std::string(command.name) +
                       (command.options.empty() ? "" : " [OPTIONS]") +
                       (*command.operands ? std::string(" ") + command.operands : "") + "\n\n" + command.summary +
                       "\n";
    if (*command.details) text += "\n" + std::string(command.details) + "\n";
    if (!command.options.empty()) text += "\nOptions:\n" + options_text(command.options);
    text += "\nLink and output options (see morvent --help):\n" + options_text(global);
    return text;
}

}  // namespace morvent_cli

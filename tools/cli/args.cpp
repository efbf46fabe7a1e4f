// The command tables turned into a CLI11 application: one subcommand per
// command word, each option stored by name in Arguments. CLI11 does the
// parsing; this file only words its errors the way the tool speaks.
#include "args.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <regex>

#include "parse.h"

namespace morvent_cli {
namespace {

void addOptions(CLI::App& app, const Options& options, Arguments& into) {
    for (const OptionSpec& option : options) {
        std::string name = option.name;
        std::string spelling = "--" + name;
        if (option.alias) spelling += ",--" + std::string(option.alias);
        if (!option.metavar) {
            app.add_flag_callback(spelling, [&into, name] { into.setFlag(name); })->disable_flag_override();
            continue;
        }
        app.add_option(spelling)->type_name(option.metavar)->each([&into, name](const std::string& value) {
            if (into.value(name)) throw UsageError("--" + name + " given twice");
            into.setValue(name, value);
        });
    }
}

void addHelp(CLI::App& app, Invocation& invocation) {
    app.set_help_flag();
    app.add_flag_callback("-h,--help", [&invocation] { invocation.help = true; });
}

// The words of a command name: "config set" -> {"config", "set"}.
std::vector<std::string> wordsOf(const std::string& name) {
    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t space; (space = name.find(' ', start)) != std::string::npos; start = space + 1) {
        words.push_back(name.substr(start, space - start));
    }
    words.push_back(name.substr(start));
    return words;
}

CLI::App* subcommand(CLI::App& parent, const std::string& word, Invocation& invocation) {
    for (CLI::App* existing : parent.get_subcommands({})) {
        if (existing->get_name() == word) return existing;
    }
    CLI::App* app = parent.add_subcommand(word);
    app->fallthrough();
    // One command word per level: once a level has its word, a later word
    // that names a command elsewhere ("epc" in `config set auto-mask E200
    // epc 32`) is an operand, not another command.
    app->require_subcommand(0, 1);
    app->allow_extras();
    addHelp(*app, invocation);
    return app;
}

void collectRemaining(CLI::App& app, std::vector<std::string>& remaining) {
    for (const std::string& word : app.remaining()) remaining.push_back(word);
    for (CLI::App* sub : app.get_subcommands()) collectRemaining(*sub, remaining);
}

// CLI11's own messages, in the words the tool uses everywhere.
std::string reword(const CLI::ParseError& error) {
    std::string what = error.what();
    std::smatch match;
    if (std::regex_search(what, match, std::regex("^(--[\\w-]+)(,[^:]*)?: 1 required (\\S+) missing"))) {
        return match[1].str() + " needs a value " + match[3].str();
    }
    if (std::regex_search(what, match, std::regex("^([\\w-]+) was given a disallowed flag override"))) {
        return "--" + match[1].str() + " takes no value";
    }
    return what;
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

Invocation parseCommandLine(const std::vector<std::string>& args, const Options& global,
                            const std::vector<CommandSpec>& commands) {
    Invocation invocation;
    CLI::App app{"morvent"};
    app.allow_extras();
    app.require_subcommand(0, 1);
    addHelp(app, invocation);
    addOptions(app, global, invocation.arguments);
    std::map<CLI::App*, const CommandSpec*> leaves;
    for (const CommandSpec& command : commands) {
        CLI::App* at = &app;
        for (const std::string& word : wordsOf(command.name)) at = subcommand(*at, word, invocation);
        addOptions(*at, command.options, invocation.arguments);
        leaves[at] = &command;
    }

    // "--" ends the options: what follows is operands, given to the command.
    auto end = std::find(args.begin(), args.end(), "--");
    std::vector<std::string> reversed(args.begin(), end);
    std::reverse(reversed.begin(), reversed.end());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        throw UsageError(reword(error));
    }

    std::string group;
    CLI::App* at = &app;
    while (!at->get_subcommands().empty()) {
        at = at->get_subcommands().front();
        group += (group.empty() ? "" : " ") + at->get_name();
    }
    auto leaf = leaves.find(at);
    if (leaf != leaves.end()) invocation.command = leaf->second;
    else invocation.group = group;

    std::vector<std::string> remaining;
    collectRemaining(app, remaining);
    std::string context = group.empty() ? "" : group + " ";
    for (const std::string& word : remaining) {
        if (word.size() > 1 && word[0] == '-') {
            throw UsageError("unknown option " + word + " (see morvent " + context + "--help)");
        }
        if (!invocation.command) {
            throw UsageError("unknown command '" + context + word + "' (see morvent " + context + "--help)");
        }
        invocation.arguments.addOperand(word);
    }
    if (end != args.end()) {
        for (auto word = end + 1; word != args.end(); ++word) invocation.arguments.addOperand(*word);
    }
    if (invocation.command && !invocation.arguments.operands().empty() && !*invocation.command->operands) {
        throw UsageError("unexpected operand '" + invocation.arguments.operands().front() + "' (see morvent " +
                         context + "--help)");
    }
    return invocation;
}

}  // namespace morvent_cli

// The command tables: each command lists its options; the parser (CLI11) and
// the help text both read the same table.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace morvent_cli {

struct OptionSpec {
    const char* name;     // without the leading "--"
    const char* metavar;  // nullptr for a flag
    const char* help;
    const char* alias = nullptr;  // an older spelling still accepted, without "--"
};
using Options = std::vector<OptionSpec>;

struct Context;  // the tool's link and output state, defined by the program
class Arguments;
using Handler = int (*)(Context&, const Arguments&);

struct CommandSpec {
    const char* name;      // "info", "config set"
    const char* operands;  // positional operands for the usage line, "" when none
    const char* summary;
    Options options;
    const char* details;  // further help text, may be ""
    Handler run;
    // When the command prints a stream of rows, which --csv formats: "" for
    // always, else the option that makes it stream; nullptr for never.
    const char* stream = nullptr;
};

class Arguments {
public:
    bool flag(const std::string& name) const { return flags_.count(name) != 0; }
    bool has(const std::string& name) const { return values_.count(name) != 0 || flag(name); }
    std::optional<std::string> value(const std::string& name) const;
    std::string required(const std::string& name) const;  // throws UsageError when absent
    const std::vector<std::string>& operands() const { return operands_; }

    void setValue(const std::string& name, const std::string& value) { values_[name] = value; }
    void setFlag(const std::string& name) { flags_.insert(name); }
    void addOperand(const std::string& operand) { operands_.push_back(operand); }

private:
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
    std::vector<std::string> operands_;
};

struct Invocation {
    const CommandSpec* command = nullptr;  // nullptr: no command given
    std::string group;                     // "config" when only a group word was given
    Arguments arguments;
    bool help = false;
};

// Finds the command among `commands` (one or two words) and parses every
// option against `global` plus the command's own. Options may come before or
// after the command; "--" ends them. Throws UsageError on unknown options,
// missing values, repeated options, unknown commands and operands a command
// does not take.
Invocation parseCommandLine(const std::vector<std::string>& args, const Options& global,
                            const std::vector<CommandSpec>& commands);

std::string toolHelp(const Options& global, const std::vector<CommandSpec>& commands, const char* intro);
std::string groupHelp(const std::string& group, const std::vector<CommandSpec>& commands);
std::string commandHelp(const CommandSpec& command, const Options& global);

}  // namespace morvent_cli

// The handlers of the tool's commands and the option tables they read.
#pragma once

#include <vector>

#include "cli/args.h"

namespace morvent_cli {

const std::vector<CommandSpec>& tag_commands();
const std::vector<CommandSpec>& reader_commands();

}  // namespace morvent_cli

// The handlers of the tool's commands and the option tables they read.
#pragma once

#include <vector>

#include "cli/args.h"

namespace morvent_cli {

const std::vector<CommandSpec>& tagCommands();
const std::vector<CommandSpec>& readerCommands();

}  // namespace morvent_cli

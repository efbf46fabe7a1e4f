// A reader's starting state: settings, tag field and faults, from a JSON
// scenario file or the built-in default field.
#pragma once

#include <string>

#include "sim/faults.h"
#include "sim/reader.h"

namespace sim {

struct Scenario {
    Settings settings;
    std::vector<Gen2Tag> gen2;
    std::vector<Tag6B> tags6B;
    FaultPlan faults;
    Population population;
    std::vector<PathStop> paths;  // its stops on paths through several readers (command line only)
};

Scenario defaultScenario();

// Throws std::runtime_error with a readable message on a malformed file.
Scenario loadScenario(const std::string& path);
Scenario parseScenario(const std::string& text);

}  // namespace sim

// One line per event of note, on stderr (journald keeps them under systemd).
#pragma once

#include <string>

namespace morventd {

// Sets the tag every line starts with ("morventd", "morventd[door-a]").
void setLogTag(const std::string& tag);
// Writes "TAG: message\n" in one write, so lines of several processes do not mix.
void logLine(const std::string& message);

}  // namespace morventd

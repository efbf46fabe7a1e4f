#include "gateway/log.h"

#include <unistd.h>

namespace morventd {

namespace {
std::string tag = "morventd";
}

void setLogTag(const std::string& t) { tag = t; }

void logLine(const std::string& message) {
    const std::string line = tag + ": " + message + "\n";
    ssize_t written = ::write(2, line.data(), line.size());
    (void)written;
}

}  // namespace morventd

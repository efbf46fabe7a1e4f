#include "support/process_probe.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

namespace mvtest {
namespace {

// Calls `visit` with every entry name of `dir` but . and ..; the count.
int forEachEntry(const char* dir, const std::function<void(const char*)>& visit) {
    DIR* d = opendir(dir);
    if (!d) return -1;
    int n = 0;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        ++n;
        visit(e->d_name);
    }
    closedir(d);
    return n;
}

}  // namespace

int openDescriptors() { return forEachEntry("/proc/self/fd", [](const char*) {}) - 1; }

int threadCount() { return forEachEntry("/proc/self/task", [](const char*) {}); }

int threadsNamed(const char* name) {
    int named = 0;
    forEachEntry("/proc/self/task", [&](const char* task) {
        std::ifstream comm(std::string("/proc/self/task/") + task + "/comm");
        std::string line;
        if (std::getline(comm, line) && line == name) ++named;
    });
    return named;
}

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

}  // namespace mvtest

// Files and environment: plain C library calls, the same on every system.
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace mv::plat {

bool fileReadable(const char* path) {
    std::FILE* f = std::fopen(path, "r");
    if (!f) return false;
    std::fclose(f);
    return true;
}

void appendToFile(const char* path, const char* text, std::size_t length) {
    std::FILE* f = std::fopen(path, "a+");
    if (!f) return;
    std::fwrite(text, 1, length, f);
    std::fflush(f);
    std::fclose(f);
}

const char* getEnv(const char* name) { return std::getenv(name); }

}  // namespace mv::plat

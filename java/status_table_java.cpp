// Writes org/morvent/StatusTable.java from the core's status table, so that
// the Java API names every status and tag error code as the core does.
#include <cstdio>
#include <string>

#include "morvent.h"

namespace {

std::string quoted(const char* text) {
    std::string out = "\"";
    for (const char* c = text; *c; ++c) {
        if (*c == '"' || *c == '\\') out += '\\';
        out += *c;
    }
    return out + "\"";
}

void array(const char* name, const char* (*lookup)(int)) {
    std::printf("    static final String[] %s = {\n", name);
    for (int code = 0; code < 256; ++code) std::printf("        %s,\n", quoted(lookup(code)).c_str());
    std::printf("    };\n");
}

}  // namespace

int main() {
    std::printf("// Generated at build time from libMorvent's status table; do not edit.\n");
    std::printf("package org.morvent;\n\nfinal class StatusTable {\n    private StatusTable() {}\n\n");
    std::printf("    static final String VERSION = %s;\n", quoted(MorventVersion()).c_str());
    array("STATUS_NAMES", MorventStatusName);
    array("STATUS_TEXTS", MorventStatusText);
    array("TAG_ERROR_NAMES", MorventTagErrorName);
    array("TAG_ERROR_TEXTS", MorventTagErrorText);
    std::printf("    static final String UNKNOWN_STATUS_NAME = %s;\n", quoted(MorventStatusName(-1)).c_str());
    std::printf("    static final String UNKNOWN_STATUS_TEXT = %s;\n", quoted(MorventStatusText(-1)).c_str());
    std::printf("    static final String NO_TAG_ERROR_NAME = %s;\n", quoted(MorventTagErrorName(-1)).c_str());
    std::printf("    static final String NO_TAG_ERROR_TEXT = %s;\n}\n", quoted(MorventTagErrorText(-1)).c_str());
    return 0;
}

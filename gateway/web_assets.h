// The dashboard's pages, compiled into morventd from gateway/web/.
#pragma once

#include <cstddef>
#include <string>

namespace morventd {

struct WebFile {
    const char* data;
    std::size_t size;
    const char* type;
};

const WebFile* webFile(const std::string& name);  // null when there is none

}  // namespace morventd

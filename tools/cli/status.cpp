// The tool's wording of status codes; names and meanings come from the
// core's one table (morvent::statusName/statusText, tagErrorName/tagErrorText).
#include "status.h"

#include <cstdio>

#include "morvent.hpp"

namespace morvent_cli {

StatusInfo describe_status(int code) { return {code, morvent::statusName(code), morvent::statusText(code)}; }

StatusInfo describe_tag_error(int code) { return {code, morvent::tagErrorName(code), morvent::tagErrorText(code)}; }

std::string tag_error_line(int code) {
    char numbers[24];
    std::snprintf(numbers, sizeof numbers, "0x%02X ", static_cast<unsigned>(code) & 0xFFu);
    StatusInfo info = describe_tag_error(code);
    return numbers + info.name + ": " + info.meaning;
}

std::string status_line(int code) {
    StatusInfo info = describe_status(code);
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, " (0x%02X, %d): ", static_cast<unsigned>(code), code);
    return info.name + numbers + info.meaning;
}

}  // namespace morvent_cli

// The tool's wording of status codes; names and meanings come from the
// core's one table (morvent::statusName/statusText, tagErrorName/tagErrorText).
#include "status.h"

#include <cstdio>

#include "morvent.hpp"

namespace morvent_cli {

StatusInfo describeStatus(int code) { return {code, morvent::statusName(code), morvent::statusText(code)}; }

StatusInfo describeTagError(int code) { return {code, morvent::tagErrorName(code), morvent::tagErrorText(code)}; }

std::string tagErrorLine(int code) {
    char numbers[24];
    std::snprintf(numbers, sizeof numbers, "0x%02X ", static_cast<unsigned>(code) & 0xFFu);
    StatusInfo info = describeTagError(code);
    return numbers + info.name + ": " + info.meaning;
}

std::string statusLine(int code) {
    StatusInfo info = describeStatus(code);
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, " (0x%02X, %d): ", static_cast<unsigned>(code), code);
    return info.name + numbers + info.meaning;
}

}  // namespace morvent_cli

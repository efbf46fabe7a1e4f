// morvent/error.hpp - the failures of the C++ API (C++17, header-only; part of
// the C++ API, included by morvent.hpp): morvent::Error and the names and
// meanings of the core's status codes and the tags' error codes.
#ifndef MORVENT_ERROR_HPP
#define MORVENT_ERROR_HPP

#include <stdexcept>
#include <string>
#include <utility>

#include "../morvent.h"

namespace morvent {

inline std::string statusName(int status) { return MorventStatusName(status); }
inline std::string statusText(int status) { return MorventStatusText(status); }
inline std::string tagErrorName(int code) { return MorventTagErrorName(code); }
inline std::string tagErrorText(int code) { return MorventTagErrorText(code); }

// A failed command: the status code, its name and meaning, the operation
// (the C function's name) and, for MORVENT_TAG_ERROR, the tag's error code.
class Error : public std::runtime_error {
public:
    Error(int status, std::string operation, int tagError = -1, std::string detail = {})
        : std::runtime_error(describe(status, operation, tagError, detail)),
          status_(status),
          tagError_(tagError),
          operation_(std::move(operation)) {}

    // A failure whose cause is known better than its status tells, such as
    // "no such device /dev/ttyUSB0": the message gives that reason in place
    // of the status's meaning, and status() still gives the code.
    static Error because(int status, std::string operation, std::string reason, const std::string& detail = {}) {
        return Error(status, std::move(operation), std::move(reason), detail, Because{});
    }

    int status() const noexcept { return status_; }
    const char* name() const noexcept { return MorventStatusName(status_); }
    const char* meaning() const noexcept { return MorventStatusText(status_); }
    const std::string& operation() const noexcept { return operation_; }
    // The tag's error code with MORVENT_TAG_ERROR, else -1.
    int tagError() const noexcept { return tagError_; }
    const char* tagErrorName() const noexcept { return MorventTagErrorName(tagError_); }
    const char* tagErrorMeaning() const noexcept { return MorventTagErrorText(tagError_); }
    // The cause when it is known better than the status tells, else "".
    const std::string& reason() const noexcept { return reason_; }

private:
    struct Because {};
    Error(int status, std::string operation, std::string reason, const std::string& detail, Because)
        : std::runtime_error(operation + ": " + reason + (detail.empty() ? "" : " (" + detail + ")")),
          status_(status),
          tagError_(-1),
          operation_(std::move(operation)),
          reason_(std::move(reason)) {}

    static std::string describe(int status, const std::string& operation, int tagError, const std::string& detail) {
        static const char digits[] = "0123456789ABCDEF";
        std::string text = operation + ": " + MorventStatusName(status) + " (0x" + digits[(status >> 4) & 15] +
                           digits[status & 15] + "): " + MorventStatusText(status);
        if (tagError >= 0) {
            text += "; tag error " + std::string(MorventTagErrorName(tagError)) + ": " + MorventTagErrorText(tagError);
        }
        if (!detail.empty()) text += " (" + detail + ")";
        return text;
    }

    int status_;
    int tagError_;
    std::string operation_;
    std::string reason_;
};

}  // namespace morvent

#endif  // MORVENT_ERROR_HPP

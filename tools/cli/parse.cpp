#include "parse.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace morvent_cli {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isSeparator(char c) { return c == ' ' || c == ':' || c == '-' || c == '_'; }

std::string quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

Bytes parseHex(const std::string& text, const std::string& what) {
    std::string digits;
    std::size_t start = (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) ? 2 : 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        char c = text[i];
        if (isSeparator(c)) continue;
        if (hexDigit(c) < 0) {
            throw UsageError(what + ": " + quoted(text) + " is not hex: '" + std::string(1, c) + "' at position " +
                             std::to_string(i + 1));
        }
        digits += c;
    }
    if (digits.size() % 2 != 0) {
        throw UsageError(what + ": " + quoted(text) + " has an odd number of hex digits (" +
                         std::to_string(digits.size()) + "); every byte takes two");
    }
    Bytes bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(hexDigit(digits[i]) * 16 + hexDigit(digits[i + 1])));
    }
    return bytes;
}

Bytes parseEpc(const std::string& text, const std::string& what) {
    Bytes epc = parseHex(text, what);
    if (epc.empty()) throw UsageError(what + ": empty");
    if (epc.size() % 2 != 0) {
        throw UsageError(what + ": " + std::to_string(epc.size()) + " bytes is not a whole number of 16-bit words");
    }
    if (epc.size() / 2 > kMaxEpcWords) {
        throw UsageError(what + ": " + std::to_string(epc.size() / 2) + " words is too long; at most " +
                         std::to_string(kMaxEpcWords) + " words (" + std::to_string(kMaxEpcWords * 4) + " hex digits)");
    }
    return epc;
}

Bytes parseHexExact(const std::string& text, std::size_t size, const std::string& what) {
    Bytes bytes = parseHex(text, what);
    if (bytes.size() != size) {
        throw UsageError(what + ": needs exactly " + std::to_string(size) + " bytes (" + std::to_string(size * 2) +
                         " hex digits), got " + std::to_string(bytes.size()));
    }
    return bytes;
}

long parseNumber(const std::string& text, const std::string& what, long min, long max) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(begin, &end, 0);
    bool whole = !text.empty() && end == begin + text.size() && !std::isspace(static_cast<unsigned char>(text[0]));
    if (!whole || errno == ERANGE) throw UsageError(what + ": " + quoted(text) + " is not a number");
    if (value < min || value > max) {
        throw UsageError(what + ": " + text + " is out of range " + std::to_string(min) + ".." + std::to_string(max));
    }
    return value;
}

Bytes parseByteList(const std::string& text, std::size_t count, const std::string& what) {
    Bytes bytes;
    std::string item;
    auto flush = [&] {
        if (!item.empty()) bytes.push_back(parseByte(item, what));
        item.clear();
    };
    for (char c : text) {
        if (c == ',' || c == ' ') flush();
        else item += c;
    }
    flush();
    if (bytes.size() != count) {
        throw UsageError(what + ": needs " + std::to_string(count) + " byte value" + (count == 1 ? "" : "s") +
                         ", got " + std::to_string(bytes.size()));
    }
    return bytes;
}

namespace {
const char* const kBanks[] = {"reserved", "epc", "tid", "user"};
}

std::string bankName(std::uint8_t bank) { return bank < 4 ? kBanks[bank] : "bank " + std::to_string(bank); }

std::uint8_t parseBank(const std::string& text) {
    for (int i = 0; i < 4; ++i) {
        if (text == kBanks[i]) return static_cast<std::uint8_t>(i);
    }
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
        return static_cast<std::uint8_t>(parseNumber(text, "memory bank", 0, 3));
    }
    throw UsageError("memory bank: " + quoted(text) + " is not one of reserved, epc, tid, user (or 0..3)");
}

namespace {
const long kBaudRates[] = {9600, 19200, 38400, 0, 0, 57600, 115200};
}

long baudRateOfCode(std::uint8_t code) { return code < 7 ? kBaudRates[code] : 0; }

std::uint8_t parseBaud(const std::string& text) {
    long value = parseNumber(text, "baud", 0, 115200);
    for (std::uint8_t code = 0; code < 7; ++code) {
        if (kBaudRates[code] != 0 && (value == code || value == kBaudRates[code])) return code;
    }
    throw UsageError("baud: " + text +
                     " is neither a rate (9600, 19200, 38400, 57600, 115200) nor a code (0, 1, 2, 5, 6)");
}

Endpoint parseEndpoint(const std::string& text) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) throw UsageError("--tcp: " + quoted(text) + " is not HOST:PORT");
    std::string host = text.substr(0, colon);
    // Looked up when the link opens, which names a host that has no address.
    if (host.empty()) throw UsageError("--tcp: " + quoted(text) + " names no host; give HOST:PORT");
    int port = static_cast<int>(parseNumber(text.substr(colon + 1), "--tcp port", 1024, 65535));
    return {host, port};
}

std::string toHex(const std::uint8_t* bytes, std::size_t count, const char* separator) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += separator;
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace morvent_cli

// Parsing of command-line values: hex strings, numbers, names. Every failure
// throws UsageError with a message that names the offending argument, so the
// tool can refuse bad input before a single byte goes to the reader.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace morvent_cli {

using Bytes = std::vector<std::uint8_t>;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr int kMaxEpcWords = 15;

// Hex digits, optionally prefixed by 0x, with spaces, ':' or '-' between
// bytes allowed ("E2 00 34", "e2:00:34").
Bytes parseHex(const std::string& text, const std::string& what);

// An EPC: whole 16-bit words, 1 to 15 of them.
Bytes parseEpc(const std::string& text, const std::string& what = "EPC");

// A hex string of exactly `size` bytes (passwords, 6B uids).
Bytes parseHexExact(const std::string& text, std::size_t size, const std::string& what);

// Decimal or 0x-prefixed hex, within [min, max].
long parseNumber(const std::string& text, const std::string& what, long min, long max);

inline std::uint8_t parseByte(const std::string& text, const std::string& what) {
    return static_cast<std::uint8_t>(parseNumber(text, what, 0, 255));
}

// Byte values separated by commas or spaces ("3,0", "3 0"), exactly `count`.
Bytes parseByteList(const std::string& text, std::size_t count, const std::string& what);

// A Gen2 memory bank: reserved, epc, tid, user, or 0..3.
std::uint8_t parseBank(const std::string& text);

// "reserved", "epc", "tid", "user", or "bank N" past them.
std::string bankName(std::uint8_t bank);

// A baud code (0..6) or a rate in bit/s (9600, 19200, 38400, 57600, 115200).
std::uint8_t parseBaud(const std::string& text);
long baudRateOfCode(std::uint8_t code);  // 0 for codes without a rate

struct Endpoint {
    std::string host;  // a host name or dotted IPv4 address, as given
    int port;
};

// HOST:PORT, HOST a host name or dotted IPv4 address; PORT 1024..65535.
Endpoint parseEndpoint(const std::string& text);

std::string toHex(const std::uint8_t* bytes, std::size_t count, const char* separator = "");
inline std::string toHex(const Bytes& bytes, const char* separator = "") {
    return toHex(bytes.data(), bytes.size(), separator);
}

}  // namespace morvent_cli

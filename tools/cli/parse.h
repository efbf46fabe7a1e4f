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
Bytes parse_hex(const std::string& text, const std::string& what);

// An EPC: whole 16-bit words, 1 to 15 of them.
Bytes parse_epc(const std::string& text, const std::string& what = "EPC");

// A hex string of exactly `size` bytes (passwords, 6B uids).
Bytes parse_hex_exact(const std::string& text, std::size_t size, const std::string& what);

// Decimal or 0x-prefixed hex, within [min, max].
long parse_number(const std::string& text, const std::string& what, long min, long max);

inline std::uint8_t parse_byte(const std::string& text, const std::string& what) {
    return static_cast<std::uint8_t>(parse_number(text, what, 0, 255));
}

// Byte values separated by commas or spaces ("3,0", "3 0"), exactly `count`.
Bytes parse_byte_list(const std::string& text, std::size_t count, const std::string& what);

// A Gen2 memory bank: reserved, epc, tid, user, or 0..3.
std::uint8_t parse_bank(const std::string& text);

// "reserved", "epc", "tid", "user", or "bank N" past them.
std::string bank_name(std::uint8_t bank);

// A baud code (0..6) or a rate in bit/s (9600, 19200, 38400, 57600, 115200).
std::uint8_t parse_baud(const std::string& text);
long baud_rate_of_code(std::uint8_t code);  // 0 for codes without a rate

struct Endpoint {
    std::string host;  // a host name or dotted IPv4 address, as given
    int port;
};

// HOST:PORT, HOST a host name or dotted IPv4 address; PORT 1024..65535.
Endpoint parse_endpoint(const std::string& text);

std::string to_hex(const std::uint8_t* bytes, std::size_t count, const char* separator = "");
inline std::string to_hex(const Bytes& bytes, const char* separator = "") {
    return to_hex(bytes.data(), bytes.size(), separator);
}

}  // namespace morvent_cli

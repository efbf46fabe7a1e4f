// The line protocol between the Windows test suites (under Wine) and the
// Linux helper that serves their fake readers. One request line, one answer
// line ("ok ..." or "fail ..."); tokens are separated by spaces, byte
// strings are hex ("-" when empty), times are milliseconds before the answer
// was sent, so that each side can place them on its own clock.
//
//   tcp PORT            -> ok ID PORT        FakeReader::tcp(PORT)
//   pty                 -> ok ID SLAVEPATH   FakeReader::pty()
//   free ID             -> ok                the reader is destroyed
//   step ID DROP N HEX:DELAY...   -> ok      one scripted step (N = 0: silence)
//   unsolicited ID HEX  -> ok
//   drop ID             -> ok                dropConnection()
//   raw ID 0|1          -> ok                setRawMode()
//   ignoreclose ID 0|1  -> ok                setIgnorePeerClose()
//   termios ID          -> ok HEX            the slave's settings, Linux layout
//   settermios ID HEX   -> ok
//   requests ID         -> ok N HEX:AGO...
//   keepalives ID       -> ok N AGO...
//   waitreq ID N MS     -> ok 0|1
//   waitka ID N MS      -> ok 0|1
//   waitdisc ID MS      -> ok 0|1
//   accepted ID         -> ok N
//   connected ID        -> ok 0|1
//   comlink COM PATH    -> ok PREVIOUS|-     points the Wine prefix's COM n at PATH
//   comrestore COM PREVIOUS|- -> ok
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace mvtest::remote {

// The environment variable that names the helper's TCP port on 127.0.0.1.
constexpr const char* kServerPortVariable = "MORVENT_FAKE_SERVER";

inline std::string toHex(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return "-";
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 0x0F];
  }
  return text;
}

inline std::vector<std::uint8_t> fromHex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  if (text == "-") return bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

// "HEX:NUMBER" split in two.
inline std::pair<std::vector<std::uint8_t>, long long> splitTimed(const std::string& token) {
  const std::size_t colon = token.find(':');
  return {fromHex(token.substr(0, colon)), std::stoll(token.substr(colon + 1))};
}

}  // namespace mvtest::remote

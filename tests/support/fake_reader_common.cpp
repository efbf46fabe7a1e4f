// The parts of the fake reader that do not depend on how it is served:
// frame builders, COM mapping by path, and the script shorthands.
#include <memory>
#include <string>

#include "link/crc.h"
#include "support/fake_reader.h"

namespace mvtest {

// The answer has Len 0x11 (18 bytes): 11 data bytes the library hands on and
// one more it ignores.
const Bytes kReaderInfoData = {0x03, 0x01, 0x0C, 0x0A, 0x3E, 0x00, 0x1E, 0x0A, 0x00, 0x01, 0x00, 0x00};

Bytes withCrc(Bytes frame) {
  const std::size_t length = frame.size();
  frame.resize(length + 2);
  mv::appendCrc(frame.data(), length);
  return frame;
}

Bytes response(std::uint8_t adr, std::uint8_t cmd, std::uint8_t status, const Bytes& data) {
  Bytes frame{static_cast<std::uint8_t>(data.size() + 5), adr, cmd, status};
  frame.insert(frame.end(), data.begin(), data.end());
  return withCrc(frame);
}

Bytes request(std::uint8_t adr, std::uint8_t cmd, const Bytes& data) {
  Bytes frame{static_cast<std::uint8_t>(data.size() + 4), adr, cmd};
  frame.insert(frame.end(), data.begin(), data.end());
  return withCrc(frame);
}

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::unique_ptr<ComMapping> mapComToMissing(int comNumber) {
  return std::make_unique<ComMapping>(comNumber,
                                      "/nonexistent/morvent-test-com" + std::to_string(comNumber));
}

// ---- COM mapping and script shorthands -------------------------------------------------------------

void FakeReader::mapCom(int comNumber) {
  mappings_.push_back(std::make_unique<ComMapping>(comNumber, slavePath_));
}

void FakeReader::script(std::vector<Chunk> answer) { queueStep({std::move(answer), false}); }

void FakeReader::scriptFrame(std::uint8_t adr, std::uint8_t cmd, std::uint8_t status,
                             const Bytes& data, int delayMs) {
  script({{response(adr, cmd, status, data), delayMs}});
}

void FakeReader::scriptReaderInfo(std::uint8_t adr, const Bytes& data, int delayMs) {
  scriptFrame(adr, 0x21, 0x00, data, delayMs);
}

void FakeReader::scriptSilence() { queueStep({}); }

void FakeReader::scriptAnswerThenDrop(std::vector<Chunk> answer) {
  queueStep({std::move(answer), true});
}

}  // namespace mvtest

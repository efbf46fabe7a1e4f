// Small helpers the suites share: a scratch working directory, a receive
// buffer whose end touches an inaccessible page, and raw reads and writes on
// a descriptor for suites that play the host side of a link themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mvtest {

// Creates a fresh directory, makes it the working directory, and on
// destruction returns to the previous one and removes it with its contents.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};

// `size` usable bytes followed directly by a page that faults on any access,
// so a write past the end crashes the test instead of passing unnoticed.
// The bytes start filled with `fill`.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t size, std::uint8_t fill = 0xA7);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  std::uint8_t* data() { return data_; }
  std::size_t size() const { return size_; }

 private:
  void* mapping_ = nullptr;
  std::size_t mappingSize_ = 0;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// Writes all of `bytes` to `fd` in one call (a failed assertion otherwise).
void writeAll(int fd, const std::vector<std::uint8_t>& bytes);

// Reads from `fd` until `want` bytes came, the descriptor closed, or
// `timeoutMs` passed.
std::vector<std::uint8_t> readFor(int fd, std::size_t want, int timeoutMs);

}  // namespace mvtest

// The guarded buffer on POSIX: mmap with a PROT_NONE page after it.
#include "support/test_env.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

namespace mvtest {

GuardedBuffer::GuardedBuffer(std::size_t size, std::uint8_t fill) : size_(size) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t usablePages = (size + page - 1) / page;
  mappingSize_ = (usablePages + 1) * page;
  mapping_ = mmap(nullptr, mappingSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping_ == MAP_FAILED) throw std::runtime_error("mmap failed");
  auto* base = static_cast<std::uint8_t*>(mapping_);
  mprotect(base + usablePages * page, page, PROT_NONE);
  data_ = base + usablePages * page - size;
  std::memset(data_, fill, size);
}

GuardedBuffer::~GuardedBuffer() { munmap(mapping_, mappingSize_); }

void writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

std::vector<std::uint8_t> readFor(int fd, std::size_t want, int timeoutMs) {
  std::vector<std::uint8_t> got;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < want && std::chrono::steady_clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    std::uint8_t chunk[512];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}

}  // namespace mvtest

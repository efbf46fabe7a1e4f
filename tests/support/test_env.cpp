// The guarded buffer on POSIX: mmap with a PROT_NONE page after it.
#include "support/test_env.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

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

}  // namespace mvtest

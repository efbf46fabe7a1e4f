#include "support/test_env.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace mvtest {

ScratchDir::ScratchDir() {
  previous_ = std::filesystem::current_path().string();
  std::string pattern = (std::filesystem::temp_directory_path() / "morvent-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  std::filesystem::current_path(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

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

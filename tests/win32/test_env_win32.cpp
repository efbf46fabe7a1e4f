// The scratch directory and guarded buffer on Windows.
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/test_env.h"

namespace mvtest {

ScratchDir::ScratchDir() {
  previous_ = std::filesystem::current_path().string();
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (unsigned attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
    const std::filesystem::path candidate =
        base / ("morvent-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt));
    if (CreateDirectoryA(candidate.string().c_str(), nullptr)) path_ = candidate.string();
  }
  if (path_.empty()) throw std::runtime_error("cannot create a scratch directory");
  std::filesystem::current_path(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

GuardedBuffer::GuardedBuffer(std::size_t size, std::uint8_t fill) : size_(size) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const std::size_t page = info.dwPageSize;
  const std::size_t usablePages = (size + page - 1) / page;
  mappingSize_ = (usablePages + 1) * page;
  mapping_ = VirtualAlloc(nullptr, mappingSize_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!mapping_) throw std::runtime_error("VirtualAlloc failed");
  auto* base = static_cast<std::uint8_t*>(mapping_);
  DWORD old = 0;
  VirtualProtect(base + usablePages * page, page, PAGE_NOACCESS, &old);
  data_ = base + usablePages * page - size;
  std::memset(data_, fill, size);
}

GuardedBuffer::~GuardedBuffer() { VirtualFree(mapping_, 0, MEM_RELEASE); }

}  // namespace mvtest

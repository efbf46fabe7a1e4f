// The guarded buffer on Windows: VirtualAlloc with a PAGE_NOACCESS page after it.
#include <windows.h>

#include <cstring>
#include <stdexcept>

#include "support/test_env.h"

namespace mvtest {

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

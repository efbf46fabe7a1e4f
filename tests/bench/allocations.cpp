#include "bench/allocations.h"

#include <atomic>
#include <cstddef>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
}

namespace {
thread_local bool countingAllocations = false;
std::atomic<long> allocations{0};
}  // namespace

extern "C" {
void* malloc(std::size_t size) {
    if (countingAllocations) allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
    if (countingAllocations) allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) {
    if (countingAllocations) allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
void free(void* p) {
    __libc_free(p);
}
}

namespace benchtable {

AllocationCount::AllocationCount() : start_(allocations.load()) { countingAllocations = true; }
AllocationCount::~AllocationCount() { countingAllocations = false; }
long AllocationCount::sinceStart() const { return allocations.load() - start_; }

}  // namespace benchtable

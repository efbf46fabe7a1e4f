// Heap allocations counted per thread: the program's malloc, calloc and
// realloc are replaced (allocations.cpp), and while an AllocationCount lives
// those its thread makes are counted.
#pragma once

namespace benchtable {

class AllocationCount {
public:
    AllocationCount();
    ~AllocationCount();
    AllocationCount(const AllocationCount&) = delete;
    AllocationCount& operator=(const AllocationCount&) = delete;
    long sinceStart() const;

private:
    long start_;
};

}  // namespace benchtable

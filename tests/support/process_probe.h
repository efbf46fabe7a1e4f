// What the process holds, read from /proc: for tests that prove nothing
// leaks (descriptors, threads, resident memory).
#pragma once

namespace mvtest {

int openDescriptors();             // entries of /proc/self/fd, less the one reading it
int threadCount();                 // entries of /proc/self/task
int threadsNamed(const char* name);  // tasks whose comm is `name`
long residentKb();                 // VmRSS

}  // namespace mvtest

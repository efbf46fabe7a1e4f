// Time and threads on POSIX.
#include <pthread.h>
#include <time.h>

#include "platform/platform.h"

namespace mv::plat {

std::uint32_t systemTickMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms =
        static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void systemSleepMs(std::uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {}
}

LocalTime localTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    return LocalTime{parts.tm_year + 1900,
                     parts.tm_mon + 1,
                     parts.tm_mday,
                     parts.tm_hour,
                     parts.tm_min,
                     parts.tm_sec,
                     static_cast<int>(now.tv_nsec / 1000000L)};
}

namespace {
struct ThreadStart {
    void (*fn)(void*);
    void* arg;
    const char* name;
};

void* runThread(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    if (start.name) pthread_setname_np(pthread_self(), start.name);
    start.fn(start.arg);
    return nullptr;
}
}  // namespace

bool startDetachedThread(void (*fn)(void*), void* arg, const char* name) {
    auto* start = new ThreadStart{fn, arg, name};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, runThread, start) != 0) {
        delete start;
        return false;
    }
    pthread_detach(thread);
    return true;
}

}  // namespace mv::plat

// Time and threads on Windows.
#include <windows.h>

#include "platform/platform.h"

namespace mv::plat {

// Milliseconds from the performance counter rather than GetTickCount, whose
// 10-16 ms steps would let a 510 ms serial read look shorter than the 500 ms
// idle window and so double a silent reader's time-out.
std::uint32_t systemTickMs() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const LONGLONG seconds = now.QuadPart / frequency;
    const LONGLONG rest = now.QuadPart % frequency;
    return static_cast<std::uint32_t>(seconds * 1000 + rest * 1000 / frequency);
}

void systemSleepMs(std::uint32_t ms) { Sleep(ms); }

LocalTime localTime() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

namespace {
struct ThreadStart {
    void (*fn)(void*);
    void* arg;
};

DWORD WINAPI runThread(LPVOID raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.fn(start.arg);
    return 0;
}
}  // namespace

// Thread names are a debugging aid only; Windows threads go unnamed here.
bool startDetachedThread(void (*fn)(void*), void* arg, const char*) {
    auto* start = new ThreadStart{fn, arg};
    const HANDLE thread = CreateThread(nullptr, 0, runThread, start, 0, nullptr);
    if (thread == nullptr) {
        delete start;
        return false;
    }
    CloseHandle(thread);
    return true;
}

}  // namespace mv::plat

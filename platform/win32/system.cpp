// Time and threads on Windows.
#include <windows.h>

#include "platform/platform.h"

namespace mv::plat {

std::uint32_t systemTickMs() { return GetTickCount(); }

void sleepMs(std::uint32_t ms) { Sleep(ms); }

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

bool startDetachedThread(void (*fn)(void*), void* arg) {
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

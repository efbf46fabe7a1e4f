// Serial devices on Windows: COM n is the device "\\.\COMn", opened for
// synchronous I/O. Line settings and read/write time-outs go to the driver
// as they are; the driver applies them.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "platform/platform.h"

namespace mv::plat {
namespace {

constexpr DWORD kQueueBytes = 1024;

HANDLE handleOf(SerialHandle handle) { return reinterpret_cast<HANDLE>(handle); }

SerialHandle win32Open(int comNumber) {
    wchar_t name[32];
    std::swprintf(name, sizeof name / sizeof name[0], L"\\\\.\\COM%d", comNumber);
    const HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoSerial : reinterpret_cast<SerialHandle>(h);
}

bool win32Configure(SerialHandle handle, SerialLine line) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handleOf(handle), &dcb)) return false;
    if (line.bitRate != 0) dcb.BaudRate = line.bitRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    return SetCommState(handleOf(handle), &dcb) != 0;
}

bool win32SetTimeouts(SerialHandle handle, const SerialTimeouts& t) {
    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(handleOf(handle), &timeouts);
    timeouts.ReadIntervalTimeout = t.readInterval;
    timeouts.ReadTotalTimeoutMultiplier = t.readMultiplier;
    timeouts.ReadTotalTimeoutConstant = t.readConstant;
    timeouts.WriteTotalTimeoutMultiplier = t.writeMultiplier;
    timeouts.WriteTotalTimeoutConstant = t.writeConstant;
    return SetCommTimeouts(handleOf(handle), &timeouts) != 0;
}

void win32SetupQueues(SerialHandle handle) {
    SetCommMask(handleOf(handle), EV_RXCHAR);
    SetupComm(handleOf(handle), kQueueBytes, kQueueBytes);
}

// The handles are synchronous, so no operation can be pending: aborting
// with the clear costs nothing and leaves the driver idle.
void win32Purge(SerialHandle handle, bool input, bool output) {
    DWORD flags = 0;
    if (input) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
    if (output) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    if (flags != 0) PurgeComm(handleOf(handle), flags);
}

bool win32Write(SerialHandle handle, const std::uint8_t* data, std::size_t length, std::size_t* written) {
    DWORD done = 0;
    const BOOL ok = WriteFile(handleOf(handle), data, static_cast<DWORD>(length), &done, nullptr);
    *written = done;
    return ok != 0;
}

bool win32Read(SerialHandle handle, std::uint8_t* data, std::size_t length, std::size_t* got) {
    DWORD done = 0;
    const BOOL ok = ReadFile(handleOf(handle), data, static_cast<DWORD>(length), &done, nullptr);
    *got = done;
    return ok != 0;
}

int win32Queued(SerialHandle handle) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handleOf(handle), &errors, &status)) return -1;
    return static_cast<int>(status.cbInQue);
}

bool win32Close(SerialHandle handle) { return CloseHandle(handleOf(handle)) != 0; }

const SerialOps win32SerialOps = {
    win32Open,   win32Configure, win32SetTimeouts, win32Purge, win32Write, win32Read,
    win32Queued, win32Close,     win32SetupQueues, nullptr};  // reads end at the interval (docs/windows.md)

}  // namespace

const SerialOps& systemSerialOps() { return win32SerialOps; }

DeviceState serialDevice(int comNumber, char* name, std::size_t size) {
    std::snprintf(name, size, "\\\\.\\COM%d", comNumber);
    // COMn is a DOS device name; the system knows it without an opening.
    char dosName[16], target[512];
    std::snprintf(dosName, sizeof dosName, "COM%d", comNumber);
    if (QueryDosDeviceA(dosName, target, sizeof target) != 0) return DeviceState::Present;
    return GetLastError() == ERROR_FILE_NOT_FOUND ? DeviceState::Missing : DeviceState::Present;
}

}  // namespace mv::plat

// The operating-system layer: everything the link layer needs from the
// system, behind one narrow interface. The implementations live in
// platform/posix and platform/win32; tests and fuzzers may install an
// in-memory device instead (tests/support/memory_device.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace mv::plat {

// ---- Serial devices -------------------------------------------------------

using SerialHandle = std::intptr_t;
constexpr SerialHandle kNoSerial = -1;

// Read time-outs with the Win32 meaning: a read of up to n bytes returns when
// n bytes have arrived, when `interval` ms pass between two bytes, or when
// `multiplier` * n + `constant` ms have passed since the read began.
struct SerialTimeouts {
    std::uint32_t readInterval;
    std::uint32_t readMultiplier;
    std::uint32_t readConstant;
    std::uint32_t writeMultiplier;
    std::uint32_t writeConstant;
};

// Tells a serial read when the bytes it has gathered complete the answer the
// caller waits for, so that it can return at the answer's last byte instead
// of waiting out the interval. `test` sees the bytes of this read only.
struct ReadEnd {
    bool (*test)(const void* context, const std::uint8_t* data, std::size_t got);
    const void* context;
};

// Bit rate 0 keeps the rate the device already has.
struct SerialLine {
    std::uint32_t bitRate;
};

// The operations on one kind of serial device. The POSIX backend opens real
// devices; tests install an in-memory one.
struct SerialOps {
    SerialHandle (*open)(int comNumber);          // kNoSerial when missing or busy
    bool (*configure)(SerialHandle, SerialLine);  // 8N1, raw; rate 0 keeps the rate
    bool (*setTimeouts)(SerialHandle, const SerialTimeouts&);
    void (*purge)(SerialHandle, bool input, bool output);
    bool (*write)(SerialHandle, const std::uint8_t* data, std::size_t length, std::size_t* written);
    bool (*read)(SerialHandle, std::uint8_t* data, std::size_t length, std::size_t* got);
    int (*queued)(SerialHandle);  // bytes waiting in the input queue, or -1
    bool (*close)(SerialHandle);
    // Receive-event mask and driver queue sizes, where the system has them.
    // Optional (nullptr); results are not checked.
    void (*setupQueues)(SerialHandle);
    // As `read`, but also returns as soon as `end.test` holds for the bytes
    // read so far and a sweep without waiting finds nothing more. Optional
    // (nullptr): `read` is used and the interval ends every answer.
    bool (*readUntil)(SerialHandle, std::uint8_t* data, std::size_t length, std::size_t* got, const ReadEnd& end);
};

const SerialOps& serial();
// Installs another serial backend (nullptr restores the system's). For tests.
void setSerialOps(const SerialOps* ops);

// ---- TCP client ------------------------------------------------------------

using Socket = std::intptr_t;
constexpr Socket kNoSocket = -1;

enum class Wait { Ready, TimedOut, Failed };

// What a socket is ready for at this moment. A closed or failed connection
// is ready both ways: the next recv or send tells what happened.
struct Readiness {
    bool readable;
    bool writable;
    bool failed;  // the socket itself is unusable
};

struct NetOps {
    void (*startup)();  // the socket library's start and end; no-ops on POSIX
    void (*cleanup)();
    Socket (*create)();  // a TCP socket, or kNoSocket
    bool (*setNonBlocking)(Socket, bool on);
    // Starts connecting; true when connected or in progress.
    bool (*connect)(Socket, const char* ipv4, std::uint16_t port);
    bool (*pendingError)(Socket, int* error);  // false when the query fails
    Wait (*waitWritable)(Socket, std::uint32_t ms);
    Wait (*waitReadable)(Socket, std::uint32_t ms);
    long (*send)(Socket, const std::uint8_t* data, std::size_t length);  // <0 on error
    long (*recv)(Socket, std::uint8_t* data, std::size_t length);        // 0 closed, <0 error
    void (*shutdownSend)(Socket);
    void (*close)(Socket);
    // Both directions in one look, without waiting.
    Readiness (*readyNow)(Socket);
    // Waits up to `ms` for bytes and takes up to `length` of them, in as few
    // system calls as the system allows. Ready: *got is recv's result (bytes,
    // 0 closed, <0 error). TimedOut: nothing came. Failed: no such socket.
    Wait (*recvWithin)(Socket, std::uint8_t* data, std::size_t length, std::uint32_t ms, long* got);
};

const NetOps& net();
void setNetOps(const NetOps* ops);

// ---- Names of devices and hosts ------------------------------------------
// The system's own, whatever backend is installed: they look at the machine,
// not at a link.

// What is at the device a serial port opens, found without opening it: an
// opening may toggle the modem lines, which resets some readers.
enum class DeviceState {
    Present,  // it exists, and this process may read and write it
    Missing,  // there is no such device
    Denied,   // it exists, but this process may not read and write it
};

// Writes the name of the device that serial port COM`comNumber` opens to
// `name` (at most `size` bytes with the NUL, cut to fit; size > 0) and tells
// what is there.
DeviceState serialDevice(int comNumber, char* name, std::size_t size);

enum class Lookup {
    Found,    // `address` holds the first IPv4 address of the name
    Unknown,  // the name has no IPv4 address
    Failed,   // the name service could not be asked, or did not answer
};

// Looks `host` up with the system's resolver, for IPv4 only; the address in
// network order. Waits as long as the resolver is configured to.
Lookup resolveIPv4(const char* host, std::uint8_t address[4]);

// ---- Time, threads, files --------------------------------------------------

// Milliseconds since an arbitrary start, wrapping at 2^32: measure elapsed
// time by unsigned difference.
std::uint32_t tickMs();
std::uint32_t systemTickMs();
// Installs another clock (nullptr restores the system's). In-memory devices
// use a virtual clock so that time-outs pass without waiting.
using ClockFn = std::uint32_t (*)();
void setClock(ClockFn clock);
inline std::uint32_t elapsedSince(std::uint32_t start) { return tickMs() - start; }
// Sleeps through the installed sleep: a virtual clock comes with a sleep that
// only advances it, so that no loop that sleeps can spin on a frozen clock.
void sleepMs(std::uint32_t ms);
void systemSleepMs(std::uint32_t ms);
using SleepFn = void (*)(std::uint32_t ms);
void setSleep(SleepFn sleep);

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
LocalTime localTime();

// Starts a detached thread running fn(arg), named `name` where the system
// names threads (diagnostics and tests find it by that name). False when it
// could not start.
bool startDetachedThread(void (*fn)(void*), void* arg, const char* name);

// True when `path` can be opened for reading.
bool fileReadable(const char* path);
// Appends `length` bytes of text to `path` (created if missing), flushed and
// closed before returning. Failures are ignored.
void appendToFile(const char* path, const char* text, std::size_t length);

// Environment lookup (nullptr when unset).
const char* getEnv(const char* name);

}  // namespace mv::plat

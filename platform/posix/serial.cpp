// Serial devices on POSIX. COM number n is the device named by the
// environment variable MORVENT_COM<n>, else /dev/ttyS<n-1>. The line runs in
// raw binary mode, 8N1, and reads follow the interval/total time-out rules of
// the reader protocol's original platform.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/platform.h"

namespace mv::plat {
namespace {

constexpr int kMaxDevices = 256;

struct Device {
    int fd = -1;
    SerialTimeouts timeouts{};
};

// Handles are slots of this table; a slot is claimed at open and freed at close.
Device devices[kMaxDevices];
std::mutex devicesMutex;

Device* deviceOf(SerialHandle handle) {
    if (handle < 0 || handle >= kMaxDevices) return nullptr;
    Device* d = &devices[handle];
    return d->fd >= 0 ? d : nullptr;
}

void devicePath(int comNumber, char* path, std::size_t size) {
    char name[32];
    std::snprintf(name, sizeof name, "MORVENT_COM%d", comNumber);
    const char* mapped = getEnv(name);
    if (mapped && *mapped) std::snprintf(path, size, "%s", mapped);
    else std::snprintf(path, size, "/dev/ttyS%d", comNumber - 1);
}

SerialHandle posixOpen(int comNumber) {
    char path[512];
    devicePath(comNumber, path, sizeof path);
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kNoSerial;
    // No sharing: a device that another handle holds counts as busy.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return kNoSerial;
    }
    std::lock_guard<std::mutex> guard(devicesMutex);
    for (int slot = 0; slot < kMaxDevices; ++slot) {
        if (devices[slot].fd < 0) {
            devices[slot].fd = fd;
            devices[slot].timeouts = SerialTimeouts{};
            return slot;
        }
    }
    ::close(fd);
    return kNoSerial;
}

speed_t speedOf(std::uint32_t bitRate) {
    switch (bitRate) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

bool posixConfigure(SerialHandle handle, SerialLine line) {
    Device* d = deviceOf(handle);
    if (!d) return false;
    termios tio{};
    if (tcgetattr(d->fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (line.bitRate != 0) {
        const speed_t speed = speedOf(line.bitRate);
        if (speed == B0 || cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
    }
    return tcsetattr(d->fd, TCSANOW, &tio) == 0;
}

bool posixSetTimeouts(SerialHandle handle, const SerialTimeouts& timeouts) {
    Device* d = deviceOf(handle);
    if (!d) return false;
    d->timeouts = timeouts;
    return true;
}

void posixPurge(SerialHandle handle, bool input, bool output) {
    Device* d = deviceOf(handle);
    if (!d || (!input && !output)) return;
    tcflush(d->fd, input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH);
}

// Waits up to `ms` for fd to become ready for `events`. True when ready.
bool pollFor(int fd, short events, std::uint32_t ms) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, static_cast<int>(ms));
        if (r > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        if (r == 0 || errno != EINTR) return false;
    }
}

bool posixWrite(SerialHandle handle, const std::uint8_t* data, std::size_t length, std::size_t* written) {
    *written = 0;
    Device* d = deviceOf(handle);
    if (!d) return false;
    const std::uint32_t limit =
        d->timeouts.writeMultiplier * static_cast<std::uint32_t>(length) + d->timeouts.writeConstant;
    const std::uint32_t start = tickMs();
    while (*written < length) {
        const ssize_t n = ::write(d->fd, data + *written, length - *written);
        if (n > 0) {
            *written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        const std::uint32_t spent = elapsedSince(start);
        if (limit != 0 && spent >= limit) break;
        pollFor(d->fd, POLLOUT, limit == 0 ? 1000 : limit - spent);
    }
    return true;
}

// A read of up to `length` bytes ends when they have all arrived, when the
// interval passes between two bytes, or when multiplier * length + constant
// has passed since the read began; with `end`, also when the bytes gathered
// complete the caller's answer and nothing more has arrived.
bool readWithin(SerialHandle handle, std::uint8_t* data, std::size_t length, std::size_t* got, const ReadEnd* end) {
    *got = 0;
    Device* d = deviceOf(handle);
    if (!d) return false;
    if (length == 0) return true;
    const SerialTimeouts& t = d->timeouts;
    const std::uint32_t total = t.readMultiplier * static_cast<std::uint32_t>(length) + t.readConstant;
    const std::uint32_t start = tickMs();
    while (*got < length) {
        const ssize_t n = ::read(d->fd, data + *got, length - *got);
        if (n > 0) {
            *got += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return *got > 0;
        // The read that found nothing was the sweep: whatever came with the
        // answer has been taken, so a whole answer can end the read here.
        if (end && *got > 0 && end->test(end->context, data, *got)) break;
        const std::uint32_t spent = elapsedSince(start);
        if (total != 0 && spent >= total) break;
        std::uint32_t wait = total != 0 ? total - spent : 1000;
        if (*got > 0 && t.readInterval != 0 && t.readInterval < wait) wait = t.readInterval;
        if (!pollFor(d->fd, POLLIN, wait)) {
            // Nothing came within the wait: the interval or the total passed.
            if (*got > 0 && t.readInterval != 0) break;
            if (total != 0 && elapsedSince(start) >= total) break;
        }
    }
    return true;
}

bool posixRead(SerialHandle handle, std::uint8_t* data, std::size_t length, std::size_t* got) {
    return readWithin(handle, data, length, got, nullptr);
}

bool posixReadUntil(SerialHandle handle, std::uint8_t* data, std::size_t length, std::size_t* got, const ReadEnd& end) {
    return readWithin(handle, data, length, got, &end);
}

int posixQueued(SerialHandle handle) {
    Device* d = deviceOf(handle);
    int n = 0;
    if (!d || ioctl(d->fd, FIONREAD, &n) != 0) return -1;
    return n;
}

bool posixClose(SerialHandle handle) {
    std::lock_guard<std::mutex> guard(devicesMutex);
    Device* d = deviceOf(handle);
    if (!d) return false;
    const int fd = d->fd;
    d->fd = -1;
    return ::close(fd) == 0;
}

const SerialOps posixSerialOps = {posixOpen, posixConfigure, posixSetTimeouts, posixPurge, posixWrite,
                                  posixRead, posixQueued,    posixClose,       nullptr,    posixReadUntil};

}  // namespace

const SerialOps& systemSerialOps() { return posixSerialOps; }

DeviceState serialDevice(int comNumber, char* name, std::size_t size) {
    char path[512];
    devicePath(comNumber, path, sizeof path);
    std::snprintf(name, size, "%s", path);
    struct stat info {};
    if (::stat(path, &info) != 0) return errno == EACCES ? DeviceState::Denied : DeviceState::Missing;
    // The effective ids decide, as they will when the device is opened.
    return faccessat(AT_FDCWD, path, R_OK | W_OK, AT_EACCESS) == 0 ? DeviceState::Present : DeviceState::Denied;
}

}  // namespace mv::plat

#include "link/serial_link.h"

#include "link/ports.h"
#include "morvent.h"

namespace mv::link {

long bitRateFor(std::uint8_t baudCode) {
    switch (baudCode) {
    case 0: return 9600;
    case 1: return 19200;
    case 2: return 38400;
    case 3:
    case 4: return -1;
    case 5: return 57600;
    case 6: return 115200;
    default: return 0;
    }
}

bool serialSlotOpen(int port) { return isSerialPort(port) && ports().serial[port] != plat::kNoSerial; }

bool configureSerialLine(int port, std::uint8_t baudCode, const plat::SerialTimeouts& timeouts) {
    const long rate = bitRateFor(baudCode);
    if (rate < 0) return false;
    const plat::SerialHandle handle = ports().serial[port];
    const plat::SerialOps& ops = plat::serial();
    if (!ops.configure(handle, plat::SerialLine{static_cast<std::uint32_t>(rate)})) return false;
    if (!ops.setTimeouts(handle, timeouts)) return false;
    if (ops.setupQueues) ops.setupQueues(handle);
    return true;
}

bool closeSerialPort(int port) {
    if (!serialSlotOpen(port)) return true;
    if (!plat::serial().close(ports().serial[port])) return false;
    ports().serial[port] = plat::kNoSerial;
    setOpen(port, false);
    return true;
}

}  // namespace mv::link

using namespace mv::link;

extern "C" {

MORVENT_API int OpenCom(int comPort, unsigned char baudCode) {
    if (!isSerialPort(comPort)) return MORVENT_INVALID_PORT;
    LinkGuard guard(linkLock());  // already held when called by OpenComPort
    const mv::plat::SerialOps& ops = mv::plat::serial();
    if (serialSlotOpen(comPort)) {
        // The device is in use by this very port: opening it again would
        // lose the handle of a working link.
        if (isOpen(comPort)) return MORVENT_INVALID_PORT;
        closeSerialPort(comPort);  // left over from an opening that failed
    }
    const mv::plat::SerialHandle handle = ops.open(comPort);
    ports().serial[comPort] = handle;
    if (handle == mv::plat::kNoSerial) return MORVENT_INVALID_PORT;
    if (!configureSerialLine(comPort, baudCode, kOpenTimeouts)) {
        ops.close(handle);
        ports().serial[comPort] = mv::plat::kNoSerial;
        return MORVENT_COMM_ERROR;
    }
    ops.purge(handle, true, true);
    return MORVENT_OK;
}

MORVENT_API int CloseComPort(void) {
    LinkGuard guard(linkLock());
    for (int port = kSerialFirst; port <= kSerialLast; ++port) closeSerialPort(port);
    return MORVENT_OK;
}

MORVENT_API int CloseSpecComPort(int comPort) {
    if (!isSerialPort(comPort)) return MORVENT_OK;
    LinkGuard guard(linkLock());
    return closeSerialPort(comPort) ? MORVENT_OK : MORVENT_COMM_ERROR;
}

// Touches no port table: it looks at the machine, not at a link.
MORVENT_API int MorventSerialDevice(int comPort, char* device, int room) {
    if (!isSerialPort(comPort) || device == nullptr || room < 1) return MORVENT_INVALID_PORT;
    switch (mv::plat::serialDevice(comPort, device, static_cast<std::size_t>(room))) {
    case mv::plat::DeviceState::Present: return MORVENT_DEVICE_PRESENT;
    case mv::plat::DeviceState::Missing: return MORVENT_DEVICE_MISSING;
    case mv::plat::DeviceState::Denied: return MORVENT_DEVICE_DENIED;
    }
    return MORVENT_DEVICE_PRESENT;
}
}

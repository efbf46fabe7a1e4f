// The process-wide link state: per-port tables indexed by port index, the
// shared transmit and receive buffers, and the one re-entrant link lock that
// guards them. Serial indexes are 1..255, network indexes 1024..65535 (the
// reader's TCP port number).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/platform.h"

namespace mv::link {

constexpr int kSerialFirst = 1;
constexpr int kSerialLast = 255;
constexpr int kNetFirst = 1024;
constexpr int kNetLast = 65535;
constexpr int kPortSlots = 65536;

constexpr bool isSerialPort(int port) { return port >= kSerialFirst && port <= kSerialLast; }
constexpr bool isNetPort(int port) { return port >= kNetFirst && port <= kNetLast; }
constexpr bool isValidPort(int port) { return isSerialPort(port) || isNetPort(port); }

constexpr std::size_t kTransmitSize = 256;   // one frame: Len is a byte
constexpr std::size_t kReceiveSize = 8000;   // response bytes of one exchange
constexpr std::size_t kReceiveSpare = 2;     // room for the CRC residue
constexpr std::size_t kReceiveClear = 5000;  // bytes cleared before each request

struct PortTables {
    std::atomic<std::uint8_t> open[kPortSlots];
    std::uint8_t logs[kPortSlots];
    plat::SerialHandle serial[kSerialLast + 1];
    std::atomic<plat::Socket> socket[kPortSlots];
    std::atomic<std::uint8_t> busy[kPortSlots];  // a network send or keep-alive owns the socket
    std::atomic<int> keepAlive[kPortSlots];      // idle sweeps since the last send
};

struct TransferState {
    std::uint8_t transmit[kTransmitSize + kReceiveSpare];
    std::uint8_t receive[kReceiveSize + kReceiveSpare];
    int receiveCount;
};

PortTables& ports();
TransferState& transfer();

using LinkLock = std::recursive_mutex;
LinkLock& linkLock();
using LinkGuard = std::lock_guard<LinkLock>;

inline bool isOpen(int port) {
    return port >= 0 && port < kPortSlots && ports().open[port].load(std::memory_order_acquire) != 0;
}
inline void setOpen(int port, bool open) { ports().open[port].store(open ? 1 : 0, std::memory_order_release); }

// The busy flag: one atomic test-and-set shared by network sends and the
// keep-alive. True when the caller now owns it.
inline bool tryTakeBusy(int port) { return ports().busy[port].exchange(1, std::memory_order_acq_rel) == 0; }
inline void releaseBusy(int port) { ports().busy[port].store(0, std::memory_order_release); }

void clearReceive();

}  // namespace mv::link

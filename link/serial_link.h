// Serial links: opening COM devices by port index and closing them.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace mv::link {

// Read/write time-outs set when a port opens, and after a baud-rate change.
constexpr plat::SerialTimeouts kOpenTimeouts{10, 5, 10, 20, 20};
constexpr plat::SerialTimeouts kBaudChangeTimeouts{15, 10, 10, 20, 20};

// Bit rate for a baud code: 0 keeps the current rate, -1 is not supported.
long bitRateFor(std::uint8_t baudCode);

// Applies rate (per baud code), 8N1 and time-outs to an open serial port.
// False when the device refused the settings.
bool configureSerialLine(int port, std::uint8_t baudCode, const plat::SerialTimeouts& timeouts);

// Closes the port's device, marks the slot closed and clears the open flag.
// False (and nothing changed) when the device refused to close.
bool closeSerialPort(int port);

bool serialSlotOpen(int port);

}  // namespace mv::link

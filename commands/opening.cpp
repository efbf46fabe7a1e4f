// Reader information, which doubles as the handshake, and the exports that
// open a link to a reader.
#include "commands/transaction.h"
#include "link/net_link.h"
#include "link/ports.h"
#include "link/serial_link.h"
#include "link/traffic_log.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

constexpr int kOpenAttempts = 5;
constexpr int kHandshakeAttempts = 2;
constexpr int kAutoOpenLastCom = 12;
constexpr std::uint8_t kAnyReader = 0xFF;
constexpr std::size_t kInformationBytes = 11;

// Asks the reader at `asked` (kAnyReader: whichever reader is on the link)
// for its information; on success the answering address is left in
// `address`. An answer from another address than the one asked is no
// handshake: on a bus it is not the reader the caller means.
bool handshake(int port, int* portHandle, std::uint8_t asked, std::uint8_t* address) {
    for (int attempt = 0; attempt < kHandshakeAttempts; ++attempt) {
        *portHandle = port;
        std::uint8_t pair[2], b2, b3, b4, b5, b6, scan, b8, b9, b10;
        *address = asked;
        if (GetReaderInformation(address, pair, &b2, &b3, &b4, &b5, &b6, &scan, &b8, &b9, &b10, port) == MORVENT_OK &&
            (asked == kAnyReader || *address == asked))
            return true;
    }
    return false;
}

template <class Open>
bool tryOpen(Open open) {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt)
        if (open() == MORVENT_OK) return true;
    return false;
}

void markOpened(int port, unsigned char* readerAddress, std::uint8_t address) {
    *readerAddress = address;
    link::setOpen(port, true);
    link::probeTrafficLog(port);
}

// The opening of a serial port or a network link, under the link lock:
// `open` the device or connection (up to five times), handshake with the
// reader at `asked`, and mark the port open; what failed is closed again.
template <class Open, class Close>
int openAndHandshake(int port, std::uint8_t asked, unsigned char* readerAddress, int* portHandle, Open open,
                     Close close) {
    if (link::isOpen(port)) return MORVENT_PORT_OPEN;
    if (!tryOpen(open)) {
        *portHandle = -1;
        return MORVENT_COMM_ERROR;
    }
    std::uint8_t address = 0;
    if (!handshake(port, portHandle, asked, &address)) {
        close(port);
        *portHandle = -1;
        return MORVENT_COMM_ERROR;
    }
    markOpened(port, readerAddress, address);
    return MORVENT_OK;
}

int openSerial(int comPort, std::uint8_t asked, unsigned char* readerAddress, unsigned char baudCode, int* portHandle) {
    link::LinkGuard guard(link::linkLock());
    return openAndHandshake(
        comPort, asked, readerAddress, portHandle, [&] { return OpenCom(comPort, baudCode); }, link::closeSerialPort);
}

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;
namespace link = mv::link;

extern "C" {

MORVENT_API int GetReaderInformation(unsigned char* readerAddress, unsigned char* infoPair, unsigned char* info2,
                                     unsigned char* info3, unsigned char* info4, unsigned char* info5,
                                     unsigned char* info6, unsigned char* scanTime, unsigned char* info8,
                                     unsigned char* info9, unsigned char* info10, int portIndex) {
    Exchange ex{0x21};
    ex.clearReceive = false;
    return transact(ex, readerAddress, portIndex, noData, [&](const Response& r) -> int {
        if (r.status() != MORVENT_OK) return r.status();
        // A success without the information is no handshake.
        if (!r.hasData(kInformationBytes)) return MORVENT_COMM_ERROR;
        *readerAddress = r.address();
        const std::uint8_t* d = r.data();
        infoPair[0] = d[0];
        infoPair[1] = d[1];
        unsigned char* singles[] = {info2, info3, info4, info5, info6, scanTime, info8, info9, info10};
        for (std::size_t i = 0; i < 9; ++i) *singles[i] = d[2 + i];
        return MORVENT_OK;
    });
}

MORVENT_API int OpenComPort(int comPort, unsigned char* readerAddress, unsigned char baudCode, int* portHandle) {
    return openSerial(comPort, kAnyReader, readerAddress, baudCode, portHandle);
}

MORVENT_API int OpenComPortAt(int comPort, unsigned char* readerAddress, unsigned char baudCode, int* portHandle) {
    return openSerial(comPort, *readerAddress, readerAddress, baudCode, portHandle);
}

MORVENT_API int AutoOpenComPort(int* comPort, unsigned char* readerAddress, unsigned char baudCode, int* portHandle) {
    link::LinkGuard guard(link::linkLock());
    int result = MORVENT_COMM_ERROR;
    for (int com = 1; com <= kAutoOpenLastCom; ++com) {
        result = OpenComPort(com, readerAddress, baudCode, portHandle);
        if (result == MORVENT_OK) {
            *comPort = com;
            *portHandle = com;
            return MORVENT_OK;
        }
    }
    *comPort = -1;
    *portHandle = -1;
    return result;
}

MORVENT_API int OpenNetPort(int tcpPort, const char* ipAddress, unsigned char* readerAddress, int* portHandle) {
    link::LinkGuard guard(link::linkLock());
    if (!link::isNetPort(tcpPort)) return MORVENT_INVALID_PORT;
    const int status = openAndHandshake(
        tcpPort, kAnyReader, readerAddress, portHandle, [&] { return OpenNet(tcpPort, ipAddress); },
        link::closeNetLink);
    if (status != MORVENT_OK) return status;
    // The handshake may have outlasted the keep-alive's last sweep.
    link::ensureKeepAlive();
    return MORVENT_OK;
}
}

#include "fuzz/harness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/crc.h"
#include "link/ports.h"
#include "link/serial_link.h"
#include "morvent.h"
#include "platform/platform.h"

namespace fuzz {

namespace link = mv::link;
namespace plat = mv::plat;

void fail(const char* what, long detail) {
    std::fprintf(stderr, "invariant broken: %s (%ld)\n", what, detail);
    std::abort();
}

void setUp() {
    static bool done = false;
    if (done) return;
    done = true;
    memdev::install();
    memdev::serialDevice(kSerialPort);
    memdev::netDevice(kNetPort);
    FUZZ_CHECK(OpenCom(kSerialPort, 0) == MORVENT_OK, kSerialPort);
    // The network link is wired directly rather than through OpenNet, so that
    // no keep-alive thread runs beside the fuzz loop.
    const plat::NetOps& net = plat::net();
    const plat::Socket s = net.create();
    FUZZ_CHECK(net.connect(s, "127.0.0.1", kNetPort), kNetPort);
    link::ports().socket[kNetPort].store(s);
}

memdev::Device deviceOf(int port) {
    return port == kNetPort ? memdev::netDevice(kNetPort) : memdev::serialDevice(kSerialPort);
}

int pickLink(std::uint8_t selector) {
    const int port = (selector & 1) ? kNetPort : kSerialPort;
    deviceOf(port).clear();
    // Every input starts from the line an opening sets (SetBaudRate changes it).
    plat::serial().setTimeouts(link::ports().serial[kSerialPort], link::kOpenTimeouts);
    return port;
}

std::vector<memdev::Chunk> decodeChunks(Input& in) {
    std::vector<memdev::Chunk> chunks;
    while (in.left() > 0) {
        std::size_t size = in.byte();
        const std::uint32_t delay = in.byte() * 8u;
        if (size == 0 || size > in.left()) size = in.left();
        chunks.push_back(memdev::Chunk{in.take(size), delay});
    }
    return chunks;
}

Bytes seal(Bytes frame, std::uint8_t code) {
    if (frame.size() < 4) frame.resize(4);
    if (frame.size() > 254) frame.resize(254);
    frame[0] = static_cast<std::uint8_t>(frame.size() + 1);  // the CRC follows
    frame[2] = code;
    frame.resize(frame.size() + 2);
    mv::appendCrc(frame.data(), frame.size() - 2);
    return frame;
}

Guarded::Guarded(std::size_t size, std::uint8_t fill)
    : bytes_(new std::uint8_t[size ? size : 1]), size_(size), fill_(fill) {
    std::memset(bytes_.get(), fill, size ? size : 1);
}

bool Guarded::untouched() const { return touchedEnd() == 0; }

std::size_t Guarded::touchedEnd() const {
    for (std::size_t i = size_; i > 0; --i)
        if (bytes_[i - 1] != fill_) return i;
    return 0;
}

std::uint32_t spentSince(std::uint32_t start) { return memdev::now() - start; }

bool passesChecks(const std::uint8_t* bytes, int count, std::uint8_t code) {
    if (count < 6) return false;
    return mv::crcIntact(bytes, static_cast<std::size_t>(count)) && bytes[2] == code;
}

}  // namespace fuzz

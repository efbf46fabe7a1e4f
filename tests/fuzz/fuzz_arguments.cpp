// Every export's arguments at their extremes (lengths, word counts, bit
// lengths, port indexes) against a reader that answers anything: a frame
// that echoes the command, with any status and any amount of data.
//
// Input: selector (a command code, else a table index), port byte (picks a
// link or an out-of-range index), status, answer data length, the
// command's arguments, then the answer's data bytes. Selector 0xF0 and up
// pick the link-level exports instead.
//
// Besides the answers target's checks: every request put on the link is
// one whole frame with a good CRC and the command's code, and a refused
// command (0xFF before any answer) sends nothing.
#include <climits>
#include <cstring>

#include "fuzz/harness.h"
#include "fuzz/operations.h"
#include "link/crc.h"
#include "link/ports.h"
#include "morvent.h"

#pragma weak ReadActiveModeData

namespace {

using namespace fuzz;
namespace link = mv::link;

const int kPorts[] = {kSerialPort, kNetPort, 0, -1, INT_MIN, INT_MAX, 1, 255, 256, 1023, 1024, 65534, 65535, 65536};
constexpr std::size_t kPortCount = sizeof kPorts / sizeof kPorts[0];

struct Answer {
    std::uint8_t status = 0;
    std::size_t length = 0;
    Input* data = nullptr;
} answer;

void script(Call& c) {
    if (c.port != kSerialPort && c.port != kNetPort) return;
    Bytes frame{0, 0x05, c.code, answer.status};
    const Bytes data = answer.data->take(answer.length);
    frame.insert(frame.end(), data.begin(), data.end());
    deviceOf(c.port).answerNext({{seal(frame, c.code)}});
}

const Operation& operationFor(std::uint8_t selector) {
    for (std::size_t i = 0; i < kOperationCount; ++i)
        if (kOperations[i].code == selector) return kOperations[i];
    return kOperations[selector % kOperationCount];
}

// Every write was one whole request frame of command `code`.
void checkRequests(int port, std::uint8_t code, std::uint8_t otherCode) {
    for (const Bytes& w : deviceOf(port).writes()) {
        if (otherCode && w.size() == 1 && w[0] == otherCode) continue;  // a bare byte the reader knows
        FUZZ_CHECK(w.size() >= 5 && w.size() <= 256, w.size());
        FUZZ_CHECK(w[0] + 1u == w.size(), w[0]);
        FUZZ_CHECK(w[2] == code, w[2]);
        FUZZ_CHECK(mv::crcIntact(w.data(), w.size()), w.size());
    }
}

void runCommand(std::uint8_t selector, int port, Input& in) {
    const Operation& op = operationFor(selector);
    if (!op.present()) return;
    Call call(in, port, script);
    call.code = op.code;
    const int result = op.run(call);
    checkOutcome(op, call, result);
    if (port != kSerialPort && port != kNetPort) {
        FUZZ_CHECK(result == MORVENT_INVALID_PORT || result == MORVENT_COMM_ERROR || result == MORVENT_PARAM_RANGE,
                   result);
        return;
    }
    checkRequests(port, op.code, op.otherEcho);
    const bool sent = !deviceOf(port).writes().empty();
    if (!sent) FUZZ_CHECK(result == MORVENT_PARAM_RANGE || result == MORVENT_COMM_ERROR, result);
}

// ReadActiveModeData: the caller's room is 50 bytes on a serial link, 8000
// on a network link, whatever arrived.
void activeMode(int port, Input& in) {
    if (&ReadActiveModeData == nullptr) return;
    const std::size_t room = port == kSerialPort ? 50 : 8000;
    if (port == kSerialPort || port == kNetPort) {
        std::vector<memdev::Chunk> chunks;
        for (std::size_t left = answer.length * 64; left > 0;) {
            const std::size_t n = left < 3000 ? left : 3000;
            chunks.push_back({in.take(n)});
            chunks.back().bytes.resize(n, answer.status);
            left -= n;
        }
        deviceOf(port).arrive(std::move(chunks));
    }
    Guarded data(room);
    Guarded count(sizeof(int));
    const int result = ReadActiveModeData(data.data(), reinterpret_cast<int*>(count.data()), port);
    FUZZ_CHECK(result == MORVENT_OK || result == MORVENT_NO_DATA || result == MORVENT_COMM_ERROR ||
                   result == MORVENT_INVALID_PORT,
               result);
    if (result != MORVENT_OK) {
        FUZZ_CHECK(data.untouched(), result);
        return;
    }
    int n = -1;
    std::memcpy(&n, count.data(), sizeof n);
    FUZZ_CHECK(n > 0 && static_cast<std::size_t>(n) <= room, n);
    FUZZ_CHECK(data.touchedEnd() <= static_cast<std::size_t>(n), n);
}

// The CRC helpers write the two bytes after the length they are given, no
// more: a frame with its CRC needs length + 2 bytes, and checking it two more.
void crcHelpers(Input& in) {
    const std::size_t length = in.byte();
    Guarded frame(length + 4);
    in.bytes(frame.data(), length);
    GetCRC(frame.data(), static_cast<int>(length));
    FUZZ_CHECK(CheckCRC(frame.data(), static_cast<int>(length + 2)) == MORVENT_OK, length);
    FUZZ_CHECK(frame.data()[length + 2] == 0 && frame.data()[length + 3] == 0, length);
    frame.data()[length / 2] ^= 0x10;
    FUZZ_CHECK(CheckCRC(frame.data(), static_cast<int>(length + 2)) == MORVENT_CRC_ERROR, length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setUp();
    Input in(data, size);
    const std::uint8_t selector = in.byte();
    const int port = kPorts[in.byte() % kPortCount];
    if (port == kSerialPort || port == kNetPort) pickLink(port == kNetPort);
    answer.status = in.byte();
    answer.length = in.byte();
    answer.data = &in;
    link::TransferState& t = link::transfer();
    t.receiveCount = 0;
    std::memset(t.receive, 0, 8);
    if (selector == 0xFE)
        activeMode(port, in);
    else if (selector == 0xFF)
        crcHelpers(in);
    else
        runCommand(selector, port, in);
    return 0;
}

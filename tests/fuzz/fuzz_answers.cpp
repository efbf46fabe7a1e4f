// Arbitrary reader bytes against every receive routine's completion logic
// and every single-frame command's unpacking.
//
// Input: selector, mode, the answer as a block (two length bytes, then the
// chunks, see decodeChunks), then the command's arguments. The selector is
// a command code (else an index into the table). Mode bit 0 picks the
// network link; bit 1 seals the first chunk into a frame that passes the
// CRC and echo checks, so the unpacking is reached as often as the checks;
// bit 2 runs a bare receive routine (selector modulo 4) instead.
#include <cstring>

#include "fuzz/harness.h"
#include "fuzz/operations.h"
#include "link/ports.h"
#include "morvent.h"

namespace {

using namespace fuzz;
namespace link = mv::link;

using Receiver = int (*)(unsigned char*, int*, int);

struct Routine {
    Receiver receive;
    std::uint32_t serialTotalMs, netTotalMs;
    bool (*complete)(const std::uint8_t*, int, bool serial);
};

bool oneFrame(const std::uint8_t* b, int n, bool serial) { return n > 0 && b[0] + 1 == n && (!serial || b[0] > 3); }

bool wholeRun(const std::uint8_t* b, int n, bool) {
    int at = 0;
    while (at < n) at += b[at] + 1;
    return n > 0 && at == n;
}

// Some frame of the run, reached by the walk, has status 0 and its first four bytes.
bool statusZero(const std::uint8_t* b, int n, bool) {
    for (int at = 0; at < n; at += b[at] + 1)
        if (n - at >= 4 && b[at + 3] == 0) return true;
    return false;
}

const Routine kRoutines[] = {
    {GetDataFromPort, 1000, 1000, oneFrame},
    {GetInventoryDataFromPort1, 10000, 1000, wholeRun},
    {GetDataFromPort1, 5000, 5000, statusZero},
    {ATGetDataFromPort, 10000, 10000, oneFrame},
};
constexpr std::size_t kRoutineCount = sizeof kRoutines / sizeof kRoutines[0];

// A wait may overshoot a limit by at most one serial read or one back-off.
constexpr std::uint32_t kOvershootMs = 520;

bool sealFirst = false;
Input* answer = nullptr;

void script(Call& c) {
    std::vector<memdev::Chunk> chunks = decodeChunks(*answer);
    if (sealFirst && !chunks.empty()) chunks[0].bytes = seal(chunks[0].bytes, c.code);
    deviceOf(c.port).answerNext(std::move(chunks));
}

void receiveOnce(const Routine& r, Input& in, int port) {
    std::vector<memdev::Chunk> chunks = decodeChunks(in);
    Bytes served;
    for (const memdev::Chunk& c : chunks) served.insert(served.end(), c.bytes.begin(), c.bytes.end());
    deviceOf(port).arrive(std::move(chunks));
    Guarded buffer(MORVENT_RECEIVE_BUFFER + 2);
    int count = -1;
    const std::uint32_t start = memdev::now();
    const int result = r.receive(buffer.data(), &count, port);
    const bool serial = port != kNetPort;
    FUZZ_CHECK(spentSince(start) <= (serial ? r.serialTotalMs : r.netTotalMs) + kOvershootMs, spentSince(start));
    const bool cutShort = result == MORVENT_INVENTORY_MORE && r.receive == GetInventoryDataFromPort1;  // at the limit
    FUZZ_CHECK(result == MORVENT_OK || result == MORVENT_COMM_ERROR || cutShort, result);
    FUZZ_CHECK(count >= 0 && count <= MORVENT_RECEIVE_BUFFER, count);
    if (result == MORVENT_OK || cutShort) {
        FUZZ_CHECK(r.complete(buffer.data(), count, serial), count);
        FUZZ_CHECK(buffer.touchedEnd() <= static_cast<std::size_t>(count), count);
        FUZZ_CHECK(static_cast<std::size_t>(count) <= served.size(), count);
        FUZZ_CHECK(std::memcmp(buffer.data(), served.data(), static_cast<std::size_t>(count)) == 0, count);
    }
}

// The command whose code is `selector`, else one picked by index.
const Operation& operationFor(std::uint8_t selector) {
    for (std::size_t i = 0; i < kOperationCount; ++i)
        if (kOperations[i].code == selector) return kOperations[i];
    return kOperations[selector % kOperationCount];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setUp();
    Input in(data, size);
    const std::uint8_t selector = in.byte();
    const std::uint8_t mode = in.byte();
    const int port = pickLink(mode);
    Input reply = in.block();
    answer = &reply;
    link::TransferState& t = link::transfer();
    t.receiveCount = 0;
    std::memset(t.receive, 0, 8);
    if (mode & 4) {
        receiveOnce(kRoutines[selector % kRoutineCount], reply, port);
        return 0;
    }
    const Operation& op = operationFor(selector);
    if (!op.present()) return 0;
    sealFirst = (mode & 2) != 0;
    Call call(in, port, script);
    call.code = op.code;
    const std::uint32_t start = memdev::now();
    const int result = op.run(call);
    // The longest single exchange: the AT-mode receive of 10 s.
    FUZZ_CHECK(spentSince(start) <= 10000 + kOvershootMs + 1000, spentSince(start));
    checkOutcome(op, call, result);
    return 0;
}

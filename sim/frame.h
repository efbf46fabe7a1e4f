// Frames as the simulated reader sees them: requests come in, responses go
// out. Only the layout and the CRC are shared with the host library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

// A request taken off the link, CRC stripped. `rawSelfTest` marks the lone
// byte 0xA5 that some hosts send instead of a self-test frame.
struct Request {
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    Bytes data;
    bool rawSelfTest = false;
};

// [Len][Adr][Cmd][Status][data][CRC]
Bytes responseFrame(std::uint8_t address, std::uint8_t command, std::uint8_t status, const Bytes& data = {});

// [Len][Adr][Cmd][data][CRC]; for tests and tools that play the host.
Bytes requestFrame(std::uint8_t address, std::uint8_t command, const Bytes& data = {});

// Splits a run of back-to-back frames by their length bytes; a trailing
// incomplete frame is returned as it is.
std::vector<Bytes> splitFrames(const Bytes& wire);

// Reassembles requests from the bytes of one link. Keep-alive zero bytes and
// other bytes that cannot start a frame are skipped; a frame with a bad CRC is
// dropped whole (its length byte is most likely right). A frame that never
// completes is dropped by the transport after a silence.
class FrameAssembler {
public:
    void feed(const std::uint8_t* data, std::size_t length);
    // `quiet` tells that the link has been silent for a while: only then is a
    // lone 0xA5 taken as the raw self-test byte rather than a frame's start.
    std::optional<Request> next(bool quiet);
    bool pending() const { return !buffer_.empty(); }
    void clear() { buffer_.clear(); }

private:
    Bytes buffer_;
};

}  // namespace sim

// The command transaction: every reader command builds one request frame,
// exchanges it under the link lock, verifies the answer and unpacks it. A
// command states only its command code, its request fields and its unpack
// rule; everything else happens here, once.
//
//   return transact(Exchange{0x2F, WriteBack::OnSuccess}, readerAddress, portIndex,
//                   [&](Request& r) { r.byte(power); });
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "link/ports.h"
#include "morvent.h"

namespace mv::cmd {

// When the answering reader's address is written back through readerAddress.
enum class WriteBack : std::uint8_t { Never, OnSuccess, Always };

using Receiver = int (*)(unsigned char* buffer, int* count, int portIndex);

struct Exchange {
    std::uint8_t code;
    WriteBack writeBack = WriteBack::Never;
    Receiver receive = GetDataFromPort;
    bool checkCrc = true;
    bool checkEcho = true;
    bool clearReceive = true;
    // A second command code the answer may echo instead of `code` (-1: none).
    int otherEcho = -1;
    // False: only the request data go out, without Len, Adr, Cmd and CRC
    // (a bare byte the reader knows); the answer is an ordinary frame.
    bool framed = true;
    // A receive result that still delivered an answer, cut short by its time
    // limit, to be unpacked like a whole one (-1: none).
    int cutShort = -1;
};

// The request's data fields, written into the transmit buffer after Len,
// Adr and Cmd. Data that would not fit one frame marks the request refused.
class Request {
public:
    static constexpr std::size_t kMaxData = 251;  // Len = data + 4 fits one byte

    Request& byte(std::uint8_t value);
    Request& bytes(const std::uint8_t* values, std::size_t count);
    // The selection mask: bank, 2 address bytes, bit length, ceil(bits/8) mask bytes.
    Request& selectionMask(std::uint8_t bank, const std::uint8_t* address, std::uint8_t bitLength,
                           const std::uint8_t* mask);
    // Refuses the command with `status` before anything is sent.
    void refuse(int status) { refusal_ = status; }

    std::size_t dataLength() const { return length_; }
    int refusal() const { return overflow_ ? MORVENT_PARAM_RANGE : refusal_; }

private:
    std::size_t length_ = 0;
    bool overflow_ = false;
    int refusal_ = MORVENT_OK;
};

// A received answer: one frame, or a run of frames for the multi-frame
// commands (size covers the whole run).
struct Response {
    const std::uint8_t* bytes;
    std::size_t size;

    std::uint8_t len() const { return bytes[0]; }
    std::uint8_t address() const { return bytes[1]; }
    std::uint8_t command() const { return bytes[2]; }
    std::uint8_t status() const { return bytes[3]; }
    // Data bytes of a single-frame answer: between the status and the CRC.
    const std::uint8_t* data() const { return bytes + 4; }
    std::size_t dataLength() const { return size >= 6 ? size - 6 : 0; }
    bool hasData(std::size_t count) const { return dataLength() >= count; }
};

std::size_t maskBytes(std::uint8_t bitLength);

namespace detail {
// Steps 3 to 9: frame the request built in the transmit buffer, send it,
// receive, verify. Returns MORVENT_OK with `response` set, or a status.
int exchange(const Exchange& ex, std::uint8_t address, std::size_t dataLength, int portIndex, Response& response);
void writeBack(const Exchange& ex, const Response& response, unsigned char* readerAddress);
}  // namespace detail

// The whole transaction under the link lock. `build(Request&)` adds the
// request data; `unpack(const Response&)` runs after the checks passed and
// copies outputs. It may return an int to replace the result; otherwise the
// result is the reader's status byte. An unpack that refuses the answer
// returns MORVENT_COMM_ERROR, having written nothing.
template <class Build, class Unpack>
int transact(const Exchange& ex, unsigned char* readerAddress, int portIndex, Build&& build, Unpack&& unpack) {
    link::LinkGuard guard(link::linkLock());
    Request request;
    build(request);
    if (request.refusal() != MORVENT_OK) return request.refusal();
    Response response{};
    const int result = detail::exchange(ex, *readerAddress, request.dataLength(), portIndex, response);
    if (result != MORVENT_OK) return result;
    if constexpr (std::is_void_v<decltype(unpack(response))>) {
        unpack(response);
        detail::writeBack(ex, response, readerAddress);
        return response.status();
    } else {
        const int unpacked = unpack(response);
        // An answer the unpack refused (too short for what it copies) is no
        // answer: the address is left as it was, like every other output.
        const bool refused = unpacked == MORVENT_COMM_ERROR && response.status() != MORVENT_COMM_ERROR;
        if (!refused) detail::writeBack(ex, response, readerAddress);
        return unpacked;
    }
}

template <class Build>
int transact(const Exchange& ex, unsigned char* readerAddress, int portIndex, Build&& build) {
    return transact(ex, readerAddress, portIndex, static_cast<Build&&>(build), [](const Response&) {});
}

inline void noData(Request&) {}

}  // namespace mv::cmd

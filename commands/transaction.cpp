#include "commands/transaction.h"

#include <cstring>

#include "link/crc.h"

namespace mv::cmd {
namespace {

constexpr std::size_t kHeader = 3;  // Len, Adr, Cmd
constexpr std::size_t kSmallestResponse = 6;

std::uint8_t* transmit() { return link::transfer().transmit; }

}  // namespace

Request& Request::byte(std::uint8_t value) { return bytes(&value, 1); }

Request& Request::bytes(const std::uint8_t* values, std::size_t count) {
    if (count > kMaxData - length_) {
        overflow_ = true;
        return *this;
    }
    if (count > 0) std::memcpy(transmit() + kHeader + length_, values, count);
    length_ += count;
    return *this;
}

std::size_t maskBytes(std::uint8_t bitLength) { return (bitLength + 7u) / 8u; }

Request& Request::selectionMask(std::uint8_t bank, const std::uint8_t* address, std::uint8_t bitLength,
                                const std::uint8_t* mask) {
    byte(bank).bytes(address, 2).byte(bitLength);
    return bytes(mask, maskBytes(bitLength));
}

namespace detail {

int exchange(const Exchange& ex, std::uint8_t address, std::size_t dataLength, int portIndex, Response& response) {
    link::TransferState& t = link::transfer();
    std::uint8_t* frame = t.transmit;
    frame[0] = static_cast<std::uint8_t>(dataLength + 4);
    frame[1] = address;
    frame[2] = ex.code;
    appendCrc(frame, dataLength + kHeader);
    if (ex.clearReceive) link::clearReceive();
    // A failed send shows up as a receive time-out.
    if (ex.framed) SendDataToPort(frame, static_cast<unsigned>(dataLength + 5), portIndex);
    else SendDataToPort(frame + kHeader, static_cast<unsigned>(dataLength), portIndex);
    const int received = ex.receive(t.receive, &t.receiveCount, portIndex);
    if (received != MORVENT_OK && received != ex.cutShort) return received;
    response = Response{t.receive, static_cast<std::size_t>(t.receiveCount)};
    // Single-frame answers: a frame too short to hold a status byte and its
    // CRC is no answer (a network link accepts any Len as a whole frame).
    if (ex.checkCrc && response.size < kSmallestResponse) return MORVENT_COMM_ERROR;
    if (ex.checkCrc) {
        appendCrc(t.receive, response.size);  // the residue lands in the two spare bytes
        if (t.receive[response.size] != 0 || t.receive[response.size + 1] != 0) return MORVENT_CRC_ERROR;
    }
    if (ex.checkEcho && response.command() != ex.code && response.command() != ex.otherEcho)
        return MORVENT_CMD_MISMATCH;
    return MORVENT_OK;
}

void writeBack(const Exchange& ex, const Response& response, unsigned char* readerAddress) {
    if (ex.writeBack == WriteBack::Always || (ex.writeBack == WriteBack::OnSuccess && response.status() == MORVENT_OK))
        *readerAddress = response.address();
}

}  // namespace detail
}  // namespace mv::cmd

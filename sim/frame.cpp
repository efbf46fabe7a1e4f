#include "sim/frame.h"

#include "link/crc.h"

namespace sim {

namespace {

constexpr std::uint8_t kRawSelfTest = 0xA5;
constexpr std::uint8_t kMinRequestLen = 4;

Bytes sealed(Bytes frame) {
    frame[0] = static_cast<std::uint8_t>(frame.size() + 1);
    const std::size_t body = frame.size();
    frame.resize(body + 2);
    mv::appendCrc(frame.data(), body);
    return frame;
}

}  // namespace

Bytes responseFrame(std::uint8_t address, std::uint8_t command, std::uint8_t status, const Bytes& data) {
    Bytes frame{0, address, command, status};
    frame.insert(frame.end(), data.begin(), data.end());
    return sealed(std::move(frame));
}

Bytes requestFrame(std::uint8_t address, std::uint8_t command, const Bytes& data) {
    Bytes frame{0, address, command};
    frame.insert(frame.end(), data.begin(), data.end());
    return sealed(std::move(frame));
}

std::vector<Bytes> splitFrames(const Bytes& wire) {
    std::vector<Bytes> frames;
    std::size_t at = 0;
    while (at < wire.size()) {
        const std::size_t size = std::min<std::size_t>(wire[at] + 1u, wire.size() - at);
        frames.emplace_back(wire.begin() + at, wire.begin() + at + size);
        at += size;
    }
    return frames;
}

void FrameAssembler::feed(const std::uint8_t* data, std::size_t length) {
    buffer_.insert(buffer_.end(), data, data + length);
}

std::optional<Request> FrameAssembler::next(bool quiet) {
    while (!buffer_.empty()) {
        const std::uint8_t len = buffer_[0];
        if (len == kRawSelfTest && buffer_.size() == 1) {
            if (!quiet) return std::nullopt;
            buffer_.clear();
            Request raw;
            raw.command = kRawSelfTest;
            raw.rawSelfTest = true;
            return raw;
        }
        if (len < kMinRequestLen) {  // keep-alive zeros and line noise
            buffer_.erase(buffer_.begin());
            continue;
        }
        const std::size_t size = len + 1u;
        if (buffer_.size() < size) return std::nullopt;
        if (!mv::crcIntact(buffer_.data(), size)) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + size);
            continue;
        }
        Request request;
        request.address = buffer_[1];
        request.command = buffer_[2];
        request.data.assign(buffer_.begin() + 3, buffer_.begin() + (size - 2));
        buffer_.erase(buffer_.begin(), buffer_.begin() + size);
        return request;
    }
    return std::nullopt;
}

}  // namespace sim

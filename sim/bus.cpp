#include "sim/bus.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::size_t kBitsPerByte = 10;  // start, eight data bits, stop

}  // namespace

Bytes collide(const std::vector<Bytes>& answers) {
    if (answers.size() == 1) return answers.front();
    // The line, one level per bit time (true: mark), with a resting stop
    // bit's worth of mark after the last answer ends.
    std::size_t length = 0;
    for (std::size_t i = 0; i < answers.size(); ++i)
        length = std::max(length, i * kBusAnswerSkewBits + kBitsPerByte * answers[i].size());
    std::vector<bool> mark(length + kBitsPerByte, true);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        std::size_t at = i * kBusAnswerSkewBits;
        for (std::uint8_t byte : answers[i]) {
            mark[at] = false;  // the start bit
            for (unsigned bit = 0; bit < 8; ++bit)
                if (!(byte >> bit & 1)) mark[at + 1 + bit] = false;
            at += kBitsPerByte;  // the stop bit is a mark: it overrides no space
        }
    }
    // The host's UART: a start at each mark-to-space edge once a byte is done.
    Bytes heard;
    bool wasMark = true;
    for (std::size_t t = 0; t < length; ++t) {
        const bool edge = wasMark && !mark[t];
        wasMark = mark[t];
        if (!edge) continue;
        std::uint8_t byte = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            if (mark[t + 1 + bit]) byte |= static_cast<std::uint8_t>(1u << bit);
        const bool framed = mark[t + 9];
        heard.push_back(framed ? byte : 0x00);
        t += kBitsPerByte - 1;  // the loop steps onto the bit after the stop bit
        wasMark = framed;
    }
    return heard;
}

}  // namespace sim

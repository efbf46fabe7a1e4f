// Helpers for talking raw frames to the simulated reader.
#pragma once

#include <gtest/gtest.h>

#include "link/crc.h"
#include "sim/reader.h"

namespace simtest {

using sim::Bytes;

// One request through the model; the answer split into its frames.
inline std::vector<Bytes> ask(sim::ReaderModel& model, std::uint8_t cmd, const Bytes& data = {},
                              std::uint8_t address = 0xFF) {
    sim::Request request{address, cmd, data, false};
    auto reply = model.handle(request);
    if (!reply) return {};
    auto frames = sim::splitFrames(reply->wire);
    for (const Bytes& f : frames) {
        EXPECT_EQ(f.size(), f[0] + 1u);
        EXPECT_TRUE(mv::crcIntact(f.data(), f.size()));
        EXPECT_EQ(f[2], cmd);
    }
    return frames;
}

inline std::uint8_t status(const Bytes& frame) {
    return frame.at(3);
}

inline Bytes body(const Bytes& frame) {
    return Bytes(frame.begin() + 4, frame.end() - 2);
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes hex(const char* text) {
    Bytes out;
    for (const char* p = text; p[0] && p[1];) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return out;
}

}  // namespace simtest

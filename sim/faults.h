// Fault injection on a reader's answers, driven by a seeded generator so a
// run can be repeated. Rates are probabilities per answer, 0 to 1.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "sim/frame.h"

namespace sim {

struct FaultPlan {
    std::uint32_t seed = 1;
    unsigned latencyMs = 0;    // added before every answer
    double split = 0;          // answer sent in several chunks...
    unsigned splitGapMs = 30;  // ...with this gap between them
    double corruptCrc = 0;     // one bit of the last CRC byte flipped
    double wrongEcho = 0;      // another command code echoed (CRC recomputed)
    double drop = 0;           // no answer at all
    double strayBefore = 0;    // noise bytes sent before the answer
    double strayAfter = 0;     // noise bytes sent after the answer
    unsigned closeAfter = 0;   // TCP: close the connection after this many answers (0 = never)

    bool any() const;
};

// The bytes to send for one answer, as chunks each preceded by a pause.
// A pause holds back the rest of the answer with it.
struct Chunk {
    unsigned pauseMs = 0;
    Bytes bytes;
    std::size_t frame = 0;  // the frame of the answer the bytes belong to
};

class FaultInjector {
public:
    explicit FaultInjector(const FaultPlan& plan = {}) { reset(plan); }
    void reset(const FaultPlan& plan);
    const FaultPlan& plan() const { return plan_; }

    // `frameEnds`: where each frame of the answer but the last ends; no
    // chunk then spans two frames, so that each can go out on its own.
    std::vector<Chunk> shape(Bytes answer, const std::vector<std::size_t>& frameEnds = {});
    // Counts one answer; true when the connection is to be closed after it.
    bool closeNow();

private:
    bool roll(double rate);
    Bytes noise();

    FaultPlan plan_;
    std::mt19937 random_;
    unsigned answered_ = 0;
};

}  // namespace sim

#include "sim/faults.h"

#include <algorithm>

#include "link/crc.h"

namespace sim {

bool FaultPlan::any() const {
    return latencyMs || split > 0 || corruptCrc > 0 || wrongEcho > 0 || drop > 0 || strayBefore > 0 || strayAfter > 0 ||
           closeAfter;
}

void FaultInjector::reset(const FaultPlan& plan) {
    plan_ = plan;
    random_.seed(plan.seed);
    answered_ = 0;
}

bool FaultInjector::roll(double rate) {
    if (rate <= 0) return false;
    return std::uniform_real_distribution<double>(0, 1)(random_) < rate;
}

// Noise that cannot pass for keep-alive bytes: one to four non-zero bytes.
Bytes FaultInjector::noise() {
    Bytes bytes(std::uniform_int_distribution<int>(1, 4)(random_));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 255)(random_));
    return bytes;
}

std::vector<Chunk> FaultInjector::shape(Bytes answer, const std::vector<std::size_t>& frameEnds) {
    if (roll(plan_.drop) || answer.empty()) return {};
    if (roll(plan_.wrongEcho) && answer.size() >= 6) {
        answer[2] ^= 0x80;
        mv::appendCrc(answer.data(), answer[0] - 1u);  // the first frame stays intact otherwise
    }
    if (roll(plan_.corruptCrc)) answer.back() ^= 0x01;
    std::size_t before = 0;  // noise ahead of the first frame moves every frame end
    if (roll(plan_.strayBefore)) {
        Bytes stray = noise();
        before = stray.size();
        answer.insert(answer.begin(), stray.begin(), stray.end());
    }
    if (roll(plan_.strayAfter)) {
        Bytes stray = noise();
        answer.insert(answer.end(), stray.begin(), stray.end());
    }
    // Where the answer is cut: at frame ends, and in a split answer at its
    // pieces, each after a gap.
    struct Cut {
        std::size_t at;
        unsigned pauseMs;
        bool frameEnd;
    };
    std::vector<Cut> cuts;
    for (std::size_t end : frameEnds)
        if (end + before < answer.size()) cuts.push_back({end + before, 0, true});
    if (roll(plan_.split) && answer.size() > 1) {
        const std::size_t pieces = std::min<std::size_t>(answer.size(), 3);
        const std::size_t step = (answer.size() + pieces - 1) / pieces;
        for (std::size_t at = step; at < answer.size(); at += step) cuts.push_back({at, plan_.splitGapMs, false});
    }
    std::stable_sort(cuts.begin(), cuts.end(), [](const Cut& a, const Cut& b) { return a.at < b.at; });
    cuts.push_back({answer.size(), 0, false});
    std::vector<Chunk> chunks;
    std::size_t from = 0, frame = 0;
    unsigned pauseMs = plan_.latencyMs;
    for (const Cut& cut : cuts) {
        if (cut.at > from) {
            chunks.push_back(
                {pauseMs, Bytes(answer.begin() + static_cast<long>(from), answer.begin() + static_cast<long>(cut.at)),
                 frame});
            pauseMs = 0;
            from = cut.at;
        }
        pauseMs += cut.pauseMs;
        if (cut.frameEnd) ++frame;
    }
    return chunks;
}

bool FaultInjector::closeNow() {
    if (!plan_.closeAfter || ++answered_ < plan_.closeAfter) return false;
    answered_ = 0;  // the next connection gets as many
    return true;
}

}  // namespace sim

#include "sim/faults.h"

#include "link/crc.h"

namespace sim {

bool FaultPlan::any() const {
    return latencyMs || split > 0 || corruptCrc > 0 || wrongEcho > 0 || drop > 0 || strayBefore > 0 ||
           strayAfter > 0 || closeAfter;
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

std::vector<Chunk> FaultInjector::shape(Bytes answer) {
    if (roll(plan_.drop) || answer.empty()) return {};
    if (roll(plan_.wrongEcho) && answer.size() >= 6) {
        answer[2] ^= 0x80;
        mv::appendCrc(answer.data(), answer[0] - 1u);  // the first frame stays intact otherwise
    }
    if (roll(plan_.corruptCrc)) answer.back() ^= 0x01;
    if (roll(plan_.strayBefore)) {
        Bytes stray = noise();
        answer.insert(answer.begin(), stray.begin(), stray.end());
    }
    if (roll(plan_.strayAfter)) {
        Bytes stray = noise();
        answer.insert(answer.end(), stray.begin(), stray.end());
    }
    std::vector<Chunk> chunks;
    if (roll(plan_.split) && answer.size() > 1) {
        const std::size_t pieces = std::min<std::size_t>(answer.size(), 3);
        const std::size_t step = (answer.size() + pieces - 1) / pieces;
        for (std::size_t at = 0; at < answer.size(); at += step) {
            const std::size_t end = std::min(answer.size(), at + step);
            chunks.push_back({at == 0 ? 0u : plan_.splitGapMs, Bytes(answer.begin() + at, answer.begin() + end)});
        }
    } else {
        chunks.push_back({0, std::move(answer)});
    }
    chunks.front().pauseMs += plan_.latencyMs;
    return chunks;
}

bool FaultInjector::closeNow() {
    if (!plan_.closeAfter || ++answered_ < plan_.closeAfter) return false;
    answered_ = 0;  // the next connection gets as many
    return true;
}

}  // namespace sim

// The active mode: the reader sends a round of tag records by itself every
// inventory interval, Gen2 or 6B as its tag type says.
#include "sim/reader.h"

#include <algorithm>

#include "sim/commands/fields.h"

namespace sim {

namespace {

constexpr std::uint8_t kActiveModeCmd = 0xEE;

}  // namespace

std::chrono::milliseconds ReaderModel::activeInterval() const {
    return std::chrono::milliseconds(100 * std::max<int>(1, settings_.interval));
}

Bytes ReaderModel::activeRound() {
    Bytes wire;
    auto emit = [&](const Bytes& record) {
        const Bytes frame = responseFrame(settings_.address, kActiveModeCmd, kOk, record);
        wire.insert(wire.end(), frame.begin(), frame.end());
    };
    if (settings_.tagType == 1) {
        for (const Tag6B& tag : tags6B_) {
            emit(record6B(tag));
            remember(Bytes(tag.uid().begin(), tag.uid().end()), 1);
        }
        return wire;
    }
    Mask mask;
    mask.bank = settings_.maskBank;
    mask.bitAddress = static_cast<std::uint16_t>(settings_.maskAddress[0] << 8 | settings_.maskAddress[1]);
    mask.bitLength = settings_.maskBitLength;
    mask.bits.assign(settings_.maskBits.begin(), settings_.maskBits.begin() + maskBytes(mask.bitLength));
    std::optional<std::pair<std::uint8_t, std::uint8_t>> tid;
    if (settings_.tidParameter[1] != 0) tid = {settings_.tidParameter[0], settings_.tidParameter[1]};
    for (Gen2Tag* tag : visibleTags(&mask)) {
        emit(gen2Record(*tag, tid));
        remember(tag->epc(), 0);
    }
    return wire;
}

}  // namespace sim

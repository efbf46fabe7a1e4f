// The reader's clock and its tag buffer: every tag an inventory finds is
// kept once, with its count and the clock of its last sighting.
#include "sim/reader.h"

#include <algorithm>

#include "sim/calendar.h"
#include "sim/commands/fields.h"

namespace sim {

std::array<std::uint8_t, 6> ReaderModel::now() const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(clock_() - clockSetAt_).count();
    return clockOf(clockBase_ + elapsed);
}

Reply ReaderModel::setClock(const Request& r) {
    if (r.data.size() != 6) return answer(r, kBadLength);
    ClockBytes wanted;
    std::copy(r.data.begin(), r.data.end(), wanted.begin());
    auto seconds = secondsOf(wanted);
    if (!seconds) return answer(r, kBadParameter);
    clockBase_ = *seconds;
    clockSetAt_ = clock_();
    return answer(r, kOk);
}

Reply ReaderModel::getTime(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const auto clock = now();
    return answer(r, kOk, Bytes(clock.begin(), clock.end()));
}

void ReaderModel::remember(const Bytes& id, std::uint8_t type) {
    auto it = std::find_if(buffer_.begin(), buffer_.end(),
                           [&](const BufferRecord& r) { return r.id == id && r.type == type; });
    if (it == buffer_.end()) {
        if (buffer_.size() >= kTagBufferCapacity) return;
        buffer_.push_back({id, type, 0, {}});
        it = buffer_.end() - 1;
    }
    if (it->count < 0xFFFF) ++it->count;
    it->lastSeen = now();
}

Reply ReaderModel::tagBufferInfo(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    Reply reply;
    for (const BufferRecord& record : buffer_) {
        Bytes data;
        data.reserve(12 + record.id.size());
        data.insert(data.end(), {record.type, settings_.antenna, static_cast<std::uint8_t>(record.count >> 8),
                                 static_cast<std::uint8_t>(record.count)});
        data.insert(data.end(), record.lastSeen.begin(), record.lastSeen.end());
        data.push_back(0);  // reserved
        data.push_back(static_cast<std::uint8_t>(record.id.size()));
        data.insert(data.end(), record.id.begin(), record.id.end());
        const Bytes frame = responseFrame(settings_.address, r.command, kBufferRecord, data);
        reply.wire.insert(reply.wire.end(), frame.begin(), frame.end());
    }
    const Bytes closing = responseFrame(settings_.address, r.command, kOk);
    reply.wire.insert(reply.wire.end(), closing.begin(), closing.end());
    return reply;
}

Reply ReaderModel::clearTagBuffer(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    buffer_.clear();
    return answer(r, kOk);
}

}  // namespace sim

// The reader model's frame: the one dispatch table from command code to
// handler, the answer helpers every family uses, and the tag field the Gen2
// commands see. The handlers live in commands/, a file per command family
// named after the core's own.
#include "sim/reader.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "sim/calendar.h"
#include "sim/commands/fields.h"

namespace sim {

namespace {

constexpr std::uint8_t kRawSelfTestCmd = 0xA5;

ClockBytes hostClock() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return {static_cast<std::uint8_t>(local.tm_year % 100), static_cast<std::uint8_t>(local.tm_mon + 1),
            static_cast<std::uint8_t>(local.tm_mday),       static_cast<std::uint8_t>(local.tm_hour),
            static_cast<std::uint8_t>(local.tm_min),        static_cast<std::uint8_t>(std::min(local.tm_sec, 59))};
}

}  // namespace

// Every command the reader knows by code, with its handler. The settings
// written and read as plain bytes answer the codes left over, from their
// own tables (commands/settings.cpp).
const ReaderModel::Command ReaderModel::kCommands[] = {
    {0x01, &ReaderModel::inventory},
    {0x02, &ReaderModel::readData},
    {0x03, &ReaderModel::writeData},
    {0x04, &ReaderModel::writeEpc},
    {0x05, &ReaderModel::kill},
    {0x06, &ReaderModel::lock},
    {0x07, &ReaderModel::blockErase},
    {0x08, &ReaderModel::setPrivacyByEpc},
    {0x09, &ReaderModel::setPrivacyWithoutEpc},
    {0x0A, &ReaderModel::resetPrivacy},
    {0x0B, &ReaderModel::checkPrivacy},
    {0x0C, &ReaderModel::easConfigure},
    {0x0D, &ReaderModel::easAlarm},
    {0x0E, &ReaderModel::blockLock},
    {0x0F, &ReaderModel::singleInventory},
    {0x10, &ReaderModel::writeData},
    {0x21, &ReaderModel::readerInformation},
    {0x24, &ReaderModel::setAddress},
    {0x26, &ReaderModel::selfTestMode},
    {0x28, &ReaderModel::setBaudRate},
    {0x2C, &ReaderModel::solidify},
    {0x2D, &ReaderModel::startInformation},
    {0x32, &ReaderModel::deleteRfOutput},
    {0x36, &ReaderModel::systemParameter},
    {0x3B, &ReaderModel::setMask},
    {0x41, &ReaderModel::setClock},
    {0x42, &ReaderModel::getTime},
    {0x43, &ReaderModel::tagBufferInfo},
    {0x44, &ReaderModel::clearTagBuffer},
    {0x4B, &ReaderModel::setSerialNumber},
    {0x4C, &ReaderModel::getSerialNumber},
    {0x4D, &ReaderModel::atMode},
    {0x4E, &ReaderModel::transparent},
    {0x50, &ReaderModel::inventorySingle6B},
    {0x51, &ReaderModel::inventoryMultiple6B},
    {0x52, &ReaderModel::read6B},
    {0x53, &ReaderModel::write6B},
    {0x54, &ReaderModel::checkLock6B},
    {0x55, &ReaderModel::lock6B},
    {kRawSelfTestCmd, &ReaderModel::selfTestMode},
};

ReaderModel::ReaderModel(Settings settings, Clock clock)
    : settings_(settings), clock_(std::move(clock)), clockSetAt_(clock_()) {
    clockBase_ = secondsOf(hostClock()).value_or(0);
}

std::optional<Reply> ReaderModel::handle(const Request& request) {
    if (!request.rawSelfTest && request.address != settings_.address && request.address != kBroadcast)
        return std::nullopt;
    for (const Command& c : kCommands)
        if (c.code == request.command) return (this->*c.handler)(request);
    if (isByteSetting(request.command)) return byteSetting(request);
    if (isByteQuery(request.command)) return byteQuery(request);
    return answer(request, kUnknownCommand);
}

Reply ReaderModel::answer(const Request& r, std::uint8_t status, const Bytes& data) const {
    Reply reply;
    reply.wire = responseFrame(settings_.address, r.command, status, data);
    return reply;
}

Reply ReaderModel::tagError(const Request& r, std::uint8_t code) const { return answer(r, kTagFault, {code}); }

Reply ReaderModel::tagResult(const Request& r, const TagResult& result, const Bytes& data) const {
    return result ? tagError(r, *result) : answer(r, kOk, data);
}

// ---- The tag field ---------------------------------------------------------

void ReaderModel::setPopulation(const Population& population) {
    population_ = population;
    random_ = population.seed ? population.seed : 1;
    movedAt_ = clock_();
}

void ReaderModel::addPathStop(const PathStop& stop) {
    stops_.push_back(stop);
    nextOnPath_.push_back(0);
}

void ReaderModel::admit(bool onPath, const Bytes& epc, const Bytes& tid, std::chrono::steady_clock::time_point leaves) {
    gen2_.emplace_back(epc, tid, Bytes(8, 0));
    (onPath ? passing_ : moving_).push_back({epc, leaves});
}

// The moving tags whose stay is over by `when` leave the field.
void ReaderModel::leaveBy(std::chrono::steady_clock::time_point when) {
    for (std::vector<Moving>* list : {&moving_, &passing_}) {
        for (auto it = list->begin(); it != list->end();) {
            if (it->leaves > when) {
                ++it;
                continue;
            }
            const Bytes epc = it->epc;
            gen2_.erase(std::remove_if(gen2_.begin(), gen2_.end(), [&](const Gen2Tag& t) { return t.epc() == epc; }),
                        gen2_.end());
            it = list->erase(it);
        }
    }
}

// The field keeps real time whether or not anyone reads it: each tag owed
// since the last look entered at its own moment, and those before it whose
// stay was over had left by then, so a field read after a long pause holds
// only the tags still there.
void ReaderModel::moveTags() {
    const auto now = clock_();
    arriveByRate(now);
    arriveByPath(now);
    leaveBy(now);
}

void ReaderModel::arriveByRate(std::chrono::steady_clock::time_point now) {
    if (population_.ratePerS <= 0) return;
    using Seconds = std::chrono::duration<double>;
    using Duration = std::chrono::steady_clock::duration;
    // Tags that entered two longest stays ago have left, and so have those
    // that could have kept them out of a full field: a long pause costs no
    // more than that window. The tags before it came and went unseen.
    const auto window = std::chrono::duration_cast<Duration>(Seconds(2 * population_.staySMax));
    if (now - movedAt_ > window) {
        const auto from = now - window;
        arrivals_ += population_.ratePerS * Seconds(from - movedAt_).count();
        arrivals_ -= std::floor(arrivals_);
        movedAt_ = from;
        leaveBy(from);
    }
    const double owed = arrivals_ + population_.ratePerS * Seconds(now - movedAt_).count();
    const double due = std::floor(owed);
    for (double k = 1; k <= due; ++k) {
        // The k-th tag owed entered when the rate had owed it.
        const auto entered =
            movedAt_ + std::chrono::duration_cast<Duration>(Seconds((k - arrivals_) / population_.ratePerS));
        leaveBy(entered);
        if (moving_.size() >= population_.max) continue;
        random_ = random_ * 1664525u + 1013904223u;  // a fixed sequence per seed
        const double share = (random_ >> 8) / double(1u << 24);
        const double stay = population_.staySMin + share * (population_.staySMax - population_.staySMin);
        ++entered_;
        Bytes epc(2 * std::max(2u, std::min<unsigned>(population_.epcWords, Gen2Tag::kMaxEpcWords)), 0);
        epc[0] = 0x35;
        for (std::size_t i = 0; i < 8 && i + 2 < epc.size(); ++i)
            epc[epc.size() - 1 - i] = static_cast<std::uint8_t>(entered_ >> (8 * i));
        Bytes tid{0xE2, 0x80, 0x11, 0x05, 0x20, 0x00};
        for (int i = 3; i >= 0; --i) tid.push_back(static_cast<std::uint8_t>(entered_ >> (8 * i)));
        admit(false, epc, tid, entered + std::chrono::duration_cast<Duration>(Seconds(stay)));
    }
    arrivals_ = owed - due;
    movedAt_ = now;
}

// The tags of each path that are in this field now enter it; those that
// came and went since the last look went by unseen.
void ReaderModel::arriveByPath(std::chrono::steady_clock::time_point now) {
    using Seconds = std::chrono::duration<double>;
    for (std::size_t i = 0; i < stops_.size(); ++i) {
        const PathStop& stop = stops_[i];
        const double enteredAgo = Seconds(now - stop.start).count() - stop.position * stop.dwellS;  // by tag 0
        if (enteredAgo < 0) continue;
        // Tag k is here from k * every to k * every + dwell after tag 0 came.
        const auto last = static_cast<std::uint64_t>(std::floor(enteredAgo / stop.everyS));
        const double left =
            std::floor((enteredAgo - stop.dwellS) / stop.everyS);  // the last tag gone, -1 and below: none
        std::uint64_t k = std::max(nextOnPath_[i], left < 0 ? 0 : static_cast<std::uint64_t>(left) + 1);
        for (; k <= last; ++k) {
            const std::uint64_t number = k + 1;
            Bytes epc{0x36, stop.path, 0, 0}, tid{0xE2, 0x80, 0x11, 0x05, 0x36, stop.path};
            for (int b = 7; b >= 0; --b) epc.push_back(static_cast<std::uint8_t>(number >> (8 * b)));
            for (int b = 3; b >= 0; --b) tid.push_back(static_cast<std::uint8_t>(number >> (8 * b)));
            const double leaves = stop.position * stop.dwellS + static_cast<double>(k) * stop.everyS + stop.dwellS;
            admit(true, epc, tid,
                  stop.start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(Seconds(leaves)));
        }
        nextOnPath_[i] = std::max(nextOnPath_[i], last + 1);
    }
}

std::vector<Gen2Tag*> ReaderModel::visibleTags(const Mask* mask) {
    moveTags();
    std::vector<Gen2Tag*> tags;
    for (Gen2Tag& tag : gen2_)
        if (!tag.privacy && (!mask || tag.matches(*mask))) tags.push_back(&tag);
    return tags;
}

}  // namespace sim

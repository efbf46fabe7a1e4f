#include "sim/reader.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numeric>

#include "sim/calendar.h"

namespace sim {

namespace {

constexpr std::uint8_t kBroadcast = 0xFF;
constexpr std::uint8_t kRawSelfTestCmd = 0xA5;
constexpr std::uint8_t kActiveModeCmd = 0xEE;
constexpr std::size_t kMaxData = 250;           // data bytes a response frame can carry
constexpr std::size_t kMaxInventoryRecords = 248;  // record bytes of one inventory frame
constexpr std::uint8_t kMaxReadWords = kMaxData / 2;
constexpr std::size_t kMax6BRecords = (kMaxData - 1) / 9;
constexpr std::uint8_t kSerialWriteCode = 0x5A;
constexpr std::uint8_t kAntennas = 1;  // last byte of the reader information (Len 0x11)

Password passwordAt(const Bytes& data, std::size_t at) {
    return {data[at], data[at + 1], data[at + 2], data[at + 3]};
}

std::size_t maskBytes(std::uint8_t bitLength) {
    return (bitLength + 7u) / 8u;
}

// Parses bank, bit address, bit length and mask bits at data[at..]; the
// mask must end exactly at the end of the data.
std::optional<Mask> maskAt(const Bytes& data, std::size_t at) {
    if (data.size() < at + 4) return std::nullopt;
    Mask mask;
    mask.bank = data[at];
    mask.bitAddress = static_cast<std::uint16_t>(data[at + 1] << 8 | data[at + 2]);
    mask.bitLength = data[at + 3];
    if (data.size() != at + 4 + maskBytes(mask.bitLength)) return std::nullopt;
    mask.bits.assign(data.begin() + at + 4, data.end());
    return mask;
}

// A setting written by one command as a run of bytes, with the range every
// byte must lie in.
struct ByteSetting {
    std::uint8_t code;
    std::size_t width;
    std::uint8_t* (*field)(Settings&);
    std::uint8_t min, max;
};

const ByteSetting kByteSettings[] = {
    {0x22, 2, [](Settings& s) { return s.region.data(); }, 0x00, 0xFF},
    {0x25, 1, [](Settings& s) { return &s.scanTime; }, 3, 0xFF},
    {0x27, 1, [](Settings& s) { return &s.revDelay; }, 0x00, 0xFF},
    {0x29, 1, [](Settings& s) { return &s.dac; }, 0x00, 0xFF},
    {0x2F, 1, [](Settings& s) { return &s.power; }, 0, 30},
    {0x30, 1, [](Settings& s) { return &s.rfOutput; }, 0x00, 0xFF},
    {0x33, 3, [](Settings& s) { return s.buzzer.data(); }, 0x00, 0xFF},
    {0x35, 1, [](Settings& s) { return &s.workMode; }, 0x00, 0xFF},
    {0x37, 1, [](Settings& s) { return &s.easSensitivity; }, 0x00, 0xFF},
    {0x3C, 2, [](Settings& s) { return s.response.data(); }, 0x00, 0xFF},
    {0x3D, 1, [](Settings& s) { return &s.interval; }, 0x00, 0xFF},
    {0x3E, 1, [](Settings& s) { return &s.tagType; }, 0, 1},
    {0x3F, 1, [](Settings& s) { return &s.antenna; }, 0x00, 0xFF},
    {0x40, 1, [](Settings& s) { return &s.beep; }, 0x00, 0xFF},
    {0x45, 1, [](Settings& s) { return &s.relay; }, 0x00, 0xFF},
    {0x46, 1, [](Settings& s) { return &s.gpioOutputs; }, 0x00, 0x0F},
    {0x48, 1, [](Settings& s) { return &s.pulse; }, 0x00, 0xFF},
    {0x49, 1, [](Settings& s) { return &s.triggerTime; }, 0x00, 0xFF},
    {0x4A, 2, [](Settings& s) { return s.tidParameter.data(); }, 0x00, 0xFF},
};

std::uint8_t checksum(const std::array<std::uint8_t, 31>& block) {
    return static_cast<std::uint8_t>(std::accumulate(block.begin(), block.end(), 0u));
}

// One-byte queries: command code and the byte they report.
struct ByteQuery {
    std::uint8_t code;
    std::uint8_t (*value)(const Settings&);
};

const ByteQuery kByteQueries[] = {
    {0x2A, [](const Settings& s) { return s.dac; }},
    {0x2B, [](const Settings& s) { return checksum(s.calibration); }},
    {0x31, [](const Settings& s) { return s.revDelay; }},
    {0x47, [](const Settings& s) { return static_cast<std::uint8_t>((s.gpioOutputs & 0x0F) | (s.gpioInputs << 4)); }},
};

ClockBytes hostClock() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return {static_cast<std::uint8_t>(local.tm_year % 100), static_cast<std::uint8_t>(local.tm_mon + 1),
            static_cast<std::uint8_t>(local.tm_mday), static_cast<std::uint8_t>(local.tm_hour),
            static_cast<std::uint8_t>(local.tm_min), static_cast<std::uint8_t>(std::min(local.tm_sec, 59))};
}

}  // namespace

std::uint32_t bitRateOfCode(std::uint8_t code) {
    switch (code) {
    case 0: return 9600;
    case 1: return 19200;
    case 2: return 38400;
    case 5: return 57600;
    case 6: return 115200;
    default: return 0;
    }
}

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
    for (const ByteSetting& s : kByteSettings)
        if (s.code == request.command) return byteSetting(request);
    for (const ByteQuery& q : kByteQueries)
        if (q.code == request.command) return byteQuery(request);
    return answer(request, kUnknownCommand);
}

Reply ReaderModel::answer(const Request& r, std::uint8_t status, const Bytes& data) const {
    Reply reply;
    reply.wire = responseFrame(settings_.address, r.command, status, data);
    return reply;
}

Reply ReaderModel::tagError(const Request& r, std::uint8_t code) const {
    return answer(r, kTagFault, {code});
}

Reply ReaderModel::tagResult(const Request& r, const TagResult& result, const Bytes& data) const {
    return result ? tagError(r, *result) : answer(r, kOk, data);
}

// ---- Gen2 ----------------------------------------------------------------

void ReaderModel::setPopulation(const Population& population) {
    population_ = population;
    random_ = population.seed ? population.seed : 1;
    movedAt_ = clock_();
}

void ReaderModel::admit(const Bytes& epc, std::chrono::steady_clock::time_point leaves) {
    Bytes tid{0xE2, 0x80, 0x11, 0x05, 0x20, 0x00};
    for (int i = 3; i >= 0; --i) tid.push_back(static_cast<std::uint8_t>(entered_ >> (8 * i)));
    gen2_.emplace_back(epc, tid, Bytes(8, 0));
    moving_.push_back({epc, leaves});
}

// The moving tags whose stay is over by `when` leave the field.
void ReaderModel::leaveBy(std::chrono::steady_clock::time_point when) {
    for (auto it = moving_.begin(); it != moving_.end();) {
        if (it->leaves > when) {
            ++it;
            continue;
        }
        const Bytes epc = it->epc;
        gen2_.erase(std::remove_if(gen2_.begin(), gen2_.end(), [&](const Gen2Tag& t) { return t.epc() == epc; }),
                    gen2_.end());
        it = moving_.erase(it);
    }
}

// The field keeps real time whether or not anyone reads it: each tag owed
// since the last look entered at its own moment, and those before it whose
// stay was over had left by then, so a field read after a long pause holds
// only the tags still there.
void ReaderModel::moveTags() {
    if (population_.ratePerS <= 0) return;
    using Seconds = std::chrono::duration<double>;
    using Duration = std::chrono::steady_clock::duration;
    const auto now = clock_();
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
        const auto entered = movedAt_ + std::chrono::duration_cast<Duration>(Seconds((k - arrivals_) / population_.ratePerS));
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
        admit(epc, entered + std::chrono::duration_cast<Duration>(Seconds(stay)));
    }
    arrivals_ = owed - due;
    movedAt_ = now;
    leaveBy(now);
}

std::vector<Gen2Tag*> ReaderModel::visibleTags(const Mask* mask) {
    moveTags();
    std::vector<Gen2Tag*> tags;
    for (Gen2Tag& tag : gen2_)
        if (!tag.privacy && (!mask || tag.matches(*mask))) tags.push_back(&tag);
    return tags;
}

std::optional<ReaderModel::Addressed> ReaderModel::addressed(const Bytes& data, std::size_t prefix,
                                                             std::size_t fieldsWidth) {
    if (data.size() < prefix + 1) return std::nullopt;
    const std::uint8_t epcWords = data[prefix];
    const std::size_t fieldsAt = prefix + 1 + (epcWords == 0xFF ? 0 : 2u * epcWords);
    if (epcWords != 0xFF && epcWords > Gen2Tag::kMaxEpcWords) return std::nullopt;
    if (data.size() < fieldsAt + fieldsWidth) return std::nullopt;
    Addressed result;
    result.fields.assign(data.begin() + fieldsAt, data.begin() + fieldsAt + fieldsWidth);
    if (epcWords == 0xFF) {
        auto mask = maskAt(data, fieldsAt + fieldsWidth);
        if (!mask) return std::nullopt;
        auto tags = visibleTags(&*mask);
        if (!tags.empty()) result.tag = tags.front();
        return result;
    }
    if (data.size() != fieldsAt + fieldsWidth) return std::nullopt;
    const Bytes epc(data.begin() + prefix + 1, data.begin() + fieldsAt);
    for (Gen2Tag* tag : visibleTags(nullptr))
        if (epc.empty() || tag->epc() == epc) return result.tag = tag, result;
    return result;
}

Bytes ReaderModel::gen2Record(const Gen2Tag& tag, std::optional<std::pair<std::uint8_t, std::uint8_t>> tid) const {
    const Bytes epc = tag.epc();
    Bytes record{static_cast<std::uint8_t>(epc.size())};
    record.insert(record.end(), epc.begin(), epc.end());
    if (tid) {
        const std::size_t first = std::min<std::size_t>(tid->first * 2u, tag.tid().size());
        const std::size_t count = std::min<std::size_t>(tid->second * 2u, tag.tid().size() - first);
        record.push_back(static_cast<std::uint8_t>(count));
        record.insert(record.end(), tag.tid().begin() + first, tag.tid().begin() + first + count);
    }
    return record;
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

std::vector<Bytes> ReaderModel::inventoryFrames(const std::vector<Bytes>& records, std::uint8_t cmd) {
    std::vector<Bytes> frames;
    std::size_t next = 0;
    do {
        Bytes data{settings_.antenna, 0};
        while (next < records.size() && data.size() - 2 + records[next].size() <= kMaxInventoryRecords &&
               (settings_.tagsPerFrame == 0 || data[1] < settings_.tagsPerFrame)) {
            data.insert(data.end(), records[next].begin(), records[next].end());
            ++data[1];
            ++next;
        }
        const std::uint8_t status = next < records.size() ? kInventoryMore : kInventoryDone;
        frames.push_back(responseFrame(settings_.address, cmd, status, data));
    } while (next < records.size());
    return frames;
}

Reply ReaderModel::inventory(const Request& r) {
    const Bytes& d = r.data;
    std::optional<Mask> mask;
    std::optional<std::pair<std::uint8_t, std::uint8_t>> tid;
    if (d.size() == 2) {
        tid = {d[0], d[1]};
    } else if (!d.empty()) {
        if (d.size() < 4) return answer(r, kBadLength);
        const std::size_t maskEnd = 4 + maskBytes(d[3]);
        if (d.size() == maskEnd + 2) tid = {d[maskEnd], d[maskEnd + 1]};
        mask = maskAt(Bytes(d.begin(), d.begin() + std::min(maskEnd, d.size())), 0);
        if (!mask || (d.size() != maskEnd && !tid)) return answer(r, kBadLength);
    }
    std::vector<Bytes> records;
    for (Gen2Tag* tag : visibleTags(mask ? &*mask : nullptr)) {
        records.push_back(gen2Record(*tag, tid));
        remember(tag->epc(), 0);
    }
    if (records.empty()) return answer(r, kNoTag);
    Reply reply;
    unsigned found = 0;
    for (const Bytes& frame : inventoryFrames(records, r.command)) {
        reply.wire.insert(reply.wire.end(), frame.begin(), frame.end());
        reply.tagsByFrame.push_back(found += frame[5]);  // the frame's tag count
    }
    reply.singulated = static_cast<unsigned>(records.size());
    return reply;
}

Reply ReaderModel::singleInventory(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    auto tags = visibleTags(nullptr);
    if (tags.empty()) return answer(r, kNoTag);
    remember(tags.front()->epc(), 0);
    Bytes data{1};
    const Bytes record = gen2Record(*tags.front(), std::nullopt);
    data.insert(data.end(), record.begin(), record.end());
    return answer(r, kInventoryDone, data);
}

Reply ReaderModel::readData(const Request& r) {
    auto a = addressed(r.data, 0, 7);
    if (!a) return answer(r, kBadLength);
    if (!a->tag) return answer(r, kNoTag);
    const Bytes& f = a->fields;
    if (f[2] == 0 || f[2] > kMaxReadWords) return answer(r, kBadParameter);
    Bytes words;
    auto result = a->tag->read(f[0], f[1], f[2], passwordAt(f, 3), words);
    return tagResult(r, result, words);
}

Reply ReaderModel::writeData(const Request& r) {
    if (r.data.empty()) return answer(r, kBadLength);
    if (r.data[0] == 0) return answer(r, kBadParameter);
    const std::size_t dataBytes = 2u * r.data[0];
    auto a = addressed(r.data, 1, 2 + dataBytes + 4);
    if (!a) return answer(r, kBadLength);
    if (!a->tag) return answer(r, kNoTag);
    const Bytes& f = a->fields;
    const Bytes words(f.begin() + 2, f.begin() + 2 + dataBytes);
    return tagResult(r, a->tag->write(f[0], f[1], words, passwordAt(f, 2 + dataBytes)));
}

Reply ReaderModel::blockErase(const Request& r) {
    auto a = addressed(r.data, 0, 7);
    if (!a) return answer(r, kBadLength);
    if (!a->tag) return answer(r, kNoTag);
    const Bytes& f = a->fields;
    if (f[2] == 0) return answer(r, kBadParameter);
    return tagResult(r, a->tag->write(f[0], f[1], Bytes(2u * f[2], 0), passwordAt(f, 3)));
}

Reply ReaderModel::writeEpc(const Request& r) {
    const Bytes& d = r.data;
    if (d.size() < 5 || d.size() != 5 + 2u * d[0]) return answer(r, kBadLength);
    if (d[0] == 0 || d[0] > Gen2Tag::kMaxEpcWords) return answer(r, kBadParameter);
    auto tags = visibleTags(nullptr);
    if (tags.empty()) return answer(r, kNoTag);
    return tagResult(r, tags.front()->writeEpc(Bytes(d.begin() + 5, d.end()), passwordAt(d, 1)));
}

Reply ReaderModel::kill(const Request& r) {
    auto a = addressed(r.data, 0, 4);
    if (!a) return answer(r, kBadLength);
    if (!a->tag) return answer(r, kNoTag);
    if (auto error = a->tag->kill(passwordAt(a->fields, 0))) return tagError(r, *error);
    gen2_.erase(gen2_.begin() + (a->tag - gen2_.data()));
    return answer(r, kOk);
}

Reply ReaderModel::lock(const Request& r) {
    auto a = addressed(r.data, 0, 6);
    if (!a) return answer(r, kBadLength);
    const Bytes& f = a->fields;
    if (f[0] > kLockUser || f[1] > kPermaLocked) return answer(r, kBadParameter);
    if (!a->tag) return answer(r, kNoTag);
    return tagResult(r, a->tag->lock(f[0], f[1], passwordAt(f, 2)));
}

Reply ReaderModel::blockLock(const Request& r) {
    auto a = addressed(r.data, 0, 5);
    if (!a) return answer(r, kBadLength);
    if (!a->tag) return answer(r, kNoTag);
    return tagResult(r, a->tag->blockLock(a->fields[4], passwordAt(a->fields, 0)));
}

namespace {

// Privacy and EAS changes need the tag in the secured state.
TagResult secure(const Gen2Tag& tag, const Password& given) {
    bool secured = false;
    if (auto error = tag.authorise(given, secured)) return error;
    return secured ? std::nullopt : TagResult(kTagWrongPassword);
}

}  // namespace

Reply ReaderModel::setPrivacyByEpc(const Request& r) {
    auto a = addressed(r.data, 0, 4);
    if (!a) return answer(r, kBadLength);
    if (!a->tag) return answer(r, kNoTag);
    auto result = secure(*a->tag, passwordAt(a->fields, 0));
    if (!result) a->tag->privacy = true;
    return tagResult(r, result);
}

Reply ReaderModel::setPrivacyWithoutEpc(const Request& r) {
    if (r.data.size() != 4) return answer(r, kBadLength);
    auto tags = visibleTags(nullptr);
    if (tags.empty()) return answer(r, kNoTag);
    auto result = secure(*tags.front(), passwordAt(r.data, 0));
    if (!result) tags.front()->privacy = true;
    return tagResult(r, result);
}

Reply ReaderModel::resetPrivacy(const Request& r) {
    if (r.data.size() != 4) return answer(r, kBadLength);
    bool anyPrivate = false;
    for (Gen2Tag& tag : gen2_) {
        if (!tag.privacy) continue;
        anyPrivate = true;
        if (!secure(tag, passwordAt(r.data, 0))) {
            tag.privacy = false;
            return answer(r, kOk);
        }
    }
    return anyPrivate ? tagError(r, kTagWrongPassword) : answer(r, kNoTag);
}

Reply ReaderModel::checkPrivacy(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    if (gen2_.empty()) return answer(r, kNoTag);
    return answer(r, kOk, {static_cast<std::uint8_t>(gen2_.front().privacy ? 1 : 0)});
}

Reply ReaderModel::easConfigure(const Request& r) {
    auto a = addressed(r.data, 0, 5);
    if (!a) return answer(r, kBadLength);
    if (!a->tag) return answer(r, kNoTag);
    auto result = secure(*a->tag, passwordAt(a->fields, 0));
    if (!result) a->tag->eas = a->fields[4] & 1;
    return tagResult(r, result);
}

Reply ReaderModel::easAlarm(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const bool alarm = std::any_of(gen2_.begin(), gen2_.end(), [](const Gen2Tag& t) { return t.eas; });
    return answer(r, alarm ? kOk : kNoTag);
}

// ---- ISO 18000-6B ----------------------------------------------------------

Bytes ReaderModel::record6B(const Tag6B& tag) const {
    Bytes record{settings_.antenna};
    record.insert(record.end(), tag.uid().begin(), tag.uid().end());
    return record;
}

Tag6B* ReaderModel::find6B(const std::uint8_t* uid) {
    for (Tag6B& tag : tags6B_)
        if (std::equal(tag.uid().begin(), tag.uid().end(), uid)) return &tag;
    return nullptr;
}

Reply ReaderModel::inventorySingle6B(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    if (tags6B_.empty()) return answer(r, kNoTag);
    const Tag6B& tag = tags6B_.front();
    remember(Bytes(tag.uid().begin(), tag.uid().end()), 1);
    return answer(r, kOk, record6B(tag));
}

Reply ReaderModel::inventoryMultiple6B(const Request& r) {
    const Bytes& d = r.data;
    if (d.size() != 11) return answer(r, kBadLength);
    if (d[0] > 3) return answer(r, kBadParameter);
    Bytes data{0};
    for (const Tag6B& tag : tags6B_) {
        if (data[0] == kMax6BRecords || !tag.selected(d[0], d[1], d[2], &d[3])) continue;
        const Bytes record = record6B(tag);
        data.insert(data.end(), record.begin(), record.end());
        ++data[0];
        remember(Bytes(tag.uid().begin(), tag.uid().end()), 1);
    }
    return data[0] == 0 ? answer(r, kNoTag) : answer(r, kOk, data);
}

Reply ReaderModel::read6B(const Request& r) {
    const Bytes& d = r.data;
    if (d.size() != 10) return answer(r, kBadLength);
    if (d[9] == 0 || d[9] > kMaxData) return answer(r, kBadParameter);
    Tag6B* tag = find6B(&d[1]);
    if (!tag) return answer(r, kNoTag);
    Bytes out;
    auto result = tag->read(d[0], d[9], out);
    return tagResult(r, result, out);
}

Reply ReaderModel::write6B(const Request& r) {
    const Bytes& d = r.data;
    if (d.size() < 10) return answer(r, kBadLength);
    Tag6B* tag = find6B(&d[1]);
    if (!tag) return answer(r, kNoTag);
    return tagResult(r, tag->write(d[0], Bytes(d.begin() + 9, d.end())));
}

Reply ReaderModel::checkLock6B(const Request& r) {
    if (r.data.size() != 9) return answer(r, kBadLength);
    Tag6B* tag = find6B(&r.data[1]);
    if (!tag) return answer(r, kNoTag);
    return answer(r, kOk, {static_cast<std::uint8_t>(tag->locked(r.data[0]) ? 1 : 0)});
}

Reply ReaderModel::lock6B(const Request& r) {
    if (r.data.size() != 9) return answer(r, kBadLength);
    Tag6B* tag = find6B(&r.data[1]);
    if (!tag) return answer(r, kNoTag);
    return tagResult(r, tag->lock(r.data[0]));
}

// ---- Reader settings -------------------------------------------------------

Reply ReaderModel::readerInformation(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const Settings& s = settings_;
    return answer(r, kOk,
                  {s.version[0], s.version[1], s.readerType, s.protocols, s.region[0], s.region[1], s.power,
                   s.scanTime, s.baudCode, s.tidParameter[0], s.tidParameter[1], kAntennas});
}

Reply ReaderModel::byteSetting(const Request& r) {
    const ByteSetting* s = nullptr;
    for (const ByteSetting& candidate : kByteSettings)
        if (candidate.code == r.command) s = &candidate;
    if (r.data.size() != s->width) return answer(r, kBadLength);
    for (std::uint8_t b : r.data)
        if (b < s->min || b > s->max) return answer(r, kBadParameter);
    std::copy(r.data.begin(), r.data.end(), s->field(settings_));
    return answer(r, kOk);
}

Reply ReaderModel::byteQuery(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    for (const ByteQuery& q : kByteQueries)
        if (q.code == r.command) return answer(r, kOk, {q.value(settings_)});
    return answer(r, kUnknownCommand);
}

Reply ReaderModel::setAddress(const Request& r) {
    if (r.data.size() != 1) return answer(r, kBadLength);
    if (r.data[0] == kBroadcast) return answer(r, kBadParameter);
    settings_.address = r.data[0];
    return answer(r, kOk);  // already from the new address
}

Reply ReaderModel::setBaudRate(const Request& r) {
    if (r.data.size() != 1) return answer(r, kBadLength);
    const std::uint32_t rate = bitRateOfCode(r.data[0]);
    if (rate == 0) return answer(r, kBadParameter);
    settings_.baudCode = r.data[0];
    Reply reply = answer(r, kOk);
    reply.newBitRate = rate;
    return reply;
}

Reply ReaderModel::systemParameter(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const Settings& s = settings_;
    Bytes data{s.workMode, s.easSensitivity, s.triggerTime, s.response[0], s.response[1], s.interval,
               s.maskBank, s.maskAddress[0], s.maskAddress[1], s.maskBitLength};
    data.insert(data.end(), s.maskBits.begin(), s.maskBits.end());
    if (!s.shortSystemParameter) data.insert(data.end(), {s.tagType, s.antenna, s.beep});
    return answer(r, kOk, data);
}

Reply ReaderModel::setMask(const Request& r) {
    auto mask = maskAt(r.data, 0);
    if (!mask) return answer(r, kBadLength);
    settings_.maskBank = mask->bank;
    settings_.maskAddress = {r.data[1], r.data[2]};
    settings_.maskBitLength = mask->bitLength;
    settings_.maskBits.fill(0);
    std::copy(mask->bits.begin(), mask->bits.end(), settings_.maskBits.begin());
    return answer(r, kOk);
}

// ---- Clock and tag buffer ----------------------------------------------------

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

Reply ReaderModel::tagBufferInfo(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    Reply reply;
    for (const BufferRecord& record : buffer_) {
        Bytes data{record.type, settings_.antenna, static_cast<std::uint8_t>(record.count >> 8),
                   static_cast<std::uint8_t>(record.count)};
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

// ---- Factory commands ----------------------------------------------------------

Reply ReaderModel::selfTestMode(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    selfTest_ = true;
    return answer(r, kOk);
}

Reply ReaderModel::solidify(const Request& r) {
    if (r.data.size() != settings_.calibration.size()) return answer(r, kBadLength);
    std::copy(r.data.begin(), r.data.end(), settings_.calibration.begin());
    return answer(r, kOk, {checksum(settings_.calibration)});
}

Reply ReaderModel::startInformation(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const Settings& s = settings_;
    return answer(r, kOk,
                  {s.version[0], s.version[1], s.readerType, s.dac, s.power, s.baudCode, s.address,
                   static_cast<std::uint8_t>(selfTest_ ? 1 : 0), checksum(s.calibration)});
}

Reply ReaderModel::deleteRfOutput(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const std::uint8_t previous = settings_.rfOutput;
    settings_.rfOutput = 0;
    return answer(r, kOk, {previous});
}

Reply ReaderModel::setSerialNumber(const Request& r) {
    const Bytes& d = r.data;
    if (d.size() != 6) return answer(r, kBadLength);
    if (d[0] != kSerialWriteCode || d[1] != kSerialWriteCode) return answer(r, kBadParameter);
    settings_.serialNumber = std::uint32_t{d[2]} | std::uint32_t{d[3]} << 8 | std::uint32_t{d[4]} << 16 |
                             std::uint32_t{d[5]} << 24;
    return answer(r, kOk);
}

Reply ReaderModel::getSerialNumber(const Request& r) {
    if (!r.data.empty()) return answer(r, kBadLength);
    const std::uint32_t n = settings_.serialNumber;
    return answer(r, kOk,
                  {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
                   static_cast<std::uint8_t>(n >> 24)});
}

Reply ReaderModel::atMode(const Request& r) {
    if (r.data.size() != 1) return answer(r, kBadLength);
    Reply reply = answer(r, kOk);
    reply.delayMs = settings_.atModeDelayMs;
    return reply;
}

Reply ReaderModel::transparent(const Request& r) {
    if (r.data.empty()) return answer(r, kBadLength);
    return answer(r, kOk, Bytes(r.data.begin() + 1, r.data.end()));
}

// ---- Active mode -----------------------------------------------------------------

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

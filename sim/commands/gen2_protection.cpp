// Gen2 protection: kill, lock, block-lock, privacy and EAS.
#include "sim/reader.h"

#include <algorithm>

#include "sim/commands/fields.h"

namespace sim {

namespace {

// Privacy and EAS changes need the tag in the secured state.
TagResult secure(const Gen2Tag& tag, const Password& given) {
    bool secured = false;
    if (auto error = tag.authorise(given, secured)) return error;
    return secured ? std::nullopt : TagResult(kTagWrongPassword);
}

}  // namespace

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

}  // namespace sim

// How a Gen2 command names its tag: by EPC, by a selection mask (EPC
// length 0xFF), or whichever visible tag answers first (no EPC).
#include "sim/reader.h"

#include "sim/commands/fields.h"

namespace sim {

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

}  // namespace sim

// What the Gen2 and 6B tag commands share: naming the target tag by its EPC
// or by a selection mask, and the errorCode convention (-1 on success, the
// tag's own error code when the reader reports a tag error, untouched
// otherwise).
#pragma once

#include <cstdint>

#include "commands/transaction.h"

namespace mv::cmd {

constexpr std::uint8_t kTagErrorStatus = MORVENT_TAG_ERROR;

// A Gen2 access, kill or privacy password.
constexpr std::size_t kPasswordBytes = 4;

// The target of an addressed Gen2 command. epcWords 0..15 sends that many
// EPC words; kByMask sends the selection mask instead; 16..254 is refused.
struct TagAddress {
    static constexpr std::uint8_t kByMask = 0xFF;
    static constexpr std::uint8_t kMaxEpcWords = 15;

    const std::uint8_t* epc;
    std::uint8_t epcWords;
    std::uint8_t maskBank;
    const std::uint8_t* maskAddress;
    std::uint8_t maskBitLength;
    const std::uint8_t* mask;

    bool byMask() const { return epcWords == kByMask; }
};

// An addressed request: epcWords and the EPC, then `fields`, then the
// selection mask when addressing by mask. Refuses 16..254 before anything
// of the caller's is read.
template <class Fields>
void addressed(Request& r, const TagAddress& tag, Fields&& fields) {
    if (!tag.byMask() && tag.epcWords > TagAddress::kMaxEpcWords) {
        r.refuse(MORVENT_PARAM_RANGE);
        return;
    }
    r.byte(tag.epcWords);
    if (!tag.byMask()) r.bytes(tag.epc, 2u * tag.epcWords);
    fields(r);
    if (tag.byMask()) r.selectionMask(tag.maskBank, tag.maskAddress, tag.maskBitLength, tag.mask);
}

// Stores the errorCode of an answer: -1 on status 0, the tag's error code
// (first data byte) on a tag error. An answer too short to carry that byte
// leaves errorCode alone.
void storeErrorCode(const Response& r, int* errorCode);

// A tag command whose answer follows the errorCode convention. `onSuccess`
// copies the outputs of a status-0 answer; every other output stays as the
// caller left it.
template <class Build, class OnSuccess>
int tagCommand(const Exchange& ex, unsigned char* readerAddress, int* errorCode, int portIndex, Build&& build,
               OnSuccess&& onSuccess) {
    return transact(ex, readerAddress, portIndex, static_cast<Build&&>(build), [&](const Response& r) {
        if (r.status() == MORVENT_OK) onSuccess(r);
        storeErrorCode(r, errorCode);
    });
}

template <class Build>
int tagCommand(const Exchange& ex, unsigned char* readerAddress, int* errorCode, int portIndex, Build&& build) {
    return tagCommand(ex, readerAddress, errorCode, portIndex, static_cast<Build&&>(build), [](const Response&) {});
}

}  // namespace mv::cmd

// How a Gen2 command picks its tag: by EPC, by a selection mask, or (neither
// given) whichever tag answers. Shared by every tag command and inventory.
// Commands that change a tag take "whichever tag answers" only when asked
// for it with --any.
#pragma once

#include <cstdint>

#include "args.h"
#include "output.h"
#include "parse.h"

namespace morvent_cli {

struct Selection {
    std::uint8_t bank = 1;
    std::uint8_t address[2] = {0, 32};  // bit address, high byte first
    std::uint8_t bits = 0;
    Bytes mask;
};

struct Target {
    std::uint8_t epc_words = 0;  // 0..15, or 0xFF for mask addressing
    Bytes epc;
    Selection selection;
};

extern const Options kMaskOptions;          // --mask, --mask-bank, --mask-addr, --mask-bits
extern const Options kTargetOptions;        // --epc plus kMaskOptions
extern const Options kChangeTargetOptions;  // kTargetOptions plus --any

// nullopt-like: returns false when no --mask was given.
bool parseSelection(const Arguments& arguments, Selection& selection);
Target parseTarget(const Arguments& arguments);

// As parseTarget, for a command that changes the tag: neither --epc nor
// --mask is refused unless --any was given (requireChosen checks that alone).
Target parseChangeTarget(const Arguments& arguments);
void requireChosen(const Arguments& arguments, const Target& target);

// The tag a command acted on, as far as the tool knows it:
// {"epc": HEX} or {"mask": HEX, "mask_bank": ..., ...} or {"any": true}.
Value targetValue(const Target& target);

// Refuses a tag-changing command that cannot pick its tag, unless --any.
void requireAny(const Arguments& arguments, const std::string& why);

// A 4-byte password from --NAME, all zeros when absent.
Bytes parsePassword(const Arguments& arguments, const char* name = "password");

Options join(std::initializer_list<Options> parts);

}  // namespace morvent_cli

// How a Gen2 command picks its tag: by EPC, by a selection mask, or (neither
// given) whichever tag answers. Shared by every tag command and inventory.
#pragma once

#include <cstdint>

#include "args.h"
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

extern const Options kMaskOptions;    // --mask, --mask-bank, --mask-addr, --mask-bits
extern const Options kTargetOptions;  // --epc plus kMaskOptions

// nullopt-like: returns false when no --mask was given.
bool parse_selection(const Arguments& arguments, Selection& selection);
Target parse_target(const Arguments& arguments);

// A 4-byte password from --NAME, all zeros when absent.
Bytes parse_password(const Arguments& arguments, const char* name = "password");

Options join(std::initializer_list<Options> parts);

}  // namespace morvent_cli

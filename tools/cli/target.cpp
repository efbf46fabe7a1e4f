#include "target.h"

namespace morvent_cli {

const Options kMaskOptions = {
    {"mask", "HEX", "select tags whose memory matches HEX (mask addressing)"},
    {"mask-bank", "BANK", "bank the mask is compared with: reserved, epc (default), tid, user"},
    {"mask-addr", "BIT", "first bit compared (default 32: the EPC after CRC and PC)"},
    {"mask-bits", "N", "mask length in bits (default: all bits of HEX)"},
};

const Options kTargetOptions = join({
    {{"epc", "HEX", "address the tag with this EPC (1 to 15 words)"}},
    kMaskOptions,
});

const Options kChangeTargetOptions = join({
    kTargetOptions,
    {{"any", nullptr, "act on whichever tag answers (no --epc or --mask)"}},
});

Options join(std::initializer_list<Options> parts) {
    Options all;
    for (const Options& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

bool parseSelection(const Arguments& arguments, Selection& selection) {
    auto mask = arguments.value("mask");
    if (!mask) {
        for (const char* dependent : {"mask-bank", "mask-addr", "mask-bits"}) {
            if (arguments.has(dependent)) throw UsageError(std::string("--") + dependent + " needs --mask");
        }
        return false;
    }
    selection.mask = parseHex(*mask, "--mask");
    if (selection.mask.empty() || selection.mask.size() > 32) {
        throw UsageError("--mask: needs 1 to 32 bytes, got " + std::to_string(selection.mask.size()));
    }
    if (auto bank = arguments.value("mask-bank")) selection.bank = parseBank(*bank);
    if (auto address = arguments.value("mask-addr")) {
        long bit = parseNumber(*address, "--mask-addr", 0, 0xFFFF);
        selection.address[0] = static_cast<std::uint8_t>(bit >> 8);
        selection.address[1] = static_cast<std::uint8_t>(bit & 0xFF);
    }
    long bits = static_cast<long>(selection.mask.size()) * 8;
    if (auto given = arguments.value("mask-bits")) {
        bits = parseNumber(*given, "--mask-bits", 1, 255);
        if ((bits + 7) / 8 != static_cast<long>(selection.mask.size())) {
            throw UsageError("--mask-bits: " + std::to_string(bits) + " bits take " + std::to_string((bits + 7) / 8) +
                             " mask bytes, --mask has " + std::to_string(selection.mask.size()));
        }
    } else if (bits > 255) {
        throw UsageError("--mask: 32 bytes is 256 bits; give --mask-bits 255 or less");
    }
    selection.bits = static_cast<std::uint8_t>(bits);
    return true;
}

Target parseTarget(const Arguments& arguments) {
    Target target;
    bool masked = parseSelection(arguments, target.selection);
    auto epc = arguments.value("epc");
    if (epc && masked) throw UsageError("give either --epc or --mask, not both");
    if (epc) {
        target.epc = parseEpc(*epc, "--epc");
        target.epc_words = static_cast<std::uint8_t>(target.epc.size() / 2);
    } else if (masked) {
        target.epc_words = 0xFF;
    }
    return target;
}

void requireAny(const Arguments& arguments, const std::string& why) {
    if (arguments.flag("any")) return;
    throw UsageError(why + "; give --any to act on whichever tag answers");
}

Target parseChangeTarget(const Arguments& arguments) {
    Target target = parseTarget(arguments);
    requireChosen(arguments, target);
    return target;
}

void requireChosen(const Arguments& arguments, const Target& target) {
    if (target.epc_words == 0) {
        requireAny(arguments, "no tag chosen: give --epc or --mask");
    } else if (arguments.flag("any")) {
        throw UsageError("--any: the tag is already chosen by --epc or --mask");
    }
}

Value targetValue(const Target& target) {
    if (target.epc_words == 0) {
        return Value::text("any");
    }
    if (target.epc_words != 0xFF) return Value::text(toHex(target.epc));
    const Selection& s = target.selection;
    return Value::text("mask " + toHex(s.mask) + " on bank " + bankName(s.bank) + " from bit " +
                       std::to_string(s.address[0] << 8 | s.address[1]) + " (" + std::to_string(s.bits) + " bits)");
}

Bytes parsePassword(const Arguments& arguments, const char* name) {
    auto text = arguments.value(name);
    return text ? parseHexExact(*text, 4, std::string("--") + name) : Bytes(4, 0);
}

}  // namespace morvent_cli

// Every single-frame command export as data: how to call it with arguments
// drawn from fuzz input, which caller buffers it may write, and on which
// statuses. The fuzz targets run an operation and then check the kit's
// promises against this table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/harness.h"

namespace fuzz {

// Statuses on which an output may change (once the answer passed the CRC and
// echo checks; before that, nothing may change).
enum When : std::uint8_t { kNever = 0, kOn0 = 1, kOnFC = 2, kOn01 = 4, kAnyStatus = 8 };

class Call {
public:
    using Script = void (*)(Call&);
    Call(Input& in, int port, Script script) : in(in), port(port), script_(script) {}

    Input& in;
    const int port;
    std::uint8_t code = 0;

    std::uint8_t arg() { return in.byte(); }
    // A caller output of exactly `size` bytes, writable on `when`.
    std::uint8_t* out(std::size_t size, std::uint8_t when);
    int* intOut(std::uint8_t when) { return reinterpret_cast<int*>(out(sizeof(int), when)); }
    // A caller input of `size` bytes taken from the fuzz input; the kit must
    // not write to it.
    std::uint8_t* in_(std::size_t size);
    // The reader address cell: the address is drawn from the input.
    std::uint8_t* address(std::uint8_t when);
    // Arguments are drawn: script the reader's answer from the rest.
    void ready() { script_(*this); }

    struct Output {
        std::unique_ptr<Guarded> buffer;
        std::uint8_t when;
    };
    std::vector<Output> outputs;
    struct Input_ {
        std::unique_ptr<Guarded> buffer;
        std::unique_ptr<Guarded> copy;  // what the caller put there
    };
    std::vector<Input_> inputs;

private:
    Script script_;
};

struct Operation {
    const char* name;
    std::uint8_t code;
    std::uint8_t otherEcho;  // a second command code the answer may echo, or 0
    bool anyEcho;            // the echoed command code is not compared
    bool loose;              // its result may differ from the status byte (refusals after the answer)
    bool (*present)();       // the export is linked in
    int (*run)(Call&);
};

extern const Operation kOperations[];
extern const std::size_t kOperationCount;

// Checks the promises after `op` returned `result`: outputs written only on
// the statuses allowed, the result a status of the table.
void checkOutcome(const Operation& op, Call& call, int result);

}  // namespace fuzz

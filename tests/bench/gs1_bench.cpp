// Decoding GS1 EPCs: SGTIN-96 to its pure-identity URI through the C
// function, set beside the budget of 5 million EPCs a second on one core,
// and beside printing the same URI from its three numbers with snprintf.
#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench/allocations.h"
#include "bench/bench_table.h"
#include "morvent.h"

namespace {

constexpr int kBatch = 1000;             // EPCs per iteration
constexpr double kBudgetUsPerEpc = 0.2;  // 5 million EPCs a second

struct Sgtin {
    std::array<std::uint8_t, 12> epc;
    std::uint64_t serial;
};

// The standard's example EPC (company prefix 0614141, item reference
// 812345) with kBatch different serials, from small to 38 bits.
std::vector<Sgtin> batch() {
    std::vector<Sgtin> epcs;
    for (int i = 0; i < kBatch; ++i) {
        Sgtin s{{0x30, 0x74, 0x25, 0x7B, 0xF7, 0x19, 0x4E, 0x40, 0, 0, 0, 0}, (std::uint64_t{1} << (i % 38)) + i};
        s.serial &= (std::uint64_t{1} << 38) - 1;
        s.epc[7] = static_cast<std::uint8_t>(0x40 | (s.serial >> 32));
        for (int b = 0; b < 4; ++b) s.epc[8 + b] = static_cast<std::uint8_t>(s.serial >> (24 - 8 * b));
        epcs.push_back(s);
    }
    return epcs;
}

void decodeUri(benchmark::State& state) {
    const std::vector<Sgtin> epcs = batch();
    char text[MORVENT_EPC_TEXT_ROOM];
    long allocations = 0;
    std::size_t sum = 0;
    for (auto _ : state) {
        benchtable::AllocationCount count;
        for (const Sgtin& s : epcs) {
            if (MorventEpcDecode(s.epc.data(), 12, MORVENT_EPC_PART_URI, text, sizeof text) != MORVENT_OK) {
                state.SkipWithError("an EPC of the batch did not decode");
                return;
            }
            sum += static_cast<unsigned char>(text[33]);
        }
        allocations += count.sinceStart();
        benchmark::DoNotOptimize(sum);
    }
    const double epcs_decoded = static_cast<double>(state.iterations()) * kBatch;
    state.counters["allocations"] = static_cast<double>(allocations) / epcs_decoded;
    state.counters["EPCs/s"] = benchmark::Counter(epcs_decoded, benchmark::Counter::kIsRate);
}

void printUri(benchmark::State& state) {
    const std::vector<Sgtin> epcs = batch();
    char text[MORVENT_EPC_TEXT_ROOM];
    std::size_t sum = 0;
    for (auto _ : state) {
        for (const Sgtin& s : epcs) {
            std::snprintf(text, sizeof text, "urn:epc:id:sgtin:%07u.%06u.%llu", 614141u, 812345u,
                          static_cast<unsigned long long>(s.serial));
            sum += static_cast<unsigned char>(text[33]);
        }
        benchmark::DoNotOptimize(sum);
    }
}

// Computed: what kBatch EPCs may take at 5 million a second.
void budget(benchmark::State& state) {
    for (auto _ : state) {
    }
    state.counters["us"] = kBatch * kBudgetUsPerEpc;
}

}  // namespace

int main(int argc, char** argv) {
    benchtable::Options options = benchtable::start(argc, argv);
    using benchmark::RegisterBenchmark;
    constexpr int kPairs = 9;
    benchtable::iterations(RegisterBenchmark("sgtin96/uri", decodeUri), options, 0, kPairs, 0.2);
    benchtable::iterations(RegisterBenchmark("sgtin96/snprintf", printUri), options, 0, kPairs, 0.2);
    benchtable::iterations(RegisterBenchmark("sgtin96/budget", budget), options, 1);

    benchtable::Table table;
    table.ratio("SGTIN-96 to URI vs 5 M EPCs/s (1000 EPCs)", "sgtin96/uri", "sgtin96/budget", 1.0);
    table.ratio("SGTIN-96 to URI vs snprintf of the URI", "sgtin96/uri", "sgtin96/snprintf", 1.0);
    table.count("heap allocations per EPC decoded", "sgtin96/uri", "allocations", 0);
    return benchtable::run(options, table);
}

// What every benchmark program of the kit shares: the process pinned to one
// core, a short "smoke" mode for CI, and a closing table that sets each
// measured figure beside its reference with the goal it has to meet.
//
//   int main(int argc, char** argv) {
//       benchtable::Options options = benchtable::start(argc, argv);   // before any thread starts
//       benchmark::RegisterBenchmark("tcp/transaction", ...);
//       benchtable::Table table;
//       table.ratio("TCP transaction", "tcp/transaction", "tcp/raw", 1.10);
//       return benchtable::run(options, table);
//   }
//
// Flags besides Google Benchmark's: --smoke (a few iterations of each, for
// CI) and --table-json=FILE (the table as JSON).
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

namespace benchtable {

struct Options {
    bool smoke = false;
    std::string tableJson;
};

// Pins the process (and every thread it starts later) to one core, takes
// this file's flags out of argv and initialises Google Benchmark, with the
// repetitions of all benchmarks interleaved at random.
Options start(int& argc, char** argv);

// Iterations for a benchmark: Google Benchmark's own choice, or a few when
// smoke-testing (`slow` benchmarks get fewer still). With `repetitions` the
// benchmark runs that many times, interleaved at random with the other
// benchmarks' repetitions, and its figure is the median: a figure and its
// reference then see the same moods of a shared machine. `minSeconds`: the
// least time of one repetition, when the iterations are not fixed.
void iterations(benchmark::internal::Benchmark* b, const Options& options, int fixed = 0, int repetitions = 1,
                double minSeconds = 0);

// A figure in microseconds per iteration: the benchmark's real time, or its
// "us" counter when it sets one (a reference that is computed, not timed).
class Table {
public:
    // figure / reference <= goal
    void ratio(std::string row, std::string figure, std::string reference, double goal);
    // figure - reference <= goal microseconds
    void overhead(std::string row, std::string figure, std::string reference, double goalUs);
    // the counter `counter` of benchmark `figure` <= goal
    void count(std::string row, std::string figure, std::string counter, double goal);

    struct Row {
        std::string name, figure, reference, counter, kind;
        double goal;
    };
    const std::vector<Row>& rows() const { return rows_; }

private:
    std::vector<Row> rows_;
};

// Runs the registered benchmarks, prints the table and writes its JSON.
// Returns 0 (goals not met are reported, not failed: figures are noisy).
int run(const Options& options, const Table& table);

}  // namespace benchtable

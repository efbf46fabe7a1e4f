#include "bench/bench_table.h"

#include <sched.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <vector>

namespace benchtable {
namespace {

struct Measured {
    double us = 0;  // real time per iteration
    std::map<std::string, double> counters;
};

std::map<std::string, Measured> measured;

// Prints as the console reporter does and keeps each run's figures.
class Recorder : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // A repeated benchmark reports only its aggregates: take the median.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median)) continue;
            Measured& m = measured[run.run_name.function_name];
            m.us = run.GetAdjustedRealTime() * multiplierToUs(run.time_unit);
            for (const auto& [name, counter] : run.counters) m.counters[name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    static double multiplierToUs(benchmark::TimeUnit unit) {
        switch (unit) {
        case benchmark::kNanosecond: return 1e-3;
        case benchmark::kMicrosecond: return 1;
        case benchmark::kMillisecond: return 1e3;
        default: return 1e6;
        }
    }
};

// A timed figure, or the "us" counter of a benchmark that computes it.
bool figureOf(const std::string& name, double* us) {
    const auto it = measured.find(name);
    if (it == measured.end()) return false;
    const auto counter = it->second.counters.find("us");
    *us = counter != it->second.counters.end() ? counter->second : it->second.us;
    return true;
}

struct Line {
    std::string name;
    bool measuredOk = false;
    double figure = 0, reference = 0, result = 0, goal = 0;
    std::string unit, goalText;
    bool met = false;
};

Line evaluate(const Table::Row& row) {
    Line line;
    line.name = row.name;
    line.goal = row.goal;
    char text[64];
    if (row.kind == "count") {
        const auto it = measured.find(row.figure);
        if (it == measured.end() || !it->second.counters.count(row.counter)) return line;
        line.measuredOk = true;
        line.figure = line.result = it->second.counters[row.counter];
        line.unit = row.counter;
        std::snprintf(text, sizeof text, "<= %g", row.goal);
    } else {
        if (!figureOf(row.figure, &line.figure) || !figureOf(row.reference, &line.reference)) return line;
        line.measuredOk = true;
        line.unit = "us";
        if (row.kind == "ratio") {
            line.result = line.reference > 0 ? line.figure / line.reference : INFINITY;
            std::snprintf(text, sizeof text, "<= %.2fx", row.goal);
        } else {
            line.result = line.figure - line.reference;
            std::snprintf(text, sizeof text, "<= %g us over", row.goal);
        }
    }
    line.goalText = text;
    line.met = line.result <= row.goal;
    return line;
}

std::string resultText(const Table::Row& row, const Line& line) {
    char text[64];
    if (row.kind == "ratio") std::snprintf(text, sizeof text, "%.2fx", line.result);
    else if (row.kind == "overhead") std::snprintf(text, sizeof text, "%+.1f us", line.result);
    else std::snprintf(text, sizeof text, "%g", line.result);
    return text;
}

std::string jsonText(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

Options start(int& argc, char** argv) {
    Options options;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) options.smoke = true;
        else if (std::strncmp(argv[i], "--table-json=", 13) == 0) options.tableJson = argv[i] + 13;
        else argv[kept++] = argv[i];
    }
    argc = kept;
    // Client and responder on one core: figures of a shared VM stay stable,
    // and every hand-over between them costs what it costs in the library.
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (!CPU_ISSET(cpu, &allowed)) continue;
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            sched_setaffinity(0, sizeof one, &one);
            break;
        }
    }
    // The repetitions of every benchmark in random order rather than one
    // benchmark's all in a row (an explicit flag on the command line wins).
    static std::vector<char*> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    argc = 1;
    return options;
}

void iterations(benchmark::internal::Benchmark* b, const Options& options, int fixed, int repetitions,
                double minSeconds) {
    b->UseRealTime()->Unit(benchmark::kMicrosecond);
    if (options.smoke) {
        b->Iterations(3);
        return;
    }
    if (fixed > 0) b->Iterations(fixed);
    else if (minSeconds > 0) b->MinTime(minSeconds);
    if (repetitions > 1) b->Repetitions(repetitions)->ReportAggregatesOnly(true);
}

void Table::ratio(std::string row, std::string figure, std::string reference, double goal) {
    rows_.push_back({std::move(row), std::move(figure), std::move(reference), "", "ratio", goal});
}

void Table::overhead(std::string row, std::string figure, std::string reference, double goalUs) {
    rows_.push_back({std::move(row), std::move(figure), std::move(reference), "", "overhead", goalUs});
}

void Table::count(std::string row, std::string figure, std::string counter, double goal) {
    rows_.push_back({std::move(row), std::move(figure), "", std::move(counter), "count", goal});
}

int run(const Options& options, const Table& table) {
    Recorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    benchmark::Shutdown();

    std::printf("\n%-44s %14s %14s %12s %16s  %s\n", "benchmark", "figure", "reference", "result", "goal", "goal met");
    std::string json = "[\n";
    bool first = true;
    for (const Table::Row& row : table.rows()) {
        const Line line = evaluate(row);
        if (!line.measuredOk) {
            std::printf("%-44s %14s\n", row.name.c_str(), "not measured");
            continue;
        }
        char figure[32], reference[32];
        std::snprintf(figure, sizeof figure, "%.1f %s", line.figure, line.unit.c_str());
        if (row.kind == "count") std::snprintf(reference, sizeof reference, "-");
        else std::snprintf(reference, sizeof reference, "%.1f us", line.reference);
        const std::string result = resultText(row, line);
        std::printf("%-44s %14s %14s %12s %16s  %s\n", row.name.c_str(), figure, reference, result.c_str(),
                    line.goalText.c_str(), line.met ? "met" : "not met");
        char entry[512];
        std::snprintf(entry, sizeof entry,
                      "  {\"benchmark\": %s, \"figure\": %.3f, \"reference\": %.3f, \"unit\": %s, "
                      "\"kind\": %s, \"result\": %.4f, \"goal\": %.4f, \"met\": %s}",
                      jsonText(row.name).c_str(), line.figure, line.reference, jsonText(line.unit).c_str(),
                      jsonText(row.kind).c_str(), line.result, row.goal, line.met ? "true" : "false");
        json += (first ? "" : ",\n") + std::string(entry);
        first = false;
    }
    json += "\n]\n";
    if (options.smoke) std::printf("(smoke run: a few iterations each; the figures mean nothing)\n");
    if (!options.tableJson.empty()) {
        std::ofstream out(options.tableJson);
        out << json;
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", options.tableJson.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace benchtable

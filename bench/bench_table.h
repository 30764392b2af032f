#pragma once

// Rows of the performance table. A bench declares which runs it compares (a
// measurement and its baseline, taken in the same run) before running; after
// the run it prints its rows and, when scripts/perf names a file in
// PINVALER_BENCH_ROWS, appends them there for tools/perf_table, which formats
// them. A row is one tab-separated line: group, measurement, baseline, time,
// baseline time (ns, or "failed: why" for the time), the goal's highest ratio
// and time in ns (0 for none), and the unit written after each time. A unit
// starting with '#' marks a count, not a time: the numbers are shown as they
// are, followed by the rest of the unit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n ? (values[(n - 1) / 2] + values[n / 2]) / 2.0 : std::nan("");
}

// The CPU time of all of the process's threads: load from other processes
// barely moves it, where it swings wall time on a shared machine.
inline double process_cpu_ns() {
    return static_cast<double>(std::clock()) * 1e9 / CLOCKS_PER_SEC;
}

// At most this ratio to the baseline, or a time under this many ns; 0 for none.
struct row_goal {
    double max_ratio = 0.0;
    double max_ns = 0.0;
};

class bench_table : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const std::string name = run.run_name.str();
            if (run.error_occurred)
                errors_[name] = run.error_message;
            // Medians come after the repetitions and replace them; a single run stands alone.
            if (run.error_occurred || run.iterations == 0 ||
                (run.run_type != Run::RT_Iteration && run.aggregate_name != "median"))
                continue;
            times_[name] = run.real_accumulated_time / static_cast<double>(run.iterations) * 1e9;
            for (const auto &[counter, value] : run.counters)
                times_[name + "#" + counter] = value.value;
        }
    }

    // Runs by their Google Benchmark names, or "name#counter" for a counter (ns) of one.
    void compare(const std::string &group, const std::string &label, const std::string &run,
                 const std::string &baseline, const std::string &baseline_run, row_goal goal = {},
                 const char *unit = "") {
        const auto name = [](const std::string &r) { return r.substr(0, r.find('#')); };
        pending_.push_back([=, this] {
            for (const std::string &r : {run, baseline_run})
                if (errors_.count(name(r)))
                    return add_failure(group, label, r + ": " + errors_[name(r)]);
            if (times_.count(run) && times_.count(baseline_run)) // else filtered out, or not built
                add(group, label, times_[run], baseline, times_[baseline_run], goal, unit);
        });
    }

    // A row measured some other way.
    void add(const std::string &group, const std::string &label, double ns,
             const std::string &baseline, double baseline_ns, row_goal goal = {},
             const char *unit = "") {
        char numbers[160];
        std::snprintf(numbers, sizeof(numbers), "%.6g\t%.6g\t%g\t%g\t%s", ns, baseline_ns,
                      goal.max_ratio, goal.max_ns, unit);
        lines_ += group + "\t" + label + "\t" + baseline + "\t" + numbers + "\n";
    }

    void add_failure(const std::string &group, const std::string &label, const std::string &why) {
        lines_ += group + "\t" + label + "\t-\tfailed: " + why + "\tnan\t0\t0\t\n";
    }

    void finish() {
        for (const auto &row : pending_)
            row();
        std::printf("\n%s", lines_.c_str());
        std::fflush(stdout);
        const char *path = std::getenv("PINVALER_BENCH_ROWS");
        if (std::FILE *file = path && *path ? std::fopen(path, "a") : nullptr) {
            std::fputs(lines_.c_str(), file);
            std::fclose(file);
        }
    }

private:
    std::map<std::string, double> times_;
    std::map<std::string, std::string> errors_;
    std::vector<std::function<void()>> pending_;
    std::string lines_;
};

// Registers a run that repeats `step`.
template <typename Step>
void add_run(const std::string &name, Step step) {
    benchmark::RegisterBenchmark(name.c_str(), [step](benchmark::State &state) mutable {
        for (auto _ : state) {
            step();
            benchmark::ClobberMemory();
        }
    });
}

// Repeated and randomly interleaved so that load from elsewhere on the shared
// machine falls on a measurement and its baseline alike; medians keep the odd
// stall out. Flags on the command line come later and win (a quick look:
// `--benchmark_repetitions=1 --benchmark_min_time=0.01`).
inline int run_benchmarks(int argc, char **argv, bench_table &table, int repetitions,
                          const char *min_time = "0.5") {
    std::vector<std::string> flags{"--benchmark_repetitions=" + std::to_string(repetitions),
                                   "--benchmark_enable_random_interleaving=true",
                                   "--benchmark_display_aggregates_only=true",
                                   std::string("--benchmark_min_time=") + min_time};
    flags.insert(flags.end(), argv + 1, argv + argc);
    std::vector<char *> args{argv[0]};
    for (std::string &flag : flags)
        args.push_back(flag.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks(&table);
    benchmark::Shutdown();
    table.finish();
    return 0;
}

#pragma once

// Rows of the performance table. A bench declares which runs it compares (a
// measurement and its baseline, taken in the same run) before running; after
// the run it prints its rows and, when scripts/perf names a file in
// PINVALER_BENCH_ROWS, appends them there as tab-separated lines for
// tools/perf_table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

inline std::string fixed(double value, int decimals, const char *unit = "") {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f%s", decimals, value, unit);
    return text;
}

// Three significant digits or so, in the unit that keeps the number readable.
inline std::string duration_text(double ns) {
    const double size = std::fabs(ns);
    if (!std::isfinite(ns))
        return "-";
    if (size < 1e3)
        return fixed(ns, size < 100 ? 1 : 0, " ns");
    if (size < 1e6)
        return fixed(ns / 1e3, size < 1e4 ? 2 : 1, " µs");
    return size < 1e9 ? fixed(ns / 1e6, size < 1e7 ? 2 : 1, " ms") : fixed(ns / 1e9, 2, " s");
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? std::nan("") : (values[(n - 1) / 2] + values[n / 2]) / 2.0;
}

// At most this ratio to the baseline, or a value under this many ns; 0 for none.
struct row_goal {
    double max_ratio = 0.0;
    double max_ns = 0.0;
};

// A time from a run: its median real time per iteration in ns, or, for
// "run#counter", the median of that counter times `ns_per_unit`.
struct measured {
    std::string label;
    std::string run;
    double ns_per_unit = 1.0;
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

    void compare(const std::string &group, const measured &value, const measured &baseline,
                 row_goal goal = {}) {
        pairs_.push_back({group, value, baseline, goal});
    }

    // A row measured some other way; `show` writes the value and baseline in their unit.
    void add(const std::string &group, const std::string &measurement, double value,
             const std::string &baseline, double base, row_goal goal = {},
             std::string (*show)(double) = duration_text) {
        const double ratio = value / base;
        std::string verdict = "-";
        char goal_text[64] = "-";
        if (goal.max_ratio > 0 && std::isfinite(ratio)) {
            std::snprintf(goal_text, sizeof(goal_text), "ratio ≤ %g", goal.max_ratio);
            verdict = ratio <= goal.max_ratio ? "met" : "not met";
        } else if (goal.max_ns > 0 && std::isfinite(value)) {
            std::snprintf(goal_text, sizeof(goal_text), "< %s", duration_text(goal.max_ns).c_str());
            verdict = value < goal.max_ns ? "met" : "not met";
        }
        // Ratios near 1 carry their meaning in the third decimal (a 2 % goal).
        const bool near_one = ratio >= 0.9 && ratio <= 1.1;
        const int decimals = ratio >= 100 ? 0 : ratio >= 10 ? 1 : near_one ? 3 : 2;
        add_fields({group, measurement, show(value), baseline, show(base),
                    std::isfinite(ratio) ? fixed(ratio, decimals) : "-", goal_text, verdict});
    }

    void add_failure(const std::string &group, const std::string &measurement,
                     const std::string &why) {
        add_fields({group, measurement, "failed: " + why, "-", "-", "-", "-", "-"});
    }

    void finish() {
        for (const auto &[group, value, baseline, goal] : pairs_) {
            if (errors_.count(value.run))
                add_failure(group, value.label, errors_[value.run]);
            else if (times_.count(value.run)) // else filtered out of this run
                add(group, value.label, time_of(value), baseline.label, time_of(baseline), goal);
        }
        const char *path = std::getenv("PINVALER_BENCH_ROWS");
        std::FILE *file = path && *path ? std::fopen(path, "a") : nullptr;
        std::printf("\n%s", lines_.c_str());
        if (file) {
            std::fputs(lines_.c_str(), file);
            std::fclose(file);
        }
        std::fflush(stdout);
    }

private:
    struct pair {
        std::string group;
        measured value, baseline;
        row_goal goal;
    };

    void add_fields(const std::vector<std::string> &fields) {
        for (const std::string &field : fields)
            lines_ += field + (&field == &fields.back() ? "\n" : "\t");
    }

    double time_of(const measured &m) const {
        const auto found = times_.find(m.run);
        return found == times_.end() ? std::nan("") : found->second * m.ns_per_unit;
    }

    std::map<std::string, double> times_;
    std::map<std::string, std::string> errors_;
    std::vector<pair> pairs_;
    std::string lines_;
};

// Repeated and randomly interleaved so that load from elsewhere on the shared
// machine falls on a measurement and its baseline alike; medians keep the odd
// stall out. Flags on the command line come later and win (e.g. a quick
// `--benchmark_repetitions=1 --benchmark_min_time=0.01`).
inline int run_benchmarks(int argc, char **argv, bench_table &table, int repetitions,
                          const char *min_time = "0.5") {
    std::string flags[] = {"--benchmark_repetitions=" + std::to_string(repetitions),
                           "--benchmark_enable_random_interleaving=true",
                           "--benchmark_display_aggregates_only=true",
                           std::string("--benchmark_min_time=") + min_time};
    std::vector<char *> args{argv[0]};
    for (std::string &flag : flags)
        args.push_back(flag.data());
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks(&table);
    benchmark::Shutdown();
    table.finish();
    return 0;
}

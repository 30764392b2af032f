#pragma once

// Turns a bench binary's Google Benchmark runs into performance table rows. The
// binary declares which runs it compares (and with what goal) before running,
// runs through `run_benchmarks`, and `finish` prints its rows after the usual
// output and appends them to the file named by PINVALER_BENCH_ROWS, which
// scripts/perf gathers into one table.
#include "bench_rows.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

// A goal on a row: at most this ratio to the baseline, or under this time.
struct row_goal {
    enum class kind { none, ratio_at_most, time_under_ns };
    kind what = kind::none;
    double limit = 0.0;
};

inline row_goal ratio_at_most(double limit) {
    return {row_goal::kind::ratio_at_most, limit};
}
inline row_goal time_under_ns(double limit) {
    return {row_goal::kind::time_under_ns, limit};
}

inline std::string goal_text(const row_goal &goal) {
    switch (goal.what) {
    case row_goal::kind::ratio_at_most:
        return "ratio ≤ " + format_short(goal.limit);
    case row_goal::kind::time_under_ns:
        return "< " + format_duration_ns(goal.limit);
    case row_goal::kind::none:
        break;
    }
    return {};
}

// Fills in the ratio, goal and verdict of a row from its two times (ns).
inline void judge_row(table_row &row, double value_ns, double baseline_ns, const row_goal &goal) {
    row.ratio = value_ns / baseline_ns;
    row.goal = goal_text(goal);
    if (goal.what == row_goal::kind::ratio_at_most && std::isfinite(row.ratio))
        row.verdict = row.ratio <= goal.limit ? "met" : "not met";
    else if (goal.what == row_goal::kind::time_under_ns && std::isfinite(value_ns))
        row.verdict = value_ns < goal.limit ? "met" : "not met";
}

// Where a time comes from: the median real time per iteration of a run, or,
// with `counter` set, the median of that user counter over the repetitions,
// in units of `ns_per_unit` nanoseconds.
struct measured {
    std::string label;
    std::string run;
    std::string counter = {};
    double ns_per_unit = 1.0;
};

class bench_table : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const std::string name = run.run_name.str();
            if (run.error_occurred) {
                errors_[name] = run.error_message;
                continue;
            }
            if (run.iterations == 0)
                continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !median)
                continue;
            auto &into = median ? aggregate_ : samples_;
            into[name].push_back(run.real_accumulated_time / static_cast<double>(run.iterations) *
                                 1e9);
            for (const auto &[counter, value] : run.counters)
                (median ? counter_aggregate_ : counter_samples_)[{name, counter}].push_back(
                    value.value);
        }
    }

    // Median real time per iteration in ns; NaN when the run did not happen.
    double median_ns(const std::string &run) const { return median_of(samples_, aggregate_, run); }

    double counter(const std::string &run, const std::string &name) const {
        return median_of(counter_samples_, counter_aggregate_, std::pair{run, name});
    }

    void compare(const std::string &group, const measured &value, const measured &baseline,
                 row_goal goal = {}) {
        pairs_.push_back({group, value, baseline, goal});
    }

    // A row measured some other way.
    void add(table_row row) { rows_.push_back(std::move(row)); }

    // Rows from the declared pairs (in declaration order) and the added ones.
    std::vector<table_row> rows() const {
        std::vector<table_row> all;
        for (const pair &p : pairs_) {
            const double value = time_of(p.value);
            if (!std::isfinite(value) && !failed(p.value.run))
                continue; // filtered out of this run
            table_row row;
            row.group = p.group;
            row.measurement = p.value.label;
            row.value = failed(p.value.run) ? "failed: " + errors_.at(p.value.run)
                                            : format_duration_ns(value);
            row.baseline = p.baseline.label;
            const double baseline = time_of(p.baseline);
            row.baseline_value = format_duration_ns(baseline);
            judge_row(row, value, baseline, p.goal);
            all.push_back(row);
        }
        all.insert(all.end(), rows_.begin(), rows_.end());
        return all;
    }

    // Prints the rows under the benchmark output and appends them to the
    // shared file when scripts/perf names one.
    void finish() const {
        const std::vector<table_row> all = rows();
        std::printf("\n");
        print_text_table(stdout, all);
        std::fflush(stdout);
        const char *path = std::getenv("PINVALER_BENCH_ROWS");
        if (!path || !*path)
            return;
        std::FILE *file = std::fopen(path, "a");
        if (!file) {
            std::fprintf(stderr, "cannot append to %s\n", path);
            return;
        }
        for (const table_row &row : all)
            std::fprintf(file, "%s\n", encode_row(row).c_str());
        std::fclose(file);
    }

private:
    struct pair {
        std::string group;
        measured value;
        measured baseline;
        row_goal goal;
    };

    template <typename Key>
    static double median_of(const std::map<Key, std::vector<double>> &samples,
                            const std::map<Key, std::vector<double>> &aggregates, const Key &key) {
        if (auto found = aggregates.find(key); found != aggregates.end() && !found->second.empty())
            return found->second.front();
        auto found = samples.find(key);
        if (found == samples.end() || found->second.empty())
            return std::numeric_limits<double>::quiet_NaN();
        std::vector<double> sorted = found->second;
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
    }

    double time_of(const measured &m) const {
        if (m.counter.empty())
            return median_ns(m.run);
        return counter(m.run, m.counter) * m.ns_per_unit;
    }

    bool failed(const std::string &run) const { return errors_.count(run) != 0; }

    std::map<std::string, std::vector<double>> samples_;
    std::map<std::string, std::vector<double>> aggregate_;
    std::map<std::pair<std::string, std::string>, std::vector<double>> counter_samples_;
    std::map<std::pair<std::string, std::string>, std::vector<double>> counter_aggregate_;
    std::map<std::string, std::string> errors_;
    std::vector<pair> pairs_;
    std::vector<table_row> rows_;
};

// Initialises Google Benchmark with `defaults` for every flag the command line
// does not give itself, runs what is registered into `table`, and prints the
// rows. Returns the process's exit status.
inline int run_benchmarks(int argc, char **argv, bench_table &table,
                          const std::vector<std::string> &defaults) {
    std::vector<std::string> owned;
    std::vector<char *> args(argv, argv + argc);
    for (const std::string &flag : defaults) {
        const std::string name = flag.substr(0, flag.find('='));
        const bool given = std::any_of(args.begin() + 1, args.end(), [&](const char *arg) {
            return std::strncmp(arg, name.c_str(), name.size()) == 0;
        });
        if (!given)
            owned.push_back(flag);
    }
    for (std::string &flag : owned)
        args.push_back(flag.data());
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks(&table);
    benchmark::Shutdown();
    table.finish();
    return 0;
}

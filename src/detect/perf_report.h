#pragma once

// The diagnostics: a window of counters that the intake and the worker record into, and the
// report line a detection logs once the window is five seconds old. Host-free: the caller holds
// the performance mutex and passes the clock.
#include <cstdint>
#include <optional>
#include <string>

// Counters of one performance window, as recorded by the intake and the worker.
struct perf_counters {
    uint64_t perf_submitted;
    uint64_t perf_detections;
    uint64_t perf_any_tag;
    uint64_t perf_both_tags;
    uint64_t perf_quads;
    uint64_t perf_overruns;
    uint64_t perf_downscale_total_ns;
    uint64_t perf_downscale_max_ns;
    uint64_t perf_detect_total_ns;
    uint64_t perf_detect_max_ns;
};

struct perf_window {
    uint64_t perf_window_start_ns; // 0: no window open
    perf_counters counters;
};

inline constexpr uint64_t perf_window_ns = 5'000'000'000ull;

// Starts a new window at start_ns (0 closes it) with every counter zeroed.
void open_perf_window(perf_window &window, uint64_t start_ns);

// One conversion and hand-off by the intake.
void record_downscale(perf_window &window, uint64_t duration_ns, uint64_t now_ns);

// Sizes of the frame last detected and the detector's thread count.
struct perf_frame_info {
    int32_t source_width;
    int32_t source_height;
    int32_t detect_width;
    int32_t detect_height;
    int32_t threads;
};

// One timed detector run. Returns the report line when the window is at least five seconds old
// and then opens the next window at `now_ns`.
std::optional<std::string> record_detection(perf_window &window, float detect_fps,
                                            uint64_t detect_ns, int32_t quads, bool any_tag,
                                            bool both_tags, uint64_t now_ns,
                                            const perf_frame_info &frame);

// The 22 values of the report line, in its order.
struct perf_report {
    int source_width;
    int source_height;
    int detect_width;
    int detect_height;
    double requested_fps;
    double actual_fps;
    int threads;
    double sigma;
    const char *refine;
    double sharpening;
    double detect_avg_ms;
    double detect_max_ms;
    double detect_duty_percent;
    double downscale_avg_ms;
    double downscale_max_ms;
    double downscale_duty_percent;
    double quads_per_run;
    double any_tag_percent;
    double both_tags_percent;
    unsigned long long submitted;
    unsigned long long dropped;
    unsigned long long overruns;
};

// The report's values for a window of `elapsed_ns` with at least one detection.
perf_report make_perf_report(const perf_counters &counters, uint64_t elapsed_ns, double rate,
                             const perf_frame_info &frame);

std::string format_perf_line(const perf_report &report);

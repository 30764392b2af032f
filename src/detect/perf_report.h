#pragma once

#include <cstdint>

// Counters of one performance window, as recorded by the intake and the worker.
struct perf_counters {
    uint64_t submitted;
    uint64_t detections;
    uint64_t any_tag;
    uint64_t both_tags;
    uint64_t quads;
    uint64_t overruns;
    uint64_t downscale_total_ns;
    uint64_t downscale_max_ns;
    uint64_t detect_total_ns;
    uint64_t detect_max_ns;
};

// Sizes of the frame last detected and the detector's thread count.
struct perf_frame_info {
    int32_t source_width;
    int32_t source_height;
    int32_t detect_width;
    int32_t detect_height;
    int32_t threads;
};

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

inline constexpr uint64_t perf_window_ns = 5000000000ull;

// The report's values for a window of `elapsed_ns` with at least one detection.
perf_report make_perf_report(const perf_counters &counters, uint64_t elapsed_ns, double rate,
                             const perf_frame_info &frame);

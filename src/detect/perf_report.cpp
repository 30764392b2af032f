#include "detect/perf_report.h"

perf_report make_perf_report(const perf_counters &c, uint64_t elapsed_ns, double rate,
                             const perf_frame_info &frame) {
    const double e = static_cast<double>(elapsed_ns);
    const double n = static_cast<double>(c.detections);
    perf_report r{};
    r.source_width = frame.source_width;
    r.source_height = frame.source_height;
    r.detect_width = frame.detect_width;
    r.detect_height = frame.detect_height;
    r.requested_fps = rate;
    r.actual_fps = n / (e / 1e9);
    r.threads = frame.threads;
    // The detector's fixed settings, shown so a report stands on its own.
    r.sigma = 0.0;
    r.refine = "off";
    r.sharpening = 0.25;
    r.detect_avg_ms = static_cast<double>(c.detect_total_ns) / (n * 1e6);
    r.detect_max_ms = static_cast<double>(c.detect_max_ns) / 1e6;
    r.detect_duty_percent = static_cast<double>(c.detect_total_ns) * 100.0 / e;
    r.downscale_avg_ms = c.submitted > 0 ? static_cast<double>(c.downscale_total_ns) /
                                               (static_cast<double>(c.submitted) * 1e6)
                                         : 0.0;
    r.downscale_max_ms = static_cast<double>(c.downscale_max_ns) / 1e6;
    r.downscale_duty_percent = static_cast<double>(c.downscale_total_ns) * 100.0 / e;
    r.quads_per_run = static_cast<double>(c.quads) / n;
    r.any_tag_percent = static_cast<double>(c.any_tag) * 100.0 / n;
    r.both_tags_percent = static_cast<double>(c.both_tags) * 100.0 / n;
    r.submitted = c.submitted;
    // A difference of counts: repeated runs on a held frame lower it, and it never goes negative.
    r.dropped = c.submitted > c.detections ? c.submitted - c.detections : 0;
    r.overruns = c.overruns;
    return r;
}

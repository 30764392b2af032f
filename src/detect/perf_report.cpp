#include "detect/perf_report.h"
#include "detect/detector_config.h"
#include "intake/rate_gate.h"

#include <algorithm>
#include <cstdio>

void open_perf_window(perf_window &window, uint64_t start_ns) {
    window = perf_window{start_ns, perf_counters{}};
}

void record_downscale(perf_window &window, uint64_t duration_ns, uint64_t now_ns) {
    if (window.perf_window_start_ns == 0)
        open_perf_window(window, now_ns);
    perf_counters &c = window.counters;
    c.perf_submitted += 1;
    c.perf_downscale_total_ns += duration_ns;
    c.perf_downscale_max_ns = std::max(c.perf_downscale_max_ns, duration_ns);
}

std::optional<std::string> record_detection(perf_window &window, float detect_fps,
                                            uint64_t detect_ns, int32_t quads, bool any_tag,
                                            bool both_tags, uint64_t now_ns,
                                            const perf_frame_info &frame) {
    if (window.perf_window_start_ns == 0)
        open_perf_window(window, now_ns);
    perf_counters &c = window.counters;
    c.perf_detections += 1;
    c.perf_detect_total_ns += detect_ns;
    c.perf_detect_max_ns = std::max(c.perf_detect_max_ns, detect_ns);
    if (quads > 0)
        c.perf_quads += static_cast<uint64_t>(quads);
    if (any_tag)
        c.perf_any_tag += 1;
    if (both_tags)
        c.perf_both_tags += 1;

    const float fps = effective_detect_fps(detect_fps);
    if (detect_ns > detect_interval_ns(fps))
        c.perf_overruns += 1;

    // A window opened just before by another thread must not lie in this detection's future.
    const uint64_t start = window.perf_window_start_ns;
    const uint64_t elapsed = now_ns > start ? now_ns - start : 0;
    if (elapsed < perf_window_ns || c.perf_detections == 0)
        return std::nullopt;
    std::string line =
        format_perf_line(make_perf_report(c, elapsed, static_cast<double>(fps), frame));
    open_perf_window(window, now_ns);
    return line;
}

perf_report make_perf_report(const perf_counters &c, uint64_t elapsed_ns, double rate,
                             const perf_frame_info &frame) {
    const double e = static_cast<double>(elapsed_ns);
    const double n = static_cast<double>(c.perf_detections);
    const detector_config &config = fixed_detector_config;
    perf_report r{};
    r.source_width = frame.source_width;
    r.source_height = frame.source_height;
    r.detect_width = frame.detect_width;
    r.detect_height = frame.detect_height;
    r.requested_fps = rate;
    r.actual_fps = n / (e / 1e9);
    r.threads = frame.threads;
    // The detector's fixed settings, shown so a report stands on its own.
    r.sigma = static_cast<double>(config.quad_sigma);
    r.refine = config.refine_edges ? "on" : "off";
    r.sharpening = config.decode_sharpening;
    r.detect_avg_ms = static_cast<double>(c.perf_detect_total_ns) / (n * 1e6);
    r.detect_max_ms = static_cast<double>(c.perf_detect_max_ns) / 1e6;
    r.detect_duty_percent = static_cast<double>(c.perf_detect_total_ns) * 100.0 / e;
    r.downscale_avg_ms = c.perf_submitted > 0 ? static_cast<double>(c.perf_downscale_total_ns) /
                                                    (static_cast<double>(c.perf_submitted) * 1e6)
                                              : 0.0;
    r.downscale_max_ms = static_cast<double>(c.perf_downscale_max_ns) / 1e6;
    r.downscale_duty_percent = static_cast<double>(c.perf_downscale_total_ns) * 100.0 / e;
    r.quads_per_run = static_cast<double>(c.perf_quads) / n;
    r.any_tag_percent = static_cast<double>(c.perf_any_tag) * 100.0 / n;
    r.both_tags_percent = static_cast<double>(c.perf_both_tags) * 100.0 / n;
    r.submitted = c.perf_submitted;
    // A difference of counts: repeated runs on a held frame lower it, and it never goes negative.
    r.dropped = c.perf_submitted > c.perf_detections ? c.perf_submitted - c.perf_detections : 0;
    r.overruns = c.perf_overruns;
    return r;
}

std::string format_perf_line(const perf_report &r) {
    char line[512];
    std::snprintf(
        line, sizeof(line),
        "[Pinvale perf] source=%dx%d detect=%dx%d requested=%.1f fps actual=%.2f fps threads=%d "
        "sigma=%.2f refine=%s sharpening=%.2f | detect avg/max=%.2f/%.2f ms duty=%.1f%% | "
        "downscale avg/max=%.2f/%.2f ms duty=%.1f%% | quads=%.1f tags(any/both)=%.0f%%/%.0f%% "
        "submitted=%llu dropped=%llu overruns=%llu",
        r.source_width, r.source_height, r.detect_width, r.detect_height, r.requested_fps,
        r.actual_fps, r.threads, r.sigma, r.refine, r.sharpening, r.detect_avg_ms, r.detect_max_ms,
        r.detect_duty_percent, r.downscale_avg_ms, r.downscale_max_ms, r.downscale_duty_percent,
        r.quads_per_run, r.any_tag_percent, r.both_tags_percent, r.submitted, r.dropped,
        r.overruns);
    return line;
}

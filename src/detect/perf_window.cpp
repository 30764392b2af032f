#include "detect/perf_window.h"
#include "detect/detection_rate.h"
#include "detect/perf_report.h"
#include "platform/threads.h"

#include <algorithm>
#include <util/platform.h>

namespace {

perf_counters window_counters(const filter_instance *instance) {
    return {instance->perf_submitted,
            instance->perf_detections,
            instance->perf_any_tag,
            instance->perf_both_tags,
            instance->perf_quads,
            instance->perf_overruns,
            instance->perf_downscale_total_ns,
            instance->perf_downscale_max_ns,
            instance->perf_detect_total_ns,
            instance->perf_detect_max_ns};
}

void log_perf_report(const perf_report &r) {
    blog(LOG_INFO,
         "[Pinvale perf] source=%dx%d detect=%dx%d requested=%.1f fps actual=%.2f fps threads=%d "
         "sigma=%.2f refine=%s sharpening=%.2f | detect avg/max=%.2f/%.2f ms duty=%.1f%% | "
         "downscale avg/max=%.2f/%.2f ms duty=%.1f%% | quads=%.1f tags(any/both)=%.0f%%/%.0f%% "
         "submitted=%llu dropped=%llu overruns=%llu",
         r.source_width, r.source_height, r.detect_width, r.detect_height, r.requested_fps,
         r.actual_fps, r.threads, r.sigma, r.refine, r.sharpening, r.detect_avg_ms, r.detect_max_ms,
         r.detect_duty_percent, r.downscale_avg_ms, r.downscale_max_ms, r.downscale_duty_percent,
         r.quads_per_run, r.any_tag_percent, r.both_tags_percent, r.submitted, r.dropped,
         r.overruns);
}

} // namespace

void open_perf_window(filter_instance *instance, uint64_t start_ns) {
    instance->perf_window_start_ns = start_ns;
    instance->perf_submitted = 0;
    instance->perf_detections = 0;
    instance->perf_any_tag = 0;
    instance->perf_both_tags = 0;
    instance->perf_quads = 0;
    instance->perf_overruns = 0;
    instance->perf_downscale_total_ns = 0;
    instance->perf_downscale_max_ns = 0;
    instance->perf_detect_total_ns = 0;
    instance->perf_detect_max_ns = 0;
}

void perf_record_downscale(filter_instance *instance, uint64_t duration_ns) {
    mutex_lock lock(instance->perf_mutex);
    if (instance->perf_window_start_ns == 0)
        open_perf_window(instance, os_gettime_ns());
    instance->perf_submitted += 1;
    instance->perf_downscale_total_ns += duration_ns;
    instance->perf_downscale_max_ns = std::max(instance->perf_downscale_max_ns, duration_ns);
}

void perf_record_detection(filter_instance *instance, bool enabled, float detect_fps,
                           uint64_t detect_ns, int32_t quads, bool any_tag, bool both_tags) {
    if (!enabled)
        return;
    mutex_lock lock(instance->perf_mutex);
    // Read under the lock: a window opened by the intake or an update just
    // before must not lie in this detection's future.
    const uint64_t now = os_gettime_ns();
    if (instance->perf_window_start_ns == 0)
        open_perf_window(instance, now);

    instance->perf_detections += 1;
    instance->perf_detect_total_ns += detect_ns;
    instance->perf_detect_max_ns = std::max(instance->perf_detect_max_ns, detect_ns);
    if (quads > 0)
        instance->perf_quads += static_cast<uint64_t>(quads);
    if (any_tag)
        instance->perf_any_tag += 1;
    if (both_tags)
        instance->perf_both_tags += 1;

    const double rate = effective_detect_rate(detect_fps);
    if (detect_ns > detect_interval_ns(rate))
        instance->perf_overruns += 1;

    const uint64_t start = instance->perf_window_start_ns;
    const uint64_t elapsed = now > start ? now - start : 0;
    if (elapsed >= perf_window_ns && instance->perf_detections != 0) {
        const perf_frame_info frame = {
            instance->work_frame.source_width, instance->work_frame.source_height,
            instance->work_frame.width, instance->work_frame.height, instance->worker_threads};
        log_perf_report(make_perf_report(window_counters(instance), elapsed, rate, frame));
        open_perf_window(instance, now);
    }
}

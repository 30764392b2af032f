#include "detect/detector_pass.h"
#include "detect/crop_geometry.h"
#include "detect/perf_window.h"
#include "detect/tag_detection.h"
#include "detect/tracking_status.h"
#include "detect/work_frame.h"
#include "platform/threads.h"

#include <util/platform.h>

namespace {

struct pass_settings {
    settings_snapshot settings;
    bool running;
};

pass_settings copy_pass_settings(filter_instance *instance) {
    mutex_lock lock(instance->config_mutex);
    return {instance->settings, instance->worker_running};
}

// Owns the result array for the rest of the pass.
struct detections_guard {
    zarray_t *detections;
    ~detections_guard() {
        if (detections)
            apriltag_detections_destroy(detections);
    }
};

} // namespace

pass_outcome run_detector_pass(filter_instance *instance) {
    if (!instance->config_mutex_ready)
        return pass_outcome::stop;
    const pass_settings copy = copy_pass_settings(instance);
    if (!copy.running)
        return pass_outcome::stop;
    const settings_snapshot &settings = copy.settings;

    // Taken even with tracking off, so that turning it back on starts from the newest picture.
    take_newest_frame(instance);
    const detection_frame &work = instance->work_frame;
    if (!settings.enable_tracking || !work.data || !detectable_size(work.width, work.height))
        return pass_outcome::skipped;

    const bool timed = settings.perf_diagnostics;
    const detection_run run = detect_tags(instance, work, timed);
    if (!run.detections) {
        if (!instance->warned_no_result) {
            instance->warned_no_result = true;
            blog(LOG_ERROR, "Pinvale: AprilTag detector returned no result array");
        }
        return pass_outcome::no_result;
    }
    const detections_guard guard{run.detections};

    const tag_pair_selection tags =
        select_detected_tags(run.detections, settings.tag_id_a, settings.tag_id_b);
    const bool any_tag = tags.has_a || tags.has_b;
    const bool both_tags = tags.has_a && tags.has_b;

    if (timed)
        perf_record_detection(instance, true, settings.detect_fps, run.duration_ns, run.quads,
                              any_tag, both_tags);

    const canvas_size canvas = publish_status(instance, any_tag, both_tags, os_gettime_ns());
    if (both_tags) {
        const crop_target target = crop_target_from_pair(
            tags.a, tags.b, work.width, work.height, work.source_width, work.source_height,
            settings.padding, canvas.width, canvas.height);
        publish_target(instance, target, work.source_width, work.source_height);
    }
    return pass_outcome::published;
}

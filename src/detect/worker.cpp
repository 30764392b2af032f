// The instance's one background thread: on each wake it takes the newest detection frame,
// detects (near the markers' last corners when it may, else in the whole picture), picks tag A
// and tag B, and publishes the tracking status and the crop target. The host's threads only ever
// wait for its copies and stores, never for a detection.
#include "detect/detector.h"
#include "detect/window_detection.h"
#include "filter/instance.h"

#include <cstring>
#include <mutex>

namespace {

struct pass_settings {
    settings_snapshot settings;
    bool running;
    uint64_t generation;
    tag_family_handle new_family;
};

pass_settings copy_pass_settings(filter_instance &instance) {
    std::lock_guard lock(instance.config.mutex);
    return {instance.config.settings, instance.config.worker_running, instance.config.generation,
            std::move(instance.config.pending_family)};
}

// Swaps in a family that update made; the old one is freed once the detector has let go of it.
void install_family(detector_part &detector, tag_family_handle family) {
    std::lock_guard lock(detector.mutex);
    register_family(detector.detector.get(), detector.family.get(), family.get());
    detector.family = std::move(family);
}

struct canvas {
    uint32_t width;
    uint32_t height;
};

// Takes the newest published frame into the work frame when there is one not taken yet (a frame
// still at sequence 0 holds no picture), and the canvas size for the crop's aspect.
canvas take_newest_frame(filter_instance &instance) {
    tracking_part &tracking = instance.tracking;
    detection_frame &work = instance.worker.work_frame;
    std::lock_guard lock(tracking.mutex);
    const canvas size{tracking.canvas_width, tracking.canvas_height};
    const detection_frame &input = tracking.input_frame;
    if (!input.data || input.sequence == 0 || input.sequence == work.sequence)
        return size;
    if (!ensure_detection_frame(work, input.width, input.height)) {
        if (!tracking.warned_alloc) {
            tracking.warned_alloc = true;
            blog(LOG_ERROR, "Pinvale: failed to allocate detector work buffer");
        }
        return size;
    }
    // A detection frame is tightly packed, so the picture is one block.
    std::memcpy(work.data.get(), input.data.get(),
                static_cast<size_t>(input.width) * static_cast<size_t>(input.height));
    work.sequence = input.sequence;
    work.source_width = input.source_width;
    work.source_height = input.source_height;
    tracking.taken_sequence = work.sequence;
    return size;
}

void record_detection_perf(filter_instance &instance, const settings_snapshot &settings,
                           const detection_run &run, bool any_tag, bool both_tags) {
    const detection_frame &work = instance.worker.work_frame;
    const perf_frame_info frame{work.source_width, work.source_height, work.width, work.height,
                                instance.worker_threads};
    std::lock_guard lock(instance.perf.mutex);
    // Read under the lock: a window opened by the intake or an update just before must not lie
    // in this detection's future. The line is logged under the lock too, with its window.
    if (const std::optional<std::string> line =
            record_detection(instance.perf.window, settings.detect_fps, run.duration_ns, run.quads,
                             any_tag, both_tags, os_gettime_ns(), frame))
        blog(LOG_INFO, "%s", line->c_str());
}

} // namespace

bool run_detector_pass(filter_instance &instance) {
    if (!instance.config.mutex.ready())
        return false;
    pass_settings copy = copy_pass_settings(instance);
    if (!copy.running)
        return false;
    const settings_snapshot &settings = copy.settings;
    if (copy.new_family)
        install_family(instance.detector, std::move(copy.new_family));

    // Taken even with tracking off, so that turning it back on starts from the newest picture.
    const canvas canvas_size = take_newest_frame(instance);
    worker_part &worker = instance.worker;
    const detection_frame &work = worker.work_frame;
    if (!settings.enable_tracking || !work.data || !detectable_size(work.width, work.height)) {
        // The next pass that detects starts from the whole picture.
        worker.searched_settings.reset();
        return true;
    }
    pass_conditions conditions{
        .now_ns = os_gettime_ns(),
        .sizes = {work.width, work.height, work.source_width, work.source_height},
        .settings_changed = worker.searched_settings != settings,
        // The setup view shows every marker of the family, which only whole passes see.
        .windows_enabled = settings.window_search && !settings.show_setup_view,
        .reach = {},
    };
    worker.searched_settings = settings;

    const image_u8_t image{work.width, work.height, work.stride, work.data.get()};
    search_pass searched;
    {
        std::lock_guard lock(instance.detector.mutex);
        if (const apriltag_family_t *family = instance.detector.family.get())
            conditions.reach = reach_of_family(family->width_at_border, family->total_width);
        searched =
            run_search_pass(instance.detector.detector.get(), image,
                            plan_search(worker.search, conditions), settings.tag_id_a,
                            settings.tag_id_b, settings.perf_diagnostics ? os_gettime_ns : nullptr);
    }
    const detection_run &run = searched.run;
    if (!run.detections) {
        remember_pass(worker.search, conditions, searched.searched_whole, {}, false);
        if (!worker.warned_no_result) {
            worker.warned_no_result = true;
            blog(LOG_ERROR, "Pinvale: AprilTag detector returned no result array");
        }
        return true;
    }

    pass_markers markers;
    const tag_pair_selection tags = select_detected_tags(
        run.detections.get(), settings.tag_id_a, settings.tag_id_b, &markers,
        static_cast<float>(work.source_width) / static_cast<float>(work.width),
        static_cast<float>(work.source_height) / static_cast<float>(work.height));
    markers.source_width = work.source_width;
    markers.source_height = work.source_height;
    pass_result pass{};
    pass.any_tag = tags.has_a || tags.has_b;
    pass.both_tags = tags.has_a && tags.has_b;
    if (pass.both_tags) {
        pass.target = crop_target_from_pair(
            tags.a, tags.b, work.width, work.height, work.source_width, work.source_height,
            settings.padding, canvas_size.width, canvas_size.height, settings.crop_shape);
        pass.source_width = work.source_width;
        pass.source_height = work.source_height;
    }
    bool current;
    {
        const uint64_t now = os_gettime_ns();
        std::lock_guard lock(instance.tracking.mutex);
        // Begun before the user changed the markers or resumed tracking: its results are for
        // what the user no longer asks for.
        current = instance.tracking.generation == copy.generation;
        if (current) {
            apply_pass(instance.tracking.status, pass, now);
            instance.tracking.markers = markers;
        }
        instance.tracking.last_pass_ns = now;
    }
    remember_pass(worker.search, conditions, searched.searched_whole, tags, !current);
    // A stale pass counts as neither found nor lost.
    if (settings.perf_diagnostics)
        record_detection_perf(instance, settings, run, current && pass.any_tag,
                              current && pass.both_tags);
    return true;
}

void *detector_worker(void *data) {
    auto &instance = *static_cast<filter_instance *>(data);
    os_set_thread_name("pinvaler-detect");
    // No lock is held while waiting: destroy signals this event after clearing the run flag.
    do
        instance.detect_event.wait();
    while (run_detector_pass(instance));
    return nullptr;
}

// The picture as drawn in: for sources whose raw frames cannot serve detection (drawn on the GPU,
// in a format the luma reader does not take, drawn at another size than delivered, or when the
// user asks), video_render reads the filter's target back from the GPU. On a frame due by the
// detection rate it draws the target at the detection size, converts it to luma and stages it;
// the next video frame's tick maps it and hands it to the worker exactly as the raw-frame intake
// hands a frame, at the start of the frame as the raw-frame intake does. Runs on the host's
// graphics thread and never waits for the GPU: a due frame without a free surface is skipped.
#include "detect/detector.h"
#include "filter/instance.h"

#include <cstring>
#include <mutex>

namespace {

// A parent that never hands raw frames over: the GPU intake serves it from its first draw.
bool publish_gpu_source(filter_instance &instance) {
    graphics_part &graphics = instance.graphics;
    if (graphics.gpu_source_known)
        return true;
    graphics.gpu_source_known = true;
    const intake_log_line line =
        describe_intake(gpu_source_choice, instance.drawn_intake_available, 0, 0, 0, 0, 0);
    blog(line.warning ? LOG_WARNING : LOG_INFO, "%s", line.text.c_str());
    std::lock_guard lock(instance.tracking.mutex);
    instance.tracking.intake = intake_kind::drawn;
    instance.tracking.frame_usable = instance.drawn_intake_available;
    return true;
}

bool drawn_intake_serves(filter_instance &instance, bool raw_frames) {
    if (!raw_frames)
        return publish_gpu_source(instance);
    std::lock_guard lock(instance.tracking.mutex);
    return instance.tracking.intake == intake_kind::drawn;
}

// Hands the picture staged on an earlier frame to the worker, as the raw-frame intake hands a
// converted frame: same stamps, same sequence, same wake-up, same diagnostics.
void take_ready_picture(filter_instance &instance, const settings_snapshot &settings,
                        uint64_t frame_time) {
    gpu_readback &readback = instance.graphics.readback;
    const std::optional<staged_picture> ready = readback.next_ready(frame_time);
    if (!ready)
        return;
    const uint64_t t0 = settings.perf_diagnostics ? os_gettime_ns() : 0;
    tracking_part &tracking = instance.tracking;
    bool handed = false;
    readback.take(frame_time, [&](const uint8_t *data, uint32_t linesize) {
        std::lock_guard lock(tracking.mutex);
        detection_frame &input = tracking.input_frame;
        if (!ensure_detection_frame(input, ready->width, ready->height)) {
            tracking.frame_usable = false;
            if (!tracking.warned_alloc) {
                tracking.warned_alloc = true;
                blog(LOG_ERROR, "Pinvale: failed to allocate detector input buffer");
            }
            return;
        }
        for (int32_t y = 0; y < ready->height; ++y)
            std::memcpy(input.data.get() + static_cast<ptrdiff_t>(y) * input.stride,
                        data + static_cast<ptrdiff_t>(y) * linesize,
                        static_cast<size_t>(ready->width));
        input.source_width = ready->source_width;
        input.source_height = ready->source_height;
        input.sequence = ready->sequence;
        tracking.frame_usable = true;
        tracking.frame_width = ready->source_width;
        tracking.frame_height = ready->source_height;
        handed = true;
    });
    if (!handed)
        return;
    instance.detect_event.signal();
    if (settings.perf_diagnostics) {
        const uint64_t now = os_gettime_ns();
        std::lock_guard lock(instance.perf.mutex);
        record_downscale(instance.perf.window, ready->stage_ns + (now - t0), now);
    }
}

// `raw_frame`: the number of the newest raw frame of a parent that delivers them, 0 for one that
// does not.
void stage_due_picture(filter_instance &instance, const settings_snapshot &settings,
                       uint64_t frame_time, uint64_t raw_frame) {
    graphics_part &graphics = instance.graphics;
    // Like the raw-frame intake, a picture per new frame at most; a GPU source at every due time.
    if (raw_frame != 0 && raw_frame == graphics.staged_raw_frame)
        return;
    // The gate moves on even when no surface is free: that due frame is skipped.
    if (!rate_gate_due(graphics.gate, settings.detect_fps, frame_time) ||
        !graphics.readback.can_stage(frame_time))
        return;
    graphics.staged_raw_frame = raw_frame;
    obs_source_t *target = obs_filter_get_target(instance.source);
    const int32_t drawn_width =
        target ? static_cast<int32_t>(obs_source_get_base_width(target)) : 0;
    const int32_t drawn_height =
        target ? static_cast<int32_t>(obs_source_get_base_height(target)) : 0;
    if (drawn_width < 1 || drawn_height < 1)
        return;
    const detection_size size =
        detection_size_for(drawn_width, drawn_height, settings.detect_width);
    if (size.height > largest_detectable)
        return;
    const staged_picture picture{.width = size.width,
                                 .height = size.height,
                                 .source_width = drawn_width,
                                 .source_height = drawn_height,
                                 .frame_time = frame_time,
                                 .sequence = ++instance.submit_sequence,
                                 .stage_ns = 0};
    if (graphics.readback.stage(instance.source, picture)) {
        ++graphics.stages;
        instance.drawn_picture_waiting.store(true, std::memory_order_release);
    }
}

void drop_pending(filter_instance &instance) {
    instance.graphics.readback.drop_pending();
    instance.drawn_picture_waiting.store(false, std::memory_order_release);
}

} // namespace

void take_drawn_picture(filter_instance &instance) {
    if (!instance.drawn_picture_waiting.load(std::memory_order_acquire))
        return;
    const settings_snapshot settings = copy_settings(instance);
    obs_enter_graphics();
    if (settings.enable_tracking)
        take_ready_picture(instance, settings, obs_get_video_frame_time());
    else
        drop_pending(instance);
    instance.drawn_picture_waiting.store(instance.graphics.readback.pending() > 0,
                                         std::memory_order_release);
    obs_leave_graphics();
}

void intake_drawn_picture(filter_instance &instance) {
    graphics_part &graphics = instance.graphics;
    obs_source_t *parent = instance.source ? obs_filter_get_parent(instance.source) : nullptr;
    if (!parent)
        return;
    const settings_snapshot settings = copy_settings(instance);
    const bool raw_frames = (obs_source_get_output_flags(parent) & OBS_SOURCE_ASYNC) != 0;
    if (!settings.enable_tracking || !drawn_intake_serves(instance, raw_frames) ||
        !graphics.readback.loaded()) {
        drop_pending(instance);
        return;
    }
    stage_due_picture(instance, settings, obs_get_video_frame_time(),
                      raw_frames ? instance.raw_frames_seen.load(std::memory_order_relaxed) : 0);
}

// Raw frames in: each frame first decides whether raw frames can serve this source at all (a
// format the luma reader takes, drawn as delivered) or the GPU intake reads the picture as drawn.
// When raw frames serve, the ones due by the detection rate are reduced to the detection image,
// handed to the worker in the instance's single input slot, and the worker is woken. Runs on the
// host's video thread, which every source waits for: it pays one point-sampled conversion per due
// frame and never waits for a detection.
#include "detect/detector.h"
#include "filter/instance.h"
#include "intake/luma.h"

#include <mutex>
#include <utility>

namespace {

void mark_unusable(filter_instance &instance) {
    instance.intake.published = intake_kind::undecided;
    std::lock_guard lock(instance.tracking.mutex);
    instance.tracking.frame_usable = false;
}

void warn_once(bool &warned, int level, const char *message) {
    if (warned)
        return;
    warned = true;
    blog(level, "%s", message);
}

// Names the intake once per change, on the frame that changed it.
void log_intake_change(filter_instance &instance, intake_choice choice,
                       const obs_source_frame &frame, int32_t drawn_width, int32_t drawn_height) {
    if (choice == instance.intake.logged)
        return;
    instance.intake.logged = choice;
    const intake_log_line line = describe_intake(
        choice, instance.drawn_intake_available, frame.format, static_cast<int32_t>(frame.width),
        static_cast<int32_t>(frame.height), drawn_width, drawn_height);
    blog(line.warning ? LOG_WARNING : LOG_INFO, "%s", line.text.c_str());
}

// Raw frames serve: the GPU intake stops at once; sizes and usability come with the next due
// frame.
void publish_raw(filter_instance &instance) {
    if (instance.intake.published == intake_kind::raw_frames)
        return;
    instance.intake.published = intake_kind::raw_frames;
    std::lock_guard lock(instance.tracking.mutex);
    instance.tracking.intake = intake_kind::raw_frames;
}

// The GPU intake serves: the tick sees the drawn size, and the frames count as usable when it
// can read them (hidden until both markers are seen, if so asked); otherwise pass-through.
void publish_drawn(filter_instance &instance, int32_t width, int32_t height) {
    intake_part &intake = instance.intake;
    if (intake.published == intake_kind::drawn && intake.published_width == width &&
        intake.published_height == height)
        return;
    intake.published = intake_kind::drawn;
    intake.published_width = width;
    intake.published_height = height;
    tracking_part &tracking = instance.tracking;
    std::lock_guard lock(tracking.mutex);
    tracking.intake = intake_kind::drawn;
    tracking.frame_usable = instance.drawn_intake_available;
    tracking.frame_width = width;
    tracking.frame_height = height;
}

void intake_frame(filter_instance &instance, const settings_snapshot &settings,
                  const obs_source_frame &frame, luma_layout layout, int32_t w, int32_t h,
                  detection_size size, uint64_t sequence) {
    intake_part &intake = instance.intake;
    tracking_part &tracking = instance.tracking;
    const uint64_t t0 = settings.perf_diagnostics ? os_gettime_ns() : 0;
    bool converted;
    {
        std::lock_guard lock(tracking.mutex);
        tracking.frame_width = w;
        tracking.frame_height = h;
        detection_frame &input = tracking.input_frame;
        if (!ensure_detection_frame(input, size.width, size.height)) {
            tracking.frame_usable = false;
            warn_once(tracking.warned_alloc, LOG_ERROR,
                      "Pinvale: failed to allocate detector input buffer");
            return;
        }
        // Frames the host draws upside down are sampled upright, so the crop lands where the
        // user sees the markers.
        converted = downscale_luma(layout, input.data.get(), size.width, size.height, input.stride,
                                   frame.data[0], w, h, static_cast<int32_t>(frame.linesize[0]),
                                   frame.flip);
        // Stamped only on success: a refused frame must not relabel the old pixels.
        if (converted) {
            input.source_width = w;
            input.source_height = h;
            input.sequence = sequence;
        }
        tracking.frame_usable = converted;
    }
    if (!converted) {
        warn_once(intake.warned_frame, LOG_WARNING,
                  "Pinvale: ignored a frame with invalid plane data or stride");
        return;
    }

    instance.detect_event.signal();
    if (settings.perf_diagnostics) {
        const uint64_t now = os_gettime_ns();
        std::lock_guard lock(instance.perf.mutex);
        record_downscale(instance.perf.window, now - t0, now);
    }
}

} // namespace

void intake_raw_frame(filter_instance &instance, obs_source_frame *frame) {
    instance.raw_frames_seen.fetch_add(1, std::memory_order_relaxed);
    const settings_snapshot settings = copy_settings(instance);
    intake_part &intake = instance.intake;
    // The host's unsigned sizes as signed: 2^31 and more count as invalid.
    const int32_t w = static_cast<int32_t>(frame->width);
    const int32_t h = static_cast<int32_t>(frame->height);
    const int32_t previous_width = std::exchange(intake.previous_width, w);
    const int32_t previous_height = std::exchange(intake.previous_height, h);
    if (!settings.enable_tracking)
        return;

    const detection_size size =
        w >= 1 && h >= 1 ? detection_size_for(w, h, settings.detect_width) : detection_size{};
    // A detection image too tall for the detector could never be searched, and its buffer could
    // be absurdly large: such frames count as invalid too.
    if (w < 1 || h < 1 || size.height > largest_detectable) {
        mark_unusable(instance);
        warn_once(intake.warned_frame, LOG_WARNING,
                  "Pinvale: ignored a frame with invalid dimensions");
        return;
    }

    obs_source_t *target = instance.source ? obs_filter_get_target(instance.source) : nullptr;
    const int32_t drawn_width =
        target ? static_cast<int32_t>(obs_source_get_base_width(target)) : 0;
    const int32_t drawn_height =
        target ? static_cast<int32_t>(obs_source_get_base_height(target)) : 0;
    const std::optional<luma_layout> layout = luma_layout_for_format(frame->format);
    const intake_choice choice = choose_intake({.force_drawn = settings.force_gpu_intake,
                                                .readable_format = layout.has_value(),
                                                .has_target = target != nullptr,
                                                .drawn_available = instance.drawn_intake_available,
                                                .width = w,
                                                .height = h,
                                                .previous_width = previous_width,
                                                .previous_height = previous_height,
                                                .drawn_width = drawn_width,
                                                .drawn_height = drawn_height});
    // Undecided (the host has not sized the source yet, so a turn cannot show) the frame is read
    // as delivered: a source drawn nowhere, whose filters still get its frames, has no other
    // picture, and the next frame decides.
    if (choice.kind != intake_kind::undecided)
        log_intake_change(instance, choice, *frame, drawn_width, drawn_height);
    if (choice.kind == intake_kind::drawn) {
        const bool drawn_known = drawn_width >= 1 && drawn_height >= 1;
        publish_drawn(instance, drawn_known ? drawn_width : w, drawn_known ? drawn_height : h);
        return;
    }
    publish_raw(instance);
    if (!rate_gate_due(intake.gate, settings.detect_fps, os_gettime_ns()))
        return;
    intake_frame(instance, settings, *frame, *layout, w, h, size, ++instance.submit_sequence);
}

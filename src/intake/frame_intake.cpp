// Raw frames in: the ones due by the detection rate are reduced to the detection image, handed
// to the worker in the instance's single input slot, and the worker is woken. Runs on the host's
// video thread, which every source waits for: it pays one point-sampled conversion per due frame
// and never waits for a detection.
#include "detect/detector.h"
#include "filter/instance.h"
#include "intake/luma.h"

#include <mutex>

namespace {

void mark_unusable(filter_instance &instance) {
    std::lock_guard lock(instance.tracking.mutex);
    instance.tracking.frame_usable = false;
}

void warn_once(bool &warned, int level, const char *message) {
    if (warned)
        return;
    warned = true;
    blog(level, "%s", message);
}

void intake_frame(filter_instance &instance, const settings_snapshot &settings,
                  const obs_source_frame &frame) {
    intake_part &intake = instance.intake;
    tracking_part &tracking = instance.tracking;
    // The host's unsigned sizes as signed: 2^31 and more count as invalid.
    const int32_t w = static_cast<int32_t>(frame.width);
    const int32_t h = static_cast<int32_t>(frame.height);
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
    {
        std::lock_guard lock(tracking.mutex);
        tracking.frame_width = w;
        tracking.frame_height = h;
    }

    const std::optional<luma_layout> layout = luma_layout_for_format(frame.format);
    if (!layout) {
        mark_unusable(instance);
        if (!intake.warned_format) {
            intake.warned_format = true;
            blog(LOG_WARNING, "Pinvale: unsupported video format %s; tracking remains pass-through",
                 video_format_short_name(frame.format));
        }
        return;
    }

    const uint64_t t0 = settings.perf_diagnostics ? os_gettime_ns() : 0;
    bool converted;
    {
        std::lock_guard lock(tracking.mutex);
        detection_frame &input = tracking.input_frame;
        if (!ensure_detection_frame(input, size.width, size.height)) {
            tracking.frame_usable = false;
            warn_once(tracking.warned_alloc, LOG_ERROR,
                      "Pinvale: failed to allocate detector input buffer");
            return;
        }
        // Frames the host draws upside down are sampled upright, so the crop lands where the
        // user sees the markers.
        converted = downscale_luma(*layout, input.data.get(), size.width, size.height, input.stride,
                                   frame.data[0], w, h, static_cast<int32_t>(frame.linesize[0]),
                                   frame.flip);
        // Stamped only on success: a refused frame must not relabel the old pixels.
        if (converted) {
            input.source_width = w;
            input.source_height = h;
            input.sequence = intake.submit_sequence;
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
    const settings_snapshot settings = copy_settings(instance);
    if (!settings.enable_tracking)
        return;
    if (!rate_gate_due(instance.intake.gate, settings.detect_fps, os_gettime_ns()))
        return;
    instance.intake.submit_sequence += 1;
    intake_frame(instance, settings, *frame);
}

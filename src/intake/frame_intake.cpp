#include "intake/frame_intake.h"
#include "detect/perf_window.h"
#include "detect/tag_detection.h"
#include "filter/filter_callbacks.h"
#include "intake/detection_frame.h"
#include "intake/downscale_luma.h"
#include "intake/rate_gate.h"
#include "platform/threads.h"

#include <util/platform.h>

namespace {

void mark_unusable(filter_instance *instance) {
    mutex_lock lock(instance->frame_mutex);
    instance->frame_usable = false;
}

// Only the frame thread touches the once-flags of the intake.
void warn_once(bool &warned, int level, const char *message) {
    if (warned)
        return;
    warned = true;
    blog(level, "%s", message);
}

} // namespace

void intake_frame(filter_instance *instance, const settings_snapshot &settings,
                  const obs_source_frame *frame) {
    if (!instance || !frame)
        return;

    // The host's unsigned sizes as signed: 2^31 and more count as invalid.
    const int32_t w = static_cast<int32_t>(frame->width);
    const int32_t h = static_cast<int32_t>(frame->height);
    const detection_size size =
        w >= 1 && h >= 1 ? detection_size_for(w, h, settings.detect_width) : detection_size{};
    // A detection image too tall for the detector could never be searched, and
    // its buffer could be absurdly large: such frames count as invalid too.
    if (w < 1 || h < 1 || size.height > largest_detectable) {
        mark_unusable(instance);
        warn_once(instance->warned_frame, LOG_WARNING,
                  "Pinvale: ignored a frame with invalid dimensions");
        return;
    }
    {
        mutex_lock lock(instance->frame_mutex);
        instance->frame_width = w;
        instance->frame_height = h;
    }

    const std::optional<luma_layout> layout = luma_layout_for_format(frame->format);
    if (!layout) {
        mark_unusable(instance);
        if (!instance->warned_format) {
            instance->warned_format = true;
            blog(LOG_WARNING, "Pinvale: unsupported video format %s; tracking remains pass-through",
                 video_format_short_name(frame->format));
        }
        return;
    }

    const uint64_t t0 = settings.perf_diagnostics ? os_gettime_ns() : 0;
    bool converted;
    {
        mutex_lock lock(instance->frame_mutex);
        detection_frame &input = instance->input_frame;
        if (!ensure_detection_frame(&input, size.width, size.height)) {
            instance->frame_usable = false;
            warn_once(instance->warned_alloc, LOG_ERROR,
                      "Pinvale: failed to allocate detector input buffer");
            return;
        }
        // Frames the host draws upside down are sampled upright, so the crop
        // lands where the user sees the markers.
        converted = downscale_luma(*layout, input.data, size.width, size.height, input.stride,
                                   frame->data[0], w, h, static_cast<int32_t>(frame->linesize[0]),
                                   frame->flip);
        // Stamped only on success: a refused frame must not relabel the old pixels.
        if (converted) {
            input.source_width = w;
            input.source_height = h;
            input.sequence = instance->submit_sequence;
        }
        instance->frame_usable = converted;
    }
    if (!converted) {
        warn_once(instance->warned_frame, LOG_WARNING,
                  "Pinvale: ignored a frame with invalid plane data or stride");
        return;
    }

    event_signal(instance->detect_event);
    if (settings.perf_diagnostics)
        perf_record_downscale(instance, os_gettime_ns() - t0);
}

obs_source_frame *filter_video(void *data, obs_source_frame *frame) {
    auto *instance = static_cast<filter_instance *>(data);
    if (!instance || !frame)
        return frame;

    const settings_snapshot settings = copy_settings(instance);
    if (!settings.enable_tracking)
        return frame;

    if (!rate_gate_due(instance->schedule_fps, instance->next_detect_ns, settings.detect_fps,
                       os_gettime_ns()))
        return frame;

    instance->submit_sequence += 1;
    intake_frame(instance, settings, frame);
    return frame;
}

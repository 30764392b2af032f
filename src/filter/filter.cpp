// The filter type: every callback the host calls, and the table that registers them (at the
// bottom). Each callback is a few lines; the work lives with its subsystem:
//   create, destroy    filter/instance.cpp
//   defaults, panel    filter/settings_panel.cpp
//   filter_video       intake/frame_intake.cpp    (the host's video thread)
//   the GPU intake     intake/gpu_intake.cpp      (video_render stages, video_tick takes)
//   the worker         detect/worker.cpp          (the instance's own thread)
//   video_tick/render  zoom/zoom_output.cpp       (the host's graphics thread)
//   procedure, signals filter/filter_controls.cpp (registered in create)
//   and hotkeys
// libobs 29 runs update, video_tick and video_render on its graphics thread: whatever they wait
// for, every source on the canvas waits for.
#include "filter/filter.h"
#include "filter/instance.h"
#include "module/module.h"

#include <mutex>

namespace {

const char *filter_get_name(void *) {
    return module_text("Pinvale.FilterName");
}

// The new family is made here, outside any lock, and left for the worker to install: the worker
// holds the detector for a whole detection, and update runs on the host's graphics thread.
tag_family_handle make_family(settings_snapshot &next, tag_family_kind old_family,
                              obs_data_t *settings) {
    tag_family_handle created(next.tag_family);
    if (!created) {
        blog(LOG_ERROR, "Pinvale: failed to switch AprilTag family");
        next.tag_family = old_family;
        obs_data_set_int(settings, key_tag_family, static_cast<long long>(old_family));
    }
    return created;
}

} // namespace

void filter_update(void *data, obs_data_t *settings) {
    auto *instance = static_cast<filter_instance *>(data);
    if (!instance)
        return;

    const settings_snapshot old = copy_settings(*instance);
    settings_snapshot next = read_settings(instance->perf_from_env, settings);
    tag_family_handle family;
    if (next.tag_family != old.tag_family)
        family = make_family(next, old.tag_family, settings);
    // Only the markers' own "both seen" starts over; the target, the loss and the zoom stay.
    const bool tracking_resumed = !old.enable_tracking && next.enable_tracking;
    const bool restart = tracking_resumed || markers_changed(old, next);
    uint64_t generation;
    {
        std::lock_guard lock(instance->config.mutex);
        instance->config.settings = next;
        // A family still waiting from an earlier switch is replaced, and freed with the handle.
        if (family)
            instance->config.pending_family = std::move(family);
        generation = instance->config.generation += restart;
    }
    refresh_canvas_size(*instance);

    // After the settings: a pass that copied the old ones sees the new generation here and drops
    // its results, so hiding holds until the new markers are seen.
    if (restart) {
        std::lock_guard lock(instance->tracking.mutex);
        instance->tracking.generation = generation;
        instance->tracking.status.both_tags_seen = false;
        instance->tracking.markers = {};
    }
    if (next.perf_diagnostics != old.perf_diagnostics) {
        std::lock_guard lock(instance->perf.mutex);
        open_perf_window(instance->perf.window, next.perf_diagnostics ? os_gettime_ns() : 0);
    }
}

// A picture the GPU intake staged on the frame before goes to the worker first, at the start of
// the frame, as raw frames do.
void video_tick(void *data, float seconds) {
    auto *instance = static_cast<filter_instance *>(data);
    if (!instance)
        return;
    take_drawn_picture(*instance);
    zoom_tick(*instance, seconds);
}

// The host's effect is ignored: the filter always draws through its own crop effect. The GPU
// intake draws the target for itself first, outside the output's begin and end.
void video_render(void *data, gs_effect_t *) {
    auto *instance = static_cast<filter_instance *>(data);
    if (!instance)
        return;
    intake_drawn_picture(*instance);
    zoom_render(*instance);
}

// The frame always goes back unchanged: the filter only watches raw frames.
obs_source_frame *filter_video(void *data, obs_source_frame *frame) {
    auto *instance = static_cast<filter_instance *>(data);
    if (instance && frame)
        intake_raw_frame(*instance, frame);
    return frame;
}

namespace {
obs_source_info make_filter_info() {
    obs_source_info info = {};
    info.id = filter_source_id;
    info.type = OBS_SOURCE_TYPE_FILTER;
    info.output_flags = OBS_SOURCE_VIDEO;
    info.get_name = filter_get_name;
    info.create = filter_create;
    info.destroy = filter_destroy;
    info.get_defaults = filter_get_defaults;
    info.get_properties = filter_get_properties;
    info.update = filter_update;
    info.video_tick = video_tick;
    info.video_render = video_render;
    info.filter_video = filter_video;
    return info;
}
} // namespace

const obs_source_info pinvaler_filter_info = make_filter_info();

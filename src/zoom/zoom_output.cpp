// The output, on the host's graphics thread: each tick moves the crop toward the published
// target and hands the crop effect's parameters to the render, which draws the source through it;
// with the setup view on, the tick also hands over what the filter sees, and the render draws the
// whole picture with that over it.
#include "filter/instance.h"

#include <graphics/vec2.h>
#include <mutex>
#include <new>

namespace {

// `view` is what the setup view shows, null while it is off.
void publish(filter_instance &instance, const crop_parameters &crop, const overlay_data *view) {
    std::lock_guard lock(instance.render.mutex);
    instance.render.crop = crop;
    instance.render.setup_view = view != nullptr;
    if (view)
        instance.render.overlay = *view;
}

// The worker's and the intake's results (with the setup view, what the last pass saw too), and
// whether frames can be tracked at all; refreshes the canvas size for the worker on the way,
// since the tick runs on a host thread.
bool copy_tracking_inputs(filter_instance &instance, zoom_inputs &in, pass_markers *markers) {
    const canvas_size canvas = host_canvas_size();
    tracking_part &tracking = instance.tracking;
    std::lock_guard lock(instance.tracking.mutex);
    tracking.canvas_width = canvas.width;
    tracking.canvas_height = canvas.height;
    in.status = tracking.status;
    in.frame_width = tracking.frame_width;
    in.frame_height = tracking.frame_height;
    if (markers)
        *markers = tracking.markers;
    return tracking.frame_usable;
}

void draw_setup_view(filter_instance &instance) {
    graphics_part &graphics = instance.graphics;
    if (!graphics.setup_view && !graphics.setup_view_failed) {
        std::unique_ptr<setup_view_drawer> drawer(new (std::nothrow) setup_view_drawer);
        if (drawer && drawer->ready()) {
            graphics.setup_view = std::move(drawer);
        } else {
            graphics.setup_view_failed = true;
            blog(LOG_ERROR, "Pinvale: failed to make the setup view's graphics");
        }
    }
    if (!graphics.setup_view)
        return;
    // The size the host drew the picture at, which the filter's own pixels span.
    obs_source_t *target = obs_filter_get_target(instance.source);
    graphics.setup_view->draw(graphics.setup_view_data, obs_source_get_base_width(target),
                              obs_source_get_base_height(target));
}

} // namespace

void zoom_tick(filter_instance &instance, float seconds) {
    settings_snapshot settings;
    zoom_inputs in{};
    {
        std::lock_guard lock(instance.config.mutex);
        settings = instance.config.settings;
        in.controls = instance.config.controls;
    }
    in.hide_without_both_tags = settings.hide_without_both_tags;
    in.follow_half_life_ms = settings.follow_half_life_ms;
    in.seconds = seconds;
    // The host's clock serves only the hold window; smoothing follows `seconds`.
    in.now_ns = os_gettime_ns();
    {
        std::lock_guard lock(instance.render.mutex);
        in.was_visible = instance.render.crop.crop_visibility > 0.0f;
    }

    const bool view = settings.show_setup_view;
    pass_markers markers;
    // Untracked frames pass through whole and visible, whatever hiding says.
    const bool usable = copy_tracking_inputs(instance, in, view ? &markers : nullptr);
    const bool tracked = settings.enable_tracking && usable;
    const crop_parameters crop = tracked ? zoom_step(instance.zoom, in) : identity_crop();
    if (!view) {
        publish(instance, crop, nullptr);
    } else {
        // With tracking off no pass runs: there is nothing seen to show.
        const overlay_data seen =
            settings.enable_tracking
                ? setup_view_data(markers, in.status, crop, in.frame_width, in.frame_height)
                : overlay_data{};
        publish(instance, crop, &seen);
    }
    // After the crop, so that a handler asking for the state sees this tick's.
    announce_markers(instance, in.status.both_tags_seen);
}

void zoom_render(filter_instance &instance) {
    graphics_part &graphics = instance.graphics;
    if (!graphics.crop_effect) {
        obs_source_skip_video_filter(instance.source);
        return;
    }
    crop_parameters crop;
    bool view;
    {
        std::lock_guard lock(instance.render.mutex);
        crop = instance.render.crop;
        view = instance.render.setup_view;
        if (view)
            graphics.setup_view_data = instance.render.overlay;
    }
    // The setup view shows the whole picture, hidden or not.
    if (view)
        crop = identity_crop();
    // The host refuses when the filter has lost its parent or target (taken off its source while
    // a frame is drawn), where skipping would dereference the missing parent, and when the target
    // has no size, where it has skipped the filter itself already.
    if (!obs_source_process_filter_begin(instance.source, GS_RGBA, OBS_NO_DIRECT_RENDERING))
        return;
    vec2 mul;
    vec2 add;
    vec2_set(&mul, crop.crop_scale_x, crop.crop_scale_y);
    vec2_set(&add, crop.crop_offset_x, crop.crop_offset_y);
    gs_effect_set_vec2(graphics.param_mul_val, &mul);
    gs_effect_set_vec2(graphics.param_add_val, &add);
    gs_effect_set_float(graphics.param_visibility, crop.crop_visibility);
    obs_source_process_filter_end(instance.source, graphics.crop_effect.get(), 0, 0);
    if (view)
        draw_setup_view(instance);
}

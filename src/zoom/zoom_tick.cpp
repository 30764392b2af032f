#include "filter/canvas_size.h"
#include "filter/filter_callbacks.h"
#include "filter/filter_instance.h"
#include "platform/threads.h"

#include <util/platform.h>

namespace {

void publish_crop(filter_instance *instance, const crop_parameters &crop) {
    mutex_lock lock(instance->render_mutex);
    instance->crop = crop;
}

// Copies the worker's and the intake's results; refreshes the canvas size for
// the worker on the way, since the tick runs on a host thread.
bool copy_tracking_inputs(filter_instance *instance, zoom_inputs &in) {
    const canvas_size canvas = host_canvas_size();

    mutex_lock lock(instance->frame_mutex);
    instance->canvas_width = canvas.width;
    instance->canvas_height = canvas.height;
    in.target_valid = instance->target_valid;
    if (instance->target_valid) {
        in.target_center_x = instance->target_rect.center_x;
        in.target_center_y = instance->target_rect.center_y;
        in.target_width = instance->target_rect.width;
        in.target_height = instance->target_rect.height;
        in.target_frame_width = instance->target_frame_width;
        in.target_frame_height = instance->target_frame_height;
    }
    in.tags_lost = instance->tags_lost;
    in.tags_lost_since_ns = instance->tags_lost_since_ns;
    in.both_tags_seen = instance->both_tags_seen;
    in.frame_width = instance->frame_width;
    in.frame_height = instance->frame_height;
    return instance->frame_usable;
}

} // namespace

void video_tick(void *data, float seconds) {
    auto *instance = static_cast<filter_instance *>(data);
    if (!instance)
        return;

    const settings_snapshot settings = copy_settings(instance);
    zoom_inputs in{};
    in.hide_without_both_tags = settings.hide_without_both_tags;
    in.follow_half_life_ms = settings.follow_half_life_ms;
    in.seconds = seconds;
    // The host's clock serves only the hold window; smoothing follows `seconds`.
    in.now_ns = os_gettime_ns();
    {
        mutex_lock lock(instance->render_mutex);
        in.was_visible = instance->crop.crop_visibility > 0.0f;
    }

    // Untracked frames pass through whole and visible, whatever hiding says.
    if (!settings.enable_tracking) {
        publish_crop(instance, identity_crop());
        return;
    }
    if (!copy_tracking_inputs(instance, in)) {
        publish_crop(instance, identity_crop());
        return;
    }
    publish_crop(instance, zoom_step(instance->zoom, in));
}

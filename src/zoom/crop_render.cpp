#include "filter/filter_callbacks.h"
#include "filter/filter_instance.h"
#include "platform/threads.h"

#include <graphics/vec2.h>

void video_render(void *data, gs_effect_t *) {
    auto *instance = static_cast<filter_instance *>(data);
    if (!instance)
        return;
    if (!instance->crop_effect) {
        obs_source_skip_video_filter(instance->source);
        return;
    }

    crop_parameters crop;
    {
        mutex_lock lock(instance->render_mutex);
        crop = instance->crop;
    }

    // The host refuses when the filter has lost its parent or target (taken off
    // its source while a frame is drawn), where skipping would dereference the
    // missing parent, and when the target has no size, where it has skipped the
    // filter itself already.
    if (!obs_source_process_filter_begin(instance->source, GS_RGBA, OBS_NO_DIRECT_RENDERING))
        return;
    vec2 mul;
    vec2 add;
    vec2_set(&mul, crop.crop_scale_x, crop.crop_scale_y);
    vec2_set(&add, crop.crop_offset_x, crop.crop_offset_y);
    gs_effect_set_vec2(instance->param_mul_val, &mul);
    gs_effect_set_vec2(instance->param_add_val, &add);
    gs_effect_set_float(instance->param_visibility, crop.crop_visibility);
    obs_source_process_filter_end(instance->source, instance->crop_effect, 0, 0);
}

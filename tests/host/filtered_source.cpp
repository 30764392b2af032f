#include "filtered_source.h"
#include "platform/threads.h"

filtered_source::filtered_source(const char *name, obs_data_t *filter_settings)
    : parent_(create_test_source(name)),
      filter_(obs_source_create_private("pinvaler_filter", name, filter_settings)) {
    if (!parent_ || !filter_)
        return;
    obs_source_filter_add(parent_, filter_);
    obs_set_output_source(0, parent_);
}

filtered_source::~filtered_source() {
    obs_set_output_source(0, nullptr);
    if (parent_ && filter_)
        obs_source_filter_remove(parent_, filter_);
    obs_source_release(filter_);
    obs_source_release(parent_);
    obs_wait_for_destroy_queue();
}

filter_instance *filtered_source::instance() const {
    return filter_ ? static_cast<filter_instance *>(obs_obj_get_data(filter_)) : nullptr;
}

bool filtered_source::show(const rgb_picture &picture, video_format format) {
    push(picture, format);
    // One frame to take the new picture, one to be sure its drawing finished.
    return wait_for_host_frames(2) &&
           obs_source_get_width(parent_) == static_cast<uint32_t>(picture.width) &&
           obs_source_get_height(parent_) == static_cast<uint32_t>(picture.height);
}

crop_parameters filtered_source::crop() const {
    filter_instance *data = instance();
    mutex_lock lock(data->render_mutex);
    return data->crop;
}

bool same_crop(const crop_parameters &a, const crop_parameters &b) {
    return a.crop_scale_x == b.crop_scale_x && a.crop_scale_y == b.crop_scale_y &&
           a.crop_offset_x == b.crop_offset_x && a.crop_offset_y == b.crop_offset_y &&
           a.crop_visibility == b.crop_visibility;
}

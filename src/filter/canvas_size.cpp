#include "filter/canvas_size.h"
#include "platform/threads.h"

canvas_size host_canvas_size() {
    obs_video_info info{};
    if (!obs_get_video_info(&info))
        return {0, 0};
    return {info.base_width, info.base_height};
}

void publish_canvas_size(filter_instance *instance) {
    const canvas_size canvas = host_canvas_size();
    if (!instance->frame_mutex_ready)
        return;
    mutex_lock lock(instance->frame_mutex);
    instance->canvas_width = canvas.width;
    instance->canvas_height = canvas.height;
}

#include "filter/canvas_size.h"
#include "platform/threads.h"

void publish_canvas_size(filter_instance *instance) {
    obs_video_info info{};
    uint32_t width = 0;
    uint32_t height = 0;
    if (obs_get_video_info(&info)) {
        width = info.base_width;
        height = info.base_height;
    }
    if (!instance->frame_mutex_ready)
        return;
    mutex_lock lock(instance->frame_mutex);
    instance->canvas_width = width;
    instance->canvas_height = height;
}

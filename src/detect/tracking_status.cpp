#include "detect/tracking_status.h"
#include "platform/threads.h"

tracking_status status_after_pass(const tracking_status &before, bool any_tag, bool both_tags,
                                  uint64_t now_ns) {
    tracking_status after = before;
    if (both_tags) {
        // both_tags_seen waits for the crop target, which is published with it.
        after.tags_lost = false;
        return after;
    }
    if (!any_tag && !before.tags_lost)
        after.tags_lost_since_ns = now_ns;
    after.tags_lost = !any_tag;
    after.both_tags_seen = false;
    if (!any_tag)
        after.target_valid = false;
    return after;
}

canvas_size publish_status(filter_instance *instance, bool any_tag, bool both_tags,
                           uint64_t now_ns) {
    mutex_lock lock(instance->frame_mutex);
    const tracking_status before = {instance->tags_lost, instance->both_tags_seen,
                                    instance->tags_lost_since_ns, instance->target_valid};
    const tracking_status after = status_after_pass(before, any_tag, both_tags, now_ns);
    instance->tags_lost = after.tags_lost;
    instance->both_tags_seen = after.both_tags_seen;
    instance->tags_lost_since_ns = after.tags_lost_since_ns;
    instance->target_valid = after.target_valid;
    return {instance->canvas_width, instance->canvas_height};
}

void publish_target(filter_instance *instance, const crop_target &target, int32_t source_width,
                    int32_t source_height) {
    mutex_lock lock(instance->frame_mutex);
    instance->target_valid = target.valid;
    if (target.valid) {
        instance->target_rect = {target.center_x, target.center_y, target.width, target.height};
        instance->target_frame_width = source_width;
        instance->target_frame_height = source_height;
    }
    instance->both_tags_seen = true;
}

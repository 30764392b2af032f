#include "detect/detector_setup.h"
#include "detect/perf_window.h"
#include "filter/canvas_size.h"
#include "filter/filter_callbacks.h"
#include "filter/filter_instance.h"
#include "filter/settings_io.h"
#include "filter/settings_keys.h"
#include "platform/threads.h"

#include <util/platform.h>

namespace {

// The worker holds the detector mutex for a whole detection, so a running
// detection finishes with the old family and the next one uses the new one.
void switch_family(filter_instance *instance, settings_snapshot &next, int32_t old_family,
                   obs_data_t *settings) {
    apriltag_family_t *created = create_tag_family(next.tag_family);
    if (!created) {
        blog(LOG_ERROR, "Pinvale: failed to switch AprilTag family");
        next.tag_family = old_family;
        obs_data_set_int(settings, key_tag_family, old_family);
        return;
    }
    mutex_lock lock(instance->detector_mutex);
    if (instance->detector && instance->family)
        apriltag_detector_remove_family(instance->detector, instance->family);
    if (instance->family)
        destroy_tag_family(instance->family, old_family);
    instance->family = created;
    if (instance->detector)
        apriltag_detector_add_family(instance->detector, instance->family);
}

} // namespace

void filter_update(void *data, obs_data_t *settings) {
    auto *instance = static_cast<filter_instance *>(data);
    if (!instance)
        return;

    const settings_snapshot old = copy_settings(instance);
    settings_snapshot next = read_settings(instance, settings);

    if (next.tag_family != old.tag_family)
        switch_family(instance, next, old.tag_family, settings);

    if (instance->config_mutex_ready) {
        mutex_lock lock(instance->config_mutex);
        instance->settings = next;
    }

    publish_canvas_size(instance);

    const bool tracking_resumed = !old.enable_tracking && next.enable_tracking;
    const bool markers_changed = next.tag_family != old.tag_family ||
                                 next.tag_id_a != old.tag_id_a || next.tag_id_b != old.tag_id_b;
    if (tracking_resumed || markers_changed) {
        mutex_lock lock(instance->frame_mutex);
        instance->both_tags_seen = false;
    }

    if (next.perf_diagnostics != old.perf_diagnostics) {
        mutex_lock lock(instance->perf_mutex);
        open_perf_window(instance, next.perf_diagnostics ? os_gettime_ns() : 0);
    }
}

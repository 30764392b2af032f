#include "detect/detector_setup.h"
#include "detect/detector_worker.h"
#include "filter/canvas_size.h"
#include "filter/filter_callbacks.h"
#include "filter/filter_instance.h"
#include "filter/settings_io.h"
#include "module/module_text.h"
#include "platform/threads.h"

#include <cstdlib>
#include <cstring>
#include <util/platform.h>

namespace {

constexpr char crop_effect_file[] = "effects/pinvaler.effect";

void *fail_create(filter_instance *instance, const char *message) {
    blog(LOG_ERROR, "%s", message);
    filter_destroy(instance);
    return nullptr;
}

bool init_instance_mutex(pthread_mutex_t *mutex, bool *ready) {
    if (!mutex_init(mutex))
        return false;
    *ready = true;
    return true;
}

// Loads the crop effect and resolves its parameters once, so render never looks anything up.
void load_crop_effect(filter_instance *instance, const char *path, char **error_text) {
    obs_enter_graphics();
    instance->crop_effect = gs_effect_create_from_file(path, error_text);
    if (instance->crop_effect) {
        instance->param_mul_val = gs_effect_get_param_by_name(instance->crop_effect, "mul_val");
        instance->param_add_val = gs_effect_get_param_by_name(instance->crop_effect, "add_val");
        instance->param_visibility =
            gs_effect_get_param_by_name(instance->crop_effect, "visibility");
        if (!instance->param_mul_val || !instance->param_add_val || !instance->param_visibility) {
            blog(LOG_ERROR, "Pinvale: crop effect is missing a required parameter");
            gs_effect_destroy(instance->crop_effect);
            instance->crop_effect = nullptr;
        }
    }
    obs_leave_graphics();
}

void release_detection_frame(detection_frame &frame) {
    bfree(frame.data);
    frame = detection_frame{};
}

} // namespace

settings_snapshot copy_settings(filter_instance *instance) {
    settings_snapshot copy = default_settings_snapshot;
    if (instance->config_mutex_ready) {
        mutex_lock lock(instance->config_mutex);
        copy = instance->settings;
    }
    return copy;
}

void *filter_create(obs_data_t *settings, obs_source_t *source) {
    auto *instance = static_cast<filter_instance *>(bmalloc(sizeof(filter_instance)));
    if (!instance)
        return nullptr;
    std::memset(static_cast<void *>(instance), 0, sizeof(*instance));
    instance->source = source;

    instance->perf_from_env = perf_env_value_set(std::getenv("PINVALER_PERF"));

    instance->crop = identity_crop();
    instance->frame_usable = true;

    // After the environment read: the reader folds perf_from_env into the snapshot.
    const settings_snapshot snapshot = read_settings(instance, settings);

    if (!mutex_init(&instance->config_mutex))
        return fail_create(instance, "Pinvale: failed to initialize configuration mutex");
    instance->settings = snapshot;
    instance->config_mutex_ready = true;
    if (!init_instance_mutex(&instance->frame_mutex, &instance->frame_mutex_ready))
        return fail_create(instance, "Pinvale: failed to initialize frame mutex");
    if (!init_instance_mutex(&instance->detector_mutex, &instance->detector_mutex_ready))
        return fail_create(instance, "Pinvale: failed to initialize detector mutex");
    if (!init_instance_mutex(&instance->render_mutex, &instance->render_mutex_ready))
        return fail_create(instance, "Pinvale: failed to initialize render mutex");
    if (!mutex_init(&instance->perf_mutex))
        return fail_create(instance, "Pinvale: failed to initialize performance mutex");
    instance->schedule_fps = snapshot.detect_fps;
    instance->perf_mutex_ready = true;

    instance->family = create_tag_family(snapshot.tag_family);
    if (!instance->family)
        return fail_create(instance, "Pinvale: failed to create AprilTag family");
    instance->detector = apriltag_detector_create();
    if (!instance->detector)
        return fail_create(instance, "Pinvale: failed to create AprilTag detector");
    apriltag_detector_add_family(instance->detector, instance->family);

    const int logical = os_get_logical_cores();
    const int physical = os_get_physical_cores();
    instance->worker_threads = detector_thread_count(physical, logical);
    configure_detector(instance->detector, instance->worker_threads);

    char *effect_path = obs_find_module_file(plugin_module(), crop_effect_file);
    if (!effect_path)
        return fail_create(instance, "Pinvale: crop effect is missing from plugin resources");
    char *error_text = nullptr;
    load_crop_effect(instance, effect_path, &error_text);
    if (!instance->crop_effect) {
        const bool has_text = error_text && *error_text;
        blog(LOG_ERROR, "Pinvale: failed to load crop effect %s%s%s", effect_path,
             has_text ? ": " : "", has_text ? error_text : "");
        bfree(error_text);
        bfree(effect_path);
        filter_destroy(instance);
        return nullptr;
    }
    bfree(error_text);
    bfree(effect_path);

    publish_canvas_size(instance);

    if (!auto_event_create(&instance->detect_event))
        return fail_create(instance, "Pinvale: failed to create detector event");
    instance->detect_event_ready = true;

    {
        mutex_lock lock(instance->config_mutex);
        instance->worker_running = true;
    }
    if (!thread_start(&instance->worker_thread, detector_worker, instance)) {
        {
            mutex_lock lock(instance->config_mutex);
            instance->worker_running = false;
        }
        return fail_create(instance, "Pinvale: failed to start detector worker");
    }
    instance->worker_started = true;
    return instance;
}

void filter_destroy(void *data) {
    auto *instance = static_cast<filter_instance *>(data);
    if (!instance)
        return;

    if (instance->config_mutex_ready) {
        mutex_lock lock(instance->config_mutex);
        instance->worker_running = false;
    }
    // The worker is stopped before anything it uses is released.
    if (instance->worker_started) {
        if (instance->detect_event_ready)
            event_signal(instance->detect_event);
        thread_join(instance->worker_thread);
        instance->worker_started = false;
    }
    if (instance->detect_event_ready) {
        event_close(instance->detect_event);
        instance->detect_event_ready = false;
    }

    if (instance->frame_mutex_ready)
        pthread_mutex_lock(&instance->frame_mutex);
    release_detection_frame(instance->input_frame);
    release_detection_frame(instance->work_frame);
    if (instance->frame_mutex_ready)
        pthread_mutex_unlock(&instance->frame_mutex);

    // The detector drops its reference to the family, so it goes first.
    if (instance->detector)
        apriltag_detector_destroy(instance->detector);
    const settings_snapshot settings = copy_settings(instance);
    if (instance->family)
        destroy_tag_family(instance->family, settings.tag_family);

    if (instance->crop_effect) {
        obs_enter_graphics();
        gs_effect_destroy(instance->crop_effect);
        obs_leave_graphics();
    }

    if (instance->frame_mutex_ready)
        mutex_destroy(&instance->frame_mutex);
    if (instance->detector_mutex_ready)
        mutex_destroy(&instance->detector_mutex);
    if (instance->render_mutex_ready)
        mutex_destroy(&instance->render_mutex);
    if (instance->perf_mutex_ready)
        mutex_destroy(&instance->perf_mutex);
    if (instance->config_mutex_ready) {
        mutex_destroy(&instance->config_mutex);
        instance->config_mutex_ready = false;
    }
    bfree(instance);
}

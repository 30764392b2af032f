#pragma once

// A filter instance with what the frame, tick and render paths touch, made
// without the host's graphics (no effect, no worker): the callbacks' own cost
// is what the benchmarks measure.
#include "filter/filter_instance.h"
#include "platform/threads.h"

#include <cstring>

inline filter_instance *make_bench_instance(const settings_snapshot &settings) {
    auto *instance = static_cast<filter_instance *>(bzalloc(sizeof(filter_instance)));
    instance->settings = settings;
    instance->schedule_fps = settings.detect_fps;
    instance->frame_usable = true;
    instance->crop = identity_crop();
    instance->config_mutex_ready = mutex_init(&instance->config_mutex);
    instance->frame_mutex_ready = mutex_init(&instance->frame_mutex);
    instance->render_mutex_ready = mutex_init(&instance->render_mutex);
    instance->perf_mutex_ready = mutex_init(&instance->perf_mutex);
    instance->detect_event_ready = auto_event_create(&instance->detect_event);
    return instance;
}

inline void free_bench_instance(filter_instance *instance) {
    bfree(instance->input_frame.data);
    event_close(instance->detect_event);
    mutex_destroy(&instance->config_mutex);
    mutex_destroy(&instance->frame_mutex);
    mutex_destroy(&instance->render_mutex);
    mutex_destroy(&instance->perf_mutex);
    bfree(instance);
}

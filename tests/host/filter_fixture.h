#pragma once

#include "filter/filter_callbacks.h"
#include "filter/filter_instance.h"
#include "platform/threads.h"

#include <memory>
#include <obs.h>

struct data_release {
    void operator()(obs_data_t *data) const { obs_data_release(data); }
};
using data_ptr = std::unique_ptr<obs_data_t, data_release>;

// Host settings holding the filter type's defaults, as the host hands them to create.
inline data_ptr default_settings() {
    data_ptr settings(obs_data_create());
    filter_get_defaults(settings.get());
    return settings;
}

struct instance_destroy {
    void operator()(filter_instance *instance) const { filter_destroy(instance); }
};
using instance_ptr = std::unique_ptr<filter_instance, instance_destroy>;

// An instance made by calling the callbacks directly, not registered with the host.
inline instance_ptr create_instance(obs_data_t *settings, obs_source_t *source = nullptr) {
    return instance_ptr(static_cast<filter_instance *>(filter_create(settings, source)));
}

template <typename T, typename F>
T read_locked(pthread_mutex_t &mutex, F read) {
    mutex_lock lock(mutex);
    return read();
}

#pragma once

// The host headless with the built module loaded, and filter instances made through the filter's
// own create callback, for the benches that drive the callbacks themselves.
#include "filter/filter.h"
#include "filter/instance.h"
#include "host_support.h"
#include "module/module.h"

#include <mutex>

// A 1920x1080 canvas at 30 fps; needs an X display (xvfb-run -a).
inline bool start_bench_host(std::string &error) {
    if (!start_host({.canvas_width = 1920, .canvas_height = 1080, .fps = 30}, error))
        return false;
    obs_module_t *module = load_module(PINVALER_MODULE_PATH, PINVALER_DATA_DIR, error);
    if (!module)
        return false;
    // This binary's own copy of the plug-in finds its data files through the loaded module.
    obs_module_set_pointer(module);
    return true;
}

struct instance_destroy {
    void operator()(filter_instance *instance) const { filter_destroy(instance); }
};
using instance_ptr = std::unique_ptr<filter_instance, instance_destroy>;

// An instance from the create callback with the defaults and `edit` applied to its settings.
template <typename Edit>
instance_ptr create_bench_instance(Edit edit) {
    data_ptr settings(obs_data_create());
    filter_get_defaults(settings.get());
    edit(settings.get());
    return instance_ptr(static_cast<filter_instance *>(filter_create(settings.get(), nullptr)));
}

// Ends the instance's worker thread, so that the bench can play the worker's part itself and
// nothing detects in the background of a measurement.
inline void stop_worker(filter_instance &instance) {
    {
        std::lock_guard lock(instance.config.mutex);
        instance.config.worker_running = false;
    }
    instance.detect_event.signal();
    instance.worker_thread.join();
    std::lock_guard lock(instance.config.mutex);
    instance.config.worker_running = true; // the passes the bench runs itself check it
}

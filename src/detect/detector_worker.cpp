#include "detect/detector_worker.h"
#include "filter/filter_instance.h"
#include "platform/threads.h"

namespace {

// Returns false when the worker must end.
bool worker_should_run(filter_instance *instance) {
    if (!instance->config_mutex_ready)
        return false;
    mutex_lock lock(instance->config_mutex);
    return instance->worker_running;
}

} // namespace

void *detector_worker(void *data) {
    auto *instance = static_cast<filter_instance *>(data);
    os_set_thread_name("pinvaler-detect");
    for (;;) {
        event_wait(instance->detect_event);
        if (!worker_should_run(instance))
            return nullptr;
    }
}

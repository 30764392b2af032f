#include "detect/detector_worker.h"
#include "detect/detector_pass.h"
#include "filter/filter_instance.h"
#include "platform/threads.h"

#include <util/platform.h>

void *detector_worker(void *data) {
    auto *instance = static_cast<filter_instance *>(data);
    os_set_thread_name("pinvaler-detect");
    for (;;) {
        // No lock is held here: destroy signals this event after clearing the run flag.
        event_wait(instance->detect_event);
        if (run_detector_pass(instance) == pass_outcome::stop)
            return nullptr;
    }
}

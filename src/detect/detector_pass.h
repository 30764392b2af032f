#pragma once

#include "filter/filter_instance.h"

enum class pass_outcome {
    stop,      // the run flag is down: the worker ends
    skipped,   // tracking off, or no detectable work frame
    no_result, // the detector gave no result array
    published, // status (and with both tags the crop target) published
};

// One pass of the worker after a wake: settings, newest frame, detection,
// selection, publication. Callable on any record whose mutexes, detector
// and family exist.
pass_outcome run_detector_pass(filter_instance *instance);

#pragma once

#include "filter/filter_instance.h"

// Converts a due frame into the instance's input frame and wakes the worker.
void intake_frame(filter_instance *instance, const settings_snapshot &settings,
                  const obs_source_frame *frame);

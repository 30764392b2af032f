#pragma once

#include "filter/filter_instance.h"

// Detection images this tall cannot be searched by the detector; a frame that
// would need one is refused like a frame of invalid size.
inline constexpr int32_t max_detection_height = 32767;

// Converts a due frame into the instance's input frame and wakes the worker.
void intake_frame(filter_instance *instance, const settings_snapshot &settings,
                  const obs_source_frame *frame);

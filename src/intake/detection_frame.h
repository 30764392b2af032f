#pragma once

#include "filter/filter_instance.h"

// Makes `frame` hold a zero-filled width x height buffer, keeping the one it
// has when it already fits (contents and all fields untouched). On failure the
// old buffer and fields stay as they were.
bool ensure_detection_frame(detection_frame *frame, int32_t width, int32_t height);

struct detection_size {
    int32_t width;
    int32_t height;
};

// The detection image for a w x h source: at most `detect_width` wide, never
// wider than the source, the source's aspect ratio truncated, at least 1 x 1.
detection_size detection_size_for(int32_t source_width, int32_t source_height,
                                  int32_t detect_width);

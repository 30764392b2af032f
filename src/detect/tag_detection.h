#pragma once

#include "detect/tag_selection.h"
#include "filter/filter_instance.h"

// The detector library reads out of bounds on images under 4 pixels wide or
// high and asserts on 32768 or more either way.
inline constexpr int32_t smallest_detectable = 4;
inline constexpr int32_t largest_detectable = 32767;
bool detectable_size(int32_t width, int32_t height);

struct detection_run {
    zarray_t *detections; // null when the detector gave no result array
    uint64_t duration_ns; // 0 when not timed
    int32_t quads;
};

// One detection on the work frame under the detector mutex, so that a family
// switch waits for it. Timed only when asked.
detection_run detect_tags(filter_instance *instance, const detection_frame &work, bool timed);

// Tag A and tag B out of a result array, read in array order.
tag_pair_selection select_detected_tags(const zarray_t *detections, int32_t tag_id_a,
                                        int32_t tag_id_b);

#pragma once

// The detector run on windows of the detection image, and one pass as the planner laid it out.
// Host-free.
#include "detect/detector.h"
#include "detect/search_planner.h"
#include "detect/search_windows.h"

#include <apriltag.h>
#include <cstdint>

// Runs the detector on each window (overlapping ones merged first) through a header into the
// image's own pixels, no copy, and gathers one result array in window order, corners mapped back
// to image coordinates. A detection is kept only when all the detector read for it lies in the
// part of its window seen as in the whole picture. Windows outside the image or too small for
// the detector are skipped. `quads` sums the windows' quads; the array is null when the detector
// gave none for a window.
detection_run run_window_detection(apriltag_detector_t *detector, const image_u8_t &image,
                                   const window_set &windows, uint64_t (*clock)());

struct search_pass {
    detection_run run; // the array `tags` was read from; time and quads of the whole pass
    tag_pair_selection tags;
    bool searched_whole;
};

// One pass: the windows of a window plan, and the whole picture when the plan says so or the
// windows miss a marker. Null `run.detections` when the detector gave no result array.
search_pass run_search_pass(apriltag_detector_t *detector, const image_u8_t &image,
                            const search_plan &plan, int32_t tag_id_a, int32_t tag_id_b,
                            uint64_t (*clock)());

#pragma once

#include "detect/crop_geometry.h"
#include "rgba_image.h"

#include <apriltag.h>
#include <cstdint>

// What the tool's own detection found of one tag, in source pixels.
struct found_marker {
    bool found = false;
    float margin = 0.0f;
    float side = 0.0f; // mean side of the detected square
    float corners[4][2] = {};
};

struct marker_frame {
    found_marker a, b;
    double detect_ms = 0.0;
    crop_target expected{}; // where the plug-in's geometry puts the crop for this pair
};

// A detector set up exactly as the plug-in sets up its own.
struct marker_detector {
    apriltag_detector_t *detector = nullptr;
    apriltag_family_t *family = nullptr;
    int32_t tag_family = 0;
    int32_t tag_id_a = 0;
    int32_t tag_id_b = 1;
};

bool open_marker_detector(marker_detector &markers, int32_t tag_family, int32_t tag_id_a,
                          int32_t tag_id_b);
void close_marker_detector(marker_detector &markers);

// Detects on `luma` (the detection image of a source_width x source_height
// frame) with the plug-in's acceptance rule, and works out the crop the
// plug-in's geometry wants for the pair.
marker_frame detect_markers(marker_detector &markers, const grey_image &luma, int32_t source_width,
                            int32_t source_height, float padding, uint32_t canvas_width,
                            uint32_t canvas_height);

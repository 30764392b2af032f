#pragma once

#include "detect/crop_geometry.h"
#include "filter/settings.h"
#include "marker_scene.h"

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

// Detects on `luma` (the detection image of a source_width x source_height
// frame) with the plug-in's acceptance rule and the markers and padding of
// `filter`, and works out the crop the plug-in's geometry wants for the pair.
marker_frame detect_markers(const tag_detector &detector, const settings_snapshot &filter,
                            const grey_image &luma, int32_t source_width, int32_t source_height,
                            uint32_t canvas_width, uint32_t canvas_height);

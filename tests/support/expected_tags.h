#pragma once

// Where the detector should find a drawn marker, as the worker's own record.
#include "detect/crop_geometry.h"
#include "tag_scenes.h"

// The detector's corner order for an upright marker starts at the bottom left.
inline tag_quad expected_tag_quad(const apriltag_family_t *family, const scene_quad &outer) {
    const scene_quad q = marker_detect_corners(family, outer);
    const scene_point centre = quad_centre(q);
    tag_quad quad{static_cast<float>(centre.x), static_cast<float>(centre.y), {}};
    for (int i = 0; i < 4; ++i)
        quad.corners[i] = {static_cast<float>(q[3 - i].x), static_cast<float>(q[3 - i].y)};
    return quad;
}

// Detected corners may be off by this much, in detection pixels: measured at
// about 0.5 on these pictures (no edge refinement, blur and noise).
inline constexpr float corner_tolerance = 0.75f;

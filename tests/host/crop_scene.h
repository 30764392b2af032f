#pragma once

#include "detect/crop_geometry.h"
#include "test_picture.h"

#include <vector>

// One printed marker of the tag16h5 family, upright and on whole pixels: the
// top-left corner of its image (the white ring included) and the size of one
// of its 8 x 8 cells. A white margin of one more cell surrounds it.
struct scene_marker {
    int id;
    int32_t x;
    int32_t y;
    int32_t cell;
};

// A colour (or grey) picture with markers on a smooth background and a few
// round shapes, whose sharp edges show any error in where the crop samples
// but have no corners a detector could take for a marker.
struct crop_scene {
    rgb_picture picture;
    // Per marker, where the detector should find it, in picture pixels.
    std::vector<tag_quad> quads;
};

crop_scene draw_crop_scene(int32_t width, int32_t height, const std::vector<scene_marker> &markers,
                           bool grey);

// A quad in picture pixels moved to the pixels of a detection frame of the given size.
tag_quad to_detection_pixels(const tag_quad &quad, int32_t picture_width, int32_t picture_height,
                             int32_t detect_width, int32_t detect_height);

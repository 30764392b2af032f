#pragma once

#include "filter/settings.h"

#include <cstdint>

// One detected tag in detection-frame pixels: origin top-left, y downward.
struct tag_point {
    float x;
    float y;
};

// Corners in the detector's order, which runs around the tag.
struct tag_quad {
    float center_x;
    float center_y;
    tag_point corners[4];
};

// The wanted crop in source pixels. When valid, all four edges are whole
// numbers inside the source and the size is positive.
struct crop_target {
    bool valid;
    float center_x;
    float center_y;
    float width;
    float height;
};

// The corner lying farthest from the quad's centre in the direction of the
// target point; the centre itself when the target sits on it.
tag_point tag_inner_corner(const tag_quad &quad, float target_x, float target_y);

float tag_mean_side(const tag_quad &quad);

// Box in detection pixels to a crop in source pixels with the given aspect,
// narrowed by inset source pixels on the left and right. True exactly when a
// valid target was written; out->valid is false otherwise.
bool crop_rect_from_box(float min_x, float min_y, float max_x, float max_y, int32_t detect_width,
                        int32_t detect_height, int32_t source_width, int32_t source_height,
                        float aspect, float inset, crop_target *out);

// The crop spanning the facing corners of two tags. canvas_width and
// canvas_height are the host's canvas base size read on a host thread, 0 when
// unavailable; the worker must not query the host for them itself. With the
// source's shape the canvas plays no part: the crop takes the source's aspect,
// so that drawn at the source's size it is not stretched.
crop_target crop_target_from_pair(const tag_quad &tag_a, const tag_quad &tag_b,
                                  int32_t detect_width, int32_t detect_height, int32_t source_width,
                                  int32_t source_height, float padding, uint32_t canvas_width,
                                  uint32_t canvas_height, crop_shape_kind shape);

#pragma once

// Where a pass looks for markers whose last corners it knows: windows of the detection image,
// each the marker's box grown by a margin and aligned to the detector's threshold tiles. Pure
// geometry, host-free.
#include "detect/crop_geometry.h"

#include <array>
#include <cstddef>
#include <cstdint>

// The detector thresholds each 4x4 tile against the extremes of the 3x3 tiles around it. In a
// window whose edges lie on tile edges, every tile but the outer ring sees the same 3x3 tiles as
// in the whole picture.
inline constexpr int32_t threshold_tile = 4;

// [left, right) x [top, bottom), in detection pixels.
struct pixel_rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;

    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
    bool operator==(const pixel_rect &) const = default;
};

// Box of a quad's corners, in the detector's continuous pixel coordinates (pixel i spans
// [i, i + 1)), and its longest side.
struct quad_extent {
    double min_x;
    double min_y;
    double max_x;
    double max_y;
    double longest_side;
};

quad_extent extent_of(const tag_quad &quad);
quad_extent extent_of(const double corners[4][2]);

// How far the detector reads around the quad it fits, from the family's layout: the quad spans
// `quad_cells` cells and the marker as the library draws it has `outside_cells` more on each
// side (16h5: 6 and 1, the white ring; Circle21h7: 5 and 2, the black ring and the outer bits).
struct marker_reach {
    int32_t quad_cells;
    int32_t outside_cells;
};

marker_reach reach_of_family(int32_t width_at_border, int32_t total_width);

// Marker speed a window covers between two detections, in marker sides per second; a marker
// side being the marker as the library draws it (quad and outer cells). The preview's scene
// moves its markers at up to about 2 sides per second outside its jumps; faster moves cost a
// whole-picture search in the same pass, not a lost marker.
inline constexpr double expected_sides_per_second = 2.5;

// Pixels a window reaches beyond the quad's box: the marker's outer cells and one pixel of
// neighbours the detector reads, the motion expected over `interval_s`, and the outer tile ring.
int32_t window_margin(const quad_extent &extent, const marker_reach &reach, double interval_s);

// The quad's box grown by `margin`, widened outward onto tile edges and clipped to the image.
pixel_rect window_around(const quad_extent &extent, int32_t margin, int32_t image_width,
                         int32_t image_height);

// The part of a window thresholded, clustered and read as in the whole picture: all but its
// outer tile ring, except along the image's own edges.
pixel_rect exact_part(const pixel_rect &window, int32_t image_width, int32_t image_height);

// Whether everything the detector read for a quad (the marker with its outer cells, plus a pixel)
// lies in `region`.
bool marker_inside(const quad_extent &extent, const marker_reach &reach, const pixel_rect &region);

inline constexpr size_t max_windows = 2;

struct window_set {
    std::array<pixel_rect, max_windows> rects{};
    size_t count = 0;
};

// Replaces overlapping windows by their bounding box until no two overlap, so that no pixel is
// searched twice and no marker reported twice. Order: each merged window takes the place of the
// first of its parts.
void merge_overlapping(window_set &set);

int64_t total_area(const window_set &set);

#include "detect/search_windows.h"

#include <algorithm>
#include <cmath>

namespace {

// Far beyond any image the detector accepts (32767), and still safe to convert to int32_t.
constexpr int32_t coordinate_limit = 1'000'000;

int32_t to_pixel(double value) {
    if (std::isnan(value))
        return 0;
    return static_cast<int32_t>(
        std::floor(std::clamp(value, -1.0 * coordinate_limit, 1.0 * coordinate_limit)));
}

int32_t tile_floor(int32_t value) {
    return (value >= 0 ? value : value - (threshold_tile - 1)) / threshold_tile * threshold_tile;
}

int32_t tile_ceil(int32_t value) {
    return -tile_floor(-value);
}

// What the detector reads outside the quad's box, in pixels: the outer cells, and the neighbour
// pixel that bilinear sampling, gradients and 8-connectivity look at.
double outer_reach(const quad_extent &extent, const marker_reach &reach) {
    const double cell = extent.longest_side / std::max(reach.quad_cells, 1);
    return reach.outside_cells * cell + 1.0;
}

bool overlap(const pixel_rect &a, const pixel_rect &b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

} // namespace

quad_extent extent_of(const double corners[4][2]) {
    quad_extent e{corners[0][0], corners[0][1], corners[0][0], corners[0][1], 0.0};
    for (int i = 0; i < 4; ++i) {
        const double *p = corners[i];
        const double *q = corners[(i + 1) % 4];
        e.min_x = std::min(e.min_x, p[0]);
        e.min_y = std::min(e.min_y, p[1]);
        e.max_x = std::max(e.max_x, p[0]);
        e.max_y = std::max(e.max_y, p[1]);
        e.longest_side = std::max(e.longest_side, std::hypot(q[0] - p[0], q[1] - p[1]));
    }
    // min and max would quietly drop a NaN corner.
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(corners[i][0]) || !std::isfinite(corners[i][1]))
            e.min_x = e.min_y = e.max_x = e.max_y = e.longest_side = std::nan("");
    return e;
}

quad_extent extent_of(const tag_quad &quad) {
    double corners[4][2];
    for (int i = 0; i < 4; ++i) {
        corners[i][0] = static_cast<double>(quad.corners[i].x);
        corners[i][1] = static_cast<double>(quad.corners[i].y);
    }
    return extent_of(corners);
}

marker_reach reach_of_family(int32_t width_at_border, int32_t total_width) {
    return {width_at_border, std::max(0, (total_width - width_at_border + 1) / 2)};
}

int32_t window_margin(const quad_extent &extent, const marker_reach &reach, double interval_s) {
    const double cells = std::max(reach.quad_cells, 1);
    const double marker_side = extent.longest_side * (cells + 2.0 * reach.outside_cells) / cells;
    const double motion = expected_sides_per_second * marker_side * std::max(interval_s, 0.0);
    const double margin = std::ceil(outer_reach(extent, reach) + motion);
    // A quad with a non-finite corner gives no usable box: the window becomes the whole image.
    if (!(margin < coordinate_limit))
        return coordinate_limit;
    return static_cast<int32_t>(margin) + threshold_tile;
}

pixel_rect window_around(const quad_extent &extent, int32_t margin, int32_t image_width,
                         int32_t image_height) {
    const auto m = static_cast<int64_t>(std::max(margin, 0));
    const auto grow = [](int32_t v, int64_t by) {
        return static_cast<int32_t>(
            std::clamp<int64_t>(v + by, -coordinate_limit, coordinate_limit));
    };
    pixel_rect r{tile_floor(grow(to_pixel(extent.min_x), -m)),
                 tile_floor(grow(to_pixel(extent.min_y), -m)),
                 tile_ceil(grow(to_pixel(extent.max_x), m + 1)),
                 tile_ceil(grow(to_pixel(extent.max_y), m + 1))};
    r.left = std::clamp(r.left, 0, image_width);
    r.top = std::clamp(r.top, 0, image_height);
    r.right = std::clamp(r.right, 0, image_width);
    r.bottom = std::clamp(r.bottom, 0, image_height);
    return r;
}

pixel_rect exact_part(const pixel_rect &window, int32_t image_width, int32_t image_height) {
    return {window.left > 0 ? tile_ceil(window.left) + threshold_tile : 0,
            window.top > 0 ? tile_ceil(window.top) + threshold_tile : 0,
            window.right < image_width ? tile_floor(window.right) - threshold_tile : image_width,
            window.bottom < image_height ? tile_floor(window.bottom) - threshold_tile
                                         : image_height};
}

bool marker_inside(const quad_extent &extent, const marker_reach &reach, const pixel_rect &region) {
    const double d = outer_reach(extent, reach);
    // Written so that a NaN corner fails every comparison and counts as outside.
    return std::floor(extent.min_x - d) >= region.left &&
           std::floor(extent.min_y - d) >= region.top &&
           std::floor(extent.max_x + d) < region.right &&
           std::floor(extent.max_y + d) < region.bottom;
}

void merge_overlapping(window_set &set) {
    bool merged = true;
    while (merged) {
        merged = false;
        for (size_t i = 0; i < set.count && !merged; ++i) {
            for (size_t j = i + 1; j < set.count && !merged; ++j) {
                pixel_rect &a = set.rects[i];
                const pixel_rect &b = set.rects[j];
                if (a.empty() || b.empty() || !overlap(a, b))
                    continue;
                a = {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                     std::max(a.bottom, b.bottom)};
                std::copy(set.rects.begin() + static_cast<std::ptrdiff_t>(j + 1),
                          set.rects.begin() + static_cast<std::ptrdiff_t>(set.count),
                          set.rects.begin() + static_cast<std::ptrdiff_t>(j));
                --set.count;
                merged = true;
            }
        }
    }
}

int64_t total_area(const window_set &set) {
    int64_t area = 0;
    for (size_t i = 0; i < set.count; ++i)
        if (!set.rects[i].empty())
            area += static_cast<int64_t>(set.rects[i].width()) * set.rects[i].height();
    return area;
}

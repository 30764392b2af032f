#include "marker_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Small, fixed generator (xorshift) so that pictures are the same on every machine.
struct scene_random {
    uint32_t state;
    int between(int low, int high) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return low + static_cast<int>(state % static_cast<uint32_t>(high - low + 1));
    }
};

uint8_t clamp_grey(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// The x-extent of a convex quad within the horizontal band y0..y1 (empty when it misses it).
std::pair<double, double> band_extent(const scene_point (&quad)[4], double y0, double y1) {
    double low = 1e300, high = -1e300;
    const auto take = [&](double x) { low = std::min(low, x), high = std::max(high, x); };
    for (int i = 0; i < 4; ++i) {
        const scene_point &a = quad[i], &b = quad[(i + 1) % 4];
        if (a.y >= y0 && a.y <= y1)
            take(a.x);
        for (const double y : {y0, y1})
            if ((a.y - y) * (b.y - y) < 0)
                take(a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y));
    }
    return {low, high};
}

// Coverage of each pixel by the marker sheet: how many of 4x4 samples fall on it, and the sum
// of their shades; outside samples keep the picture. A pixel whose four corners lie in one
// module (modules are convex, so the whole pixel does) takes that module's shade at once.
template <typename Pixel>
void draw_sheet(int32_t width, int32_t height, Pixel pixel, const marker_pattern &pattern,
                const scene_quad &grid, double margin, uint8_t ink, uint8_t paper, float lamp) {
    const homography to_image = homography::to_quad(grid), to_marker = to_image.inverse();
    const int32_t cells = pattern.modules;
    const double q = margin / cells;
    const scene_point sheet[4] = {to_image.map(-q, -q), to_image.map(1 + q, -q),
                                  to_image.map(1 + q, 1 + q), to_image.map(-q, 1 + q)};
    double y0 = 1e300, y1 = -1e300;
    for (const scene_point &c : sheet)
        y0 = std::min(y0, std::floor(c.y)), y1 = std::max(y1, std::ceil(c.y));
    const auto shade_at = [&](const scene_point &uv, int32_t cx, int32_t cy) {
        const bool on_grid = cx >= 0 && cy >= 0 && cx < cells && cy < cells;
        const bool is_ink = on_grid && pattern.dark[static_cast<size_t>(cy * cells + cx)];
        const double across = (uv.x + uv.y + 2 * q) / (1 + 2 * q) * 0.5;
        return (is_ink ? ink : paper) * (1.0 - static_cast<double>(lamp) * across);
    };
    const auto in_sheet = [&](const scene_point &uv) {
        return uv.x >= -q && uv.y >= -q && uv.x < 1 + q && uv.y < 1 + q;
    };
    const auto cell_of = [&](double u) { return static_cast<int32_t>(std::floor(u * cells)); };
    const int32_t y_from = static_cast<int32_t>(std::clamp(y0, 0.0, 1.0 * height));
    const int32_t y_to = static_cast<int32_t>(std::clamp(y1, -1.0, height - 1.0));
    for (int32_t y = y_from; y <= y_to; ++y) {
        const auto [low, high] = band_extent(sheet, y, y + 1.0);
        const int32_t x_from = static_cast<int32_t>(std::clamp(std::floor(low), 0.0, 1.0 * width));
        const int32_t x_to = static_cast<int32_t>(std::clamp(std::ceil(high), -1.0, width - 1.0));
        for (int32_t x = x_from; x <= x_to; ++x) {
            const scene_point corners[4] = {to_marker.map(x, y), to_marker.map(x + 1, y),
                                            to_marker.map(x, y + 1), to_marker.map(x + 1, y + 1)};
            const int32_t cx = cell_of(corners[0].x), cy = cell_of(corners[0].y);
            bool uniform = true;
            for (const scene_point &c : corners)
                uniform = uniform && in_sheet(c) && cell_of(c.x) == cx && cell_of(c.y) == cy;
            if (uniform) {
                const scene_point middle = to_marker.map(x + 0.5, y + 0.5);
                pixel(x, y, 16 * shade_at(middle, cx, cy), 16);
                continue;
            }
            double shade = 0.0;
            int inside = 0;
            for (int s = 0; s < 16; ++s) {
                const scene_point uv = to_marker.map(x + (s % 4 + 0.5) / 4, y + (s / 4 + 0.5) / 4);
                if (!in_sheet(uv))
                    continue;
                ++inside;
                shade += shade_at(uv, cell_of(uv.x), cell_of(uv.y));
            }
            if (inside)
                pixel(x, y, shade, inside);
        }
    }
}

// Background clutter: a soft gradient with random grey rectangles, whose edges give the detector
// quad candidates to reject.
void fill_texture(grey_image &image, uint32_t seed) {
    scene_random random{seed | 1u};
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x)
            image.at(x, y) = clamp_grey(90.0 + 60.0 * x / image.width + 30.0 * y / image.height +
                                        12.0 * std::sin(x * 0.05) * std::cos(y * 0.07));
    for (int i = 0, n = std::max(8, image.width * image.height / 12000); i < n; ++i) {
        const int w = random.between(6, std::max(6, image.width / 8));
        const int h = random.between(6, std::max(6, image.height / 8));
        const int left = random.between(0, std::max(0, image.width - w));
        const int top = random.between(0, std::max(0, image.height - h));
        const auto grey = static_cast<uint8_t>(random.between(40, 220));
        for (int y = top; y < std::min(image.height, top + h); ++y)
            std::fill_n(&image.at(left, y), std::min(image.width, left + w) - left, grey);
    }
}

// Uniform noise of +-amplitude grey levels, clamped.
void add_noise(grey_image &image, uint32_t seed, int amplitude) {
    scene_random random{seed | 1u};
    for (uint8_t &pixel : image.pixels)
        pixel = clamp_grey(pixel + random.between(-amplitude, amplitude));
}

// One pass of the 1-2-1 kernel in each direction: a mild blur.
void blur_121(grey_image &image) {
    if (image.width < 3 || image.height < 3)
        return;
    // Rows first, then columns, each pass from a copy of the picture before it.
    for (int dy = 0; dy < 2; ++dy) {
        const grey_image c = image;
        const int dx = 1 - dy;
        for (int y = dy; y < image.height - dy; ++y)
            for (int x = dx; x < image.width - dx; ++x)
                image.at(x, y) = static_cast<uint8_t>(
                    (c.at(x - dx, y - dy) + 2 * c.at(x, y) + c.at(x + dx, y + dy) + 2) / 4);
    }
}

// An upright square with its top edge narrowed by `keystone` (a fraction of the side, split
// between both ends): a mild perspective tilt.
scene_quad square_quad(double left, double top, double side, double keystone = 0.0) {
    const double pinch = side * keystone * 0.5;
    return {{{left + pinch, top},
             {left + side - pinch, top},
             {left + side, top + side},
             {left, top + side}}};
}

} // namespace

rgba_image::rgba_image(const grey_image &grey) : rgba_image(grey.width, grey.height) {
    for (size_t i = 0; i < grey.pixels.size(); ++i) {
        std::memset(&pixels[i * 4], grey.pixels[i], 3);
        pixels[i * 4 + 3] = 255;
    }
}

homography homography::to_quad(const scene_quad &q) {
    const double dx1 = q[1].x - q[2].x, dx2 = q[3].x - q[2].x;
    const double dx3 = q[0].x - q[1].x + q[2].x - q[3].x;
    const double dy1 = q[1].y - q[2].y, dy2 = q[3].y - q[2].y;
    const double dy3 = q[0].y - q[1].y + q[2].y - q[3].y;
    const double den = dx1 * dy2 - dx2 * dy1;
    const double g = (dx3 * dy2 - dx2 * dy3) / den, h = (dx1 * dy3 - dx3 * dy1) / den;
    return {{q[1].x - q[0].x + g * q[1].x, q[3].x - q[0].x + h * q[3].x, q[0].x,
             q[1].y - q[0].y + g * q[1].y, q[3].y - q[0].y + h * q[3].y, q[0].y, g, h, 1.0}};
}

homography homography::inverse() const {
    const double c0 = m[4] * m[8] - m[5] * m[7], c1 = m[5] * m[6] - m[3] * m[8];
    const double c2 = m[3] * m[7] - m[4] * m[6];
    const double r = 1.0 / (m[0] * c0 + m[1] * c1 + m[2] * c2);
    return {{c0 * r, (m[2] * m[7] - m[1] * m[8]) * r, (m[1] * m[5] - m[2] * m[4]) * r, c1 * r,
             (m[0] * m[8] - m[2] * m[6]) * r, (m[2] * m[3] - m[0] * m[5]) * r, c2 * r,
             (m[1] * m[6] - m[0] * m[7]) * r, (m[0] * m[4] - m[1] * m[3]) * r}};
}

scene_point homography::map(double u, double v) const {
    const double w = m[6] * u + m[7] * v + m[8];
    return {(m[0] * u + m[1] * v + m[2]) / w, (m[3] * u + m[4] * v + m[5]) / w};
}

std::optional<marker_pattern> marker_pattern_of(const apriltag_family_t *family, int id,
                                                bool printed) {
    if (!family || id < 0 || static_cast<uint32_t>(id) >= family->ncodes)
        return std::nullopt;
    image_u8_t *image =
        apriltag_to_image(const_cast<apriltag_family_t *>(family), static_cast<uint32_t>(id));
    if (!image)
        return std::nullopt;
    marker_pattern pattern;
    const int32_t size = static_cast<int32_t>(family->total_width);
    const int32_t border = static_cast<int32_t>(family->width_at_border);
    pattern.modules = size;
    pattern.quad_first = (size - border) / 2;
    pattern.quad_modules = border;
    // Printed, only the black square and the data bits carry ink.
    std::vector<uint8_t> meaningful(static_cast<size_t>(size * size), !printed);
    const int32_t square = border + (family->reversed_border ? 2 : 0);
    const int32_t black_first = (size - square) / 2;
    for (int32_t y = black_first; y < black_first + square; ++y)
        for (int32_t x = black_first; x < black_first + square; ++x)
            meaningful[static_cast<size_t>(y * size + x)] = 1;
    for (uint32_t i = 0; i < family->nbits; ++i)
        meaningful[static_cast<size_t>(
            (static_cast<int32_t>(family->bit_y[i]) + pattern.quad_first) * size +
            static_cast<int32_t>(family->bit_x[i]) + pattern.quad_first)] = 1;
    pattern.dark.resize(static_cast<size_t>(size * size));
    for (int32_t y = 0; y < size; ++y)
        for (int32_t x = 0; x < size; ++x)
            pattern.dark[static_cast<size_t>(y * size + x)] =
                meaningful[static_cast<size_t>(y * size + x)] &&
                image->buf[y * image->stride + x] < 128;
    // Debian's library does not export the image's destroy function.
    free(image->buf);
    free(image);
    return pattern;
}

void draw_marker(grey_image &image, const marker_pattern &pattern, const scene_quad &grid,
                 double margin, uint8_t ink, uint8_t paper, float lamp) {
    draw_sheet(
        image.width, image.height,
        [&](int32_t x, int32_t y, double shade, int inside) {
            image.at(x, y) = clamp_grey((shade + (16 - inside) * image.at(x, y)) / 16);
        },
        pattern, grid, margin, ink, paper, lamp);
}

void draw_marker(rgba_image &image, const marker_pattern &pattern, const scene_quad &grid,
                 double margin, uint8_t ink, uint8_t paper, float lamp) {
    draw_sheet(
        image.width, image.height,
        [&](int32_t x, int32_t y, double shade, int inside) {
            uint8_t *p = image.at(x, y);
            for (int c = 0; c < 3; ++c)
                p[c] = clamp_grey((shade + (16 - inside) * p[c]) / 16);
        },
        pattern, grid, margin, ink, paper, lamp);
}

scene_quad marker_detect_corners(const marker_pattern &pattern, const scene_quad &grid) {
    const homography h = homography::to_quad(grid);
    const double a = static_cast<double>(pattern.quad_first) / pattern.modules;
    const double b =
        static_cast<double>(pattern.quad_first + pattern.quad_modules) / pattern.modules;
    return {{h.map(a, a), h.map(b, a), h.map(b, b), h.map(a, b)}};
}

scene_point quad_centre(const scene_quad &quad) {
    return homography::to_quad(quad).map(0.5, 0.5);
}

scene_picture make_tag_scene(tag_family_kind family, tag_scene kind, int32_t width,
                             int32_t height) {
    scene_picture scene{grey_image(width, height, 128), {}};
    fill_texture(scene.image, 7);
    const double s = width / 960.0;
    const placed_marker a{0, square_quad(150 * s, 120 * s, 96 * s, 0.06)};
    const placed_marker b{1, square_quad(700 * s, 360 * s, 96 * s, 0.04)};
    const placed_marker distractor{2, square_quad(450 * s, 60 * s, 80 * s)};
    const bool faint = kind == tag_scene::low_contrast;
    if (kind == tag_scene::pair || faint)
        scene.markers = {a, b, distractor};
    else if (kind == tag_scene::only_b)
        scene.markers = {b, distractor};
    else if (kind == tag_scene::too_close)
        scene.markers = {{0, square_quad(300 * s, 200 * s, 96 * s)},
                         {1, square_quad(400 * s, 200 * s, 96 * s)},
                         distractor};
    // Four pixels between the close pair: a margin would overlap the other marker's outer cells,
    // which hold data bits in the circle family.
    const double margin = kind == tag_scene::too_close ? 0.0 : 1.0;
    const tag_family_handle tags(family);
    for (const placed_marker &marker : scene.markers)
        if (const auto pattern = marker_pattern_of(tags.get(), marker.id, false))
            draw_marker(scene.image, *pattern, marker.grid, margin, faint ? 118 : 20,
                        faint ? 134 : 235);
    blur_121(scene.image);
    add_noise(scene.image, 3, 6);
    return scene;
}

tag_quad expected_tag_quad(tag_family_kind family, const scene_quad &grid) {
    const tag_family_handle tags(family);
    const scene_quad q = marker_detect_corners(*marker_pattern_of(tags.get(), 0, false), grid);
    const scene_point centre = quad_centre(q);
    tag_quad quad{static_cast<float>(centre.x), static_cast<float>(centre.y), {}};
    for (int i = 0; i < 4; ++i)
        quad.corners[i] = {static_cast<float>(q[3 - i].x), static_cast<float>(q[3 - i].y)};
    return quad;
}

tag_detector::tag_detector(tag_family_kind kind, int32_t threads)
    : family(kind), detector(make_detector(threads)) {
    register_family(detector.get(), nullptr, family.get());
}

image_u8_t image_header(const grey_image &image) {
    return {image.width, image.height, image.width, const_cast<uint8_t *>(image.pixels.data())};
}

std::vector<apriltag_detection_t> tag_detector::detect(const grey_image &image) const {
    const detection_run run = run_detection(detector.get(), image_header(image), nullptr);
    std::vector<apriltag_detection_t> found;
    for (int i = 0; i < zarray_size(run.detections.get()); ++i) {
        apriltag_detection_t *d = nullptr;
        zarray_get(run.detections.get(), i, &d);
        found.push_back(*d);
    }
    return found;
}

#include "tag_scenes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Small, fixed generator (xorshift) so that pictures are the same on every machine.
struct scene_random {
    uint32_t state;
    int between(int low, int high) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return low + static_cast<int>(state % (high - low + 1));
    }
};

// The projective map taking the unit square's corners (0,0), (1,0), (1,1),
// (0,1) onto a quad's four points, in that order.
struct homography {
    double m[9];
    scene_point map(double u, double v) const {
        const double w = m[6] * u + m[7] * v + m[8];
        return {(m[0] * u + m[1] * v + m[2]) / w, (m[3] * u + m[4] * v + m[5]) / w};
    }
};

uint8_t clamp_grey(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

homography inverse(const homography &h) {
    const double *m = h.m;
    const double c0 = m[4] * m[8] - m[5] * m[7], c1 = m[5] * m[6] - m[3] * m[8];
    const double c2 = m[3] * m[7] - m[4] * m[6];
    const double r = 1.0 / (m[0] * c0 + m[1] * c1 + m[2] * c2);
    return {{c0 * r, (m[2] * m[7] - m[1] * m[8]) * r, (m[1] * m[5] - m[2] * m[4]) * r, c1 * r,
             (m[0] * m[8] - m[2] * m[6]) * r, (m[2] * m[3] - m[0] * m[5]) * r, c2 * r,
             (m[1] * m[6] - m[0] * m[7]) * r, (m[0] * m[4] - m[1] * m[3]) * r}};
}

homography homography_to_quad(const scene_quad &q) {
    const double dx1 = q[1].x - q[2].x, dx2 = q[3].x - q[2].x;
    const double dx3 = q[0].x - q[1].x + q[2].x - q[3].x;
    const double dy1 = q[1].y - q[2].y, dy2 = q[3].y - q[2].y;
    const double dy3 = q[0].y - q[1].y + q[2].y - q[3].y;
    const double den = dx1 * dy2 - dx2 * dy1;
    const double g = (dx3 * dy2 - dx2 * dy3) / den, h = (dx1 * dy3 - dx3 * dy1) / den;
    return {{q[1].x - q[0].x + g * q[1].x, q[3].x - q[0].x + h * q[3].x, q[0].x,
             q[1].y - q[0].y + g * q[1].y, q[3].y - q[0].y + h * q[3].y, q[0].y, g, h, 1.0}};
}

// An upright square with its top edge narrowed by `keystone` (a fraction of
// the side, split between both ends): a mild perspective tilt.
scene_quad square_quad(double left, double top, double side, double keystone = 0.0) {
    const double pinch = side * keystone * 0.5;
    return {{{left + pinch, top},
             {left + side - pinch, top},
             {left + side, top + side},
             {left, top + side}}};
}

// The marker image of `id`, drawn onto the quad `outer` with anti-aliased edges,
// its black as `dark` and its white as `light`, in a white margin of
// `quiet_cells` cells as on a printed sheet.
void draw_marker(gray_image &image, apriltag_family_t *family, int id, const scene_quad &outer,
                 uint8_t dark, uint8_t light, double quiet_cells) {
    image_u8_t *bitmap = apriltag_to_image(family, id);
    if (!bitmap)
        return;
    const int cells = bitmap->width;
    const homography to_image = homography_to_quad(outer), to_marker = inverse(to_image);
    const double q = quiet_cells / cells;
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (const scene_point c : {to_image.map(-q, -q), to_image.map(1 + q, -q),
                                to_image.map(1 + q, 1 + q), to_image.map(-q, 1 + q)}) {
        x0 = std::min(x0, std::floor(c.x)), y0 = std::min(y0, std::floor(c.y));
        x1 = std::max(x1, std::ceil(c.x)), y1 = std::max(y1, std::ceil(c.y));
    }
    const int w = image.width, h = image.height;
    // Four by four samples per pixel give the edges their partial coverage.
    for (int y = int(std::clamp(y0, 0.0, 1.0 * h)); y <= int(std::clamp(y1, -1.0, h - 1.0)); ++y)
        for (int x = int(std::clamp(x0, 0.0, 1.0 * w)); x <= int(std::clamp(x1, -1.0, w - 1.0));
             ++x) {
            double sum = 0.0;
            for (int s = 0; s < 16; ++s) {
                const scene_point uv = to_marker.map(x + (s % 4 + 0.5) / 4, y + (s / 4 + 0.5) / 4);
                if (uv.x < -q || uv.y < -q || uv.x >= 1 + q || uv.y >= 1 + q) {
                    sum += image.at(x, y);
                    continue;
                }
                const int cx = int(std::floor(uv.x * cells)), cy = int(std::floor(uv.y * cells));
                const bool inside = cx >= 0 && cy >= 0 && cx < cells && cy < cells;
                sum += !inside || bitmap->buf[cy * bitmap->stride + cx] > 127 ? light : dark;
            }
            image.at(x, y) = clamp_grey(sum / 16);
        }
    // Debian's library does not export the image's destroy function.
    free(bitmap->buf);
    free(bitmap);
}

// Background clutter: a soft gradient with random grey rectangles, whose
// edges give the detector quad candidates to reject.
void fill_texture(gray_image &image, uint32_t seed) {
    scene_random random{seed | 1u};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
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
void add_noise(gray_image &image, uint32_t seed, int amplitude) {
    scene_random random{seed | 1u};
    for (uint8_t &pixel : image.pixels)
        pixel = clamp_grey(pixel + random.between(-amplitude, amplitude));
}

// One pass of the 1-2-1 kernel in each direction: a mild blur.
void blur_121(gray_image &image) {
    if (image.width < 3 || image.height < 3)
        return;
    // Rows first, then columns, each pass from a copy of the picture before it.
    for (int dy = 0; dy < 2; ++dy) {
        const gray_image c = image;
        const int dx = 1 - dy;
        for (int y = dy; y < image.height - dy; ++y)
            for (int x = dx; x < image.width - dx; ++x)
                image.at(x, y) = static_cast<uint8_t>(
                    (c.at(x - dx, y - dy) + 2 * c.at(x, y) + c.at(x + dx, y + dy) + 2) / 4);
    }
}

} // namespace

gray_image::gray_image(int w, int h, uint8_t fill)
    : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}

scene_quad marker_detect_corners(const apriltag_family_t *family, const scene_quad &outer) {
    const homography h = homography_to_quad(outer);
    const double b = (family->total_width - family->width_at_border) * 0.5 / family->total_width;
    return {{h.map(b, b), h.map(1.0 - b, b), h.map(1.0 - b, 1.0 - b), h.map(b, 1.0 - b)}};
}

scene_point quad_centre(const scene_quad &quad) {
    return homography_to_quad(quad).map(0.5, 0.5);
}

scene_picture make_tag_scene(apriltag_family_t *family, tag_scene kind, int width, int height) {
    scene_picture scene{gray_image(width, height, 128), {}};
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
    // Four pixels between the close pair: a margin would overlap the other
    // marker's outer cells, which hold data bits in the circle family.
    const double quiet_cells = kind == tag_scene::too_close ? 0.0 : 1.0;
    for (const placed_marker &marker : scene.markers)
        draw_marker(scene.image, family, marker.id, marker.outer, faint ? 118 : 20,
                    faint ? 134 : 235, quiet_cells);
    blur_121(scene.image);
    add_noise(scene.image, 3, 6);
    return scene;
}

#include "marker_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Small, fixed generator so that pictures are the same on every machine.
struct scene_random {
    uint32_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int between(int low, int high) { return low + static_cast<int>(next() % (high - low + 1)); }
};

uint8_t clamp_grey(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// The library's image record is released by hand: Debian's library does not
// export its destroy function.
struct marker_bitmap {
    image_u8_t *image;
    explicit marker_bitmap(apriltag_family_t *family, int id)
        : image(apriltag_to_image(family, id)) {}
    ~marker_bitmap() {
        if (image) {
            free(image->buf);
            free(image);
        }
    }
    marker_bitmap(const marker_bitmap &) = delete;
    marker_bitmap &operator=(const marker_bitmap &) = delete;
    bool light(int x, int y) const { return image->buf[y * image->stride + x] > 127; }
};

} // namespace

gray_image::gray_image(int w, int h, uint8_t fill)
    : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}

scene_point homography::map(double u, double v) const {
    const double w = m[6] * u + m[7] * v + m[8];
    return {(m[0] * u + m[1] * v + m[2]) / w, (m[3] * u + m[4] * v + m[5]) / w};
}

homography homography_to_quad(const scene_quad &q) {
    const double dx1 = q[1].x - q[2].x, dx2 = q[3].x - q[2].x;
    const double dx3 = q[0].x - q[1].x + q[2].x - q[3].x;
    const double dy1 = q[1].y - q[2].y, dy2 = q[3].y - q[2].y;
    const double dy3 = q[0].y - q[1].y + q[2].y - q[3].y;
    const double den = dx1 * dy2 - dx2 * dy1;
    const double g = (dx3 * dy2 - dx2 * dy3) / den;
    const double h = (dx1 * dy3 - dx3 * dy1) / den;
    return {{q[1].x - q[0].x + g * q[1].x, q[3].x - q[0].x + h * q[3].x, q[0].x,
             q[1].y - q[0].y + g * q[1].y, q[3].y - q[0].y + h * q[3].y, q[0].y, g, h, 1.0}};
}

bool invert(const homography &h, homography &inverse) {
    const double *m = h.m;
    const double c0 = m[4] * m[8] - m[5] * m[7];
    const double c1 = m[5] * m[6] - m[3] * m[8];
    const double c2 = m[3] * m[7] - m[4] * m[6];
    const double det = m[0] * c0 + m[1] * c1 + m[2] * c2;
    if (std::fabs(det) < 1e-12)
        return false;
    const double r = 1.0 / det;
    inverse = {{c0 * r, (m[2] * m[7] - m[1] * m[8]) * r, (m[1] * m[5] - m[2] * m[4]) * r, c1 * r,
                (m[0] * m[8] - m[2] * m[6]) * r, (m[2] * m[3] - m[0] * m[5]) * r, c2 * r,
                (m[1] * m[6] - m[0] * m[7]) * r, (m[0] * m[4] - m[1] * m[3]) * r}};
    return true;
}

scene_quad square_quad(double left, double top, double side, double keystone) {
    const double pinch = side * keystone * 0.5;
    return {{{left + pinch, top},
             {left + side - pinch, top},
             {left + side, top + side},
             {left, top + side}}};
}

scene_quad marker_detect_corners(const apriltag_family_t *family, const scene_quad &outer) {
    const homography h = homography_to_quad(outer);
    const double total = family->total_width;
    const double b = (total - family->width_at_border) * 0.5 / total;
    return {{h.map(b, b), h.map(1.0 - b, b), h.map(1.0 - b, 1.0 - b), h.map(b, 1.0 - b)}};
}

void draw_marker(gray_image &image, apriltag_family_t *family, int id, const scene_quad &outer,
                 uint8_t dark, uint8_t light, double quiet_cells) {
    const marker_bitmap bitmap(family, id);
    if (!bitmap.image)
        return;
    const int cells = bitmap.image->width;
    const homography to_image = homography_to_quad(outer);
    homography to_marker{};
    if (!invert(to_image, to_marker))
        return;

    const double q = quiet_cells / cells;
    double min_x = 1e300, min_y = 1e300, max_x = -1e300, max_y = -1e300;
    for (const scene_point corner : {to_image.map(-q, -q), to_image.map(1 + q, -q),
                                     to_image.map(1 + q, 1 + q), to_image.map(-q, 1 + q)}) {
        min_x = std::min(min_x, corner.x);
        min_y = std::min(min_y, corner.y);
        max_x = std::max(max_x, corner.x);
        max_y = std::max(max_y, corner.y);
    }
    const int x0 = std::max(0, static_cast<int>(std::floor(min_x)));
    const int y0 = std::max(0, static_cast<int>(std::floor(min_y)));
    const int x1 = std::min(image.width - 1, static_cast<int>(std::ceil(max_x)));
    const int y1 = std::min(image.height - 1, static_cast<int>(std::ceil(max_y)));

    // Four by four samples per pixel give the edges their partial coverage.
    constexpr int samples = 4;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            double sum = 0.0;
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    const scene_point uv =
                        to_marker.map(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples);
                    if (uv.x < -q || uv.y < -q || uv.x >= 1 + q || uv.y >= 1 + q) {
                        sum += image.at(x, y);
                        continue;
                    }
                    const int cx = static_cast<int>(std::floor(uv.x * cells));
                    const int cy = static_cast<int>(std::floor(uv.y * cells));
                    const bool inside = cx >= 0 && cy >= 0 && cx < cells && cy < cells;
                    sum += (!inside || bitmap.light(cx, cy)) ? light : dark;
                }
            }
            image.at(x, y) = clamp_grey(sum / (samples * samples));
        }
    }
}

void fill_texture(gray_image &image, uint32_t seed) {
    scene_random random{seed | 1u};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.at(x, y) = clamp_grey(90.0 + 60.0 * x / image.width + 30.0 * y / image.height +
                                        12.0 * std::sin(x * 0.05) * std::cos(y * 0.07));
    const int count = std::max(8, image.width * image.height / 12000);
    for (int i = 0; i < count; ++i) {
        const int w = random.between(6, std::max(6, image.width / 8));
        const int h = random.between(6, std::max(6, image.height / 8));
        const int left = random.between(0, std::max(0, image.width - w));
        const int top = random.between(0, std::max(0, image.height - h));
        const auto grey = static_cast<uint8_t>(random.between(40, 220));
        for (int y = top; y < std::min(image.height, top + h); ++y)
            for (int x = left; x < std::min(image.width, left + w); ++x)
                image.at(x, y) = grey;
    }
}

void add_noise(gray_image &image, uint32_t seed, int amplitude) {
    scene_random random{seed | 1u};
    for (uint8_t &pixel : image.pixels)
        pixel = clamp_grey(pixel + random.between(-amplitude, amplitude));
}

void blur_121(gray_image &image) {
    if (image.width < 3 || image.height < 3)
        return;
    std::vector<uint8_t> row(static_cast<size_t>(image.width));
    for (int y = 0; y < image.height; ++y) {
        uint8_t *p = &image.pixels[static_cast<size_t>(y) * image.width];
        std::copy(p, p + image.width, row.begin());
        for (int x = 1; x + 1 < image.width; ++x)
            p[x] = static_cast<uint8_t>((row[x - 1] + 2 * row[x] + row[x + 1] + 2) / 4);
    }
    std::vector<uint8_t> column(static_cast<size_t>(image.height));
    for (int x = 0; x < image.width; ++x) {
        for (int y = 0; y < image.height; ++y)
            column[y] = image.at(x, y);
        for (int y = 1; y + 1 < image.height; ++y)
            image.at(x, y) =
                static_cast<uint8_t>((column[y - 1] + 2 * column[y] + column[y + 1] + 2) / 4);
    }
}

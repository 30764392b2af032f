#include "crop_scene.h"
#include "expected_tags.h"
#include "marker_scene.h"

#include <tag16h5.h>

namespace {

struct disc {
    float x, y, r; // fractions of the picture width (y of the height)
    uint8_t rgb[3];
};

constexpr disc discs[] = {
    {0.36f, 0.39f, 0.021f, {200, 40, 40}},   {0.52f, 0.52f, 0.016f, {30, 60, 210}},
    {0.44f, 0.55f, 0.010f, {250, 250, 250}}, {0.60f, 0.40f, 0.013f, {20, 20, 20}},
    {0.30f, 0.60f, 0.018f, {40, 180, 60}},
};

uint8_t grey_of(const uint8_t *rgb) {
    return static_cast<uint8_t>((rgb[0] * 77 + rgb[1] * 150 + rgb[2] * 29) >> 8);
}

void draw_background(rgb_picture &picture, bool grey) {
    const int32_t w = picture.width, h = picture.height;
    const float fw = static_cast<float>(w);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t *p = picture.at(x, y);
            p[0] = static_cast<uint8_t>(70 + 110 * x / w);
            p[1] = static_cast<uint8_t>(90 + 70 * y / h);
            p[2] = static_cast<uint8_t>(150 - 40 * x / w);
            for (const disc &d : discs) {
                const float dx = (static_cast<float>(x) + 0.5f) / fw - d.x;
                const float dy =
                    (static_cast<float>(y) + 0.5f) / fw - d.y * static_cast<float>(h) / fw;
                if (dx * dx + dy * dy < d.r * d.r)
                    for (int c = 0; c < 3; ++c)
                        p[c] = d.rgb[c];
            }
            if (grey)
                p[0] = p[1] = p[2] = grey_of(p);
        }
}

} // namespace

crop_scene draw_crop_scene(int32_t width, int32_t height, const std::vector<scene_marker> &markers,
                           bool grey) {
    crop_scene scene{rgb_picture(width, height), {}};
    draw_background(scene.picture, grey);

    // The markers go on in grey, then over the colour picture, margin and all.
    gray_image luma(width, height, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            luma.at(x, y) = grey_of(scene.picture.at(x, y));
    apriltag_family_t *family = tag16h5_create();
    const int32_t cells = family->total_width;
    for (const scene_marker &m : markers) {
        const scene_quad outer = square_quad(m.x, m.y, cells * m.cell);
        draw_marker(luma, family, m.id, outer);
        for (int32_t y = m.y - m.cell; y < m.y + (cells + 1) * m.cell; ++y)
            for (int32_t x = m.x - m.cell; x < m.x + (cells + 1) * m.cell; ++x)
                if (x >= 0 && y >= 0 && x < width && y < height) {
                    uint8_t *p = scene.picture.at(x, y);
                    p[0] = p[1] = p[2] = luma.at(x, y);
                }
        scene.quads.push_back(expected_tag_quad(family, outer));
    }
    tag16h5_destroy(family);
    return scene;
}

tag_quad to_detection_pixels(const tag_quad &quad, int32_t picture_width, int32_t picture_height,
                             int32_t detect_width, int32_t detect_height) {
    const float sx = static_cast<float>(detect_width) / static_cast<float>(picture_width);
    const float sy = static_cast<float>(detect_height) / static_cast<float>(picture_height);
    tag_quad out{quad.center_x * sx, quad.center_y * sy, {}};
    for (int i = 0; i < 4; ++i)
        out.corners[i] = {quad.corners[i].x * sx, quad.corners[i].y * sy};
    return out;
}

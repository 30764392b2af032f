#pragma once

// Pictures for detection tests and benchmarks: real markers drawn with the
// detector library's own images at known corners on a textured background.
// Tag A (id 0), tag B (id 1) and a distractor (id 2) sit at fixed places, laid
// out for a 960 pixel wide frame and scaled to the width asked for.
#include <apriltag.h>
#include <array>
#include <cstdint>
#include <vector>

struct scene_point {
    double x;
    double y;
};

// Four points running around a quadrilateral: top-left, top-right,
// bottom-right, bottom-left for an upright one (y downward).
using scene_quad = std::array<scene_point, 4>;

// 8-bit grey picture, tightly packed.
struct gray_image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    gray_image(int w, int h, uint8_t fill);
    uint8_t &at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
    uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Where the detector's quad of a marker lies when the whole marker image
// (border ring included) is drawn onto `outer`.
scene_quad marker_detect_corners(const apriltag_family_t *family, const scene_quad &outer);

// The projected middle of a quad, where its diagonals cross.
scene_point quad_centre(const scene_quad &quad);

enum class tag_scene {
    pair,         // A and B well apart, the distractor between them
    only_b,       // B and the distractor
    too_close,    // A and B nearer to each other than one tag side
    low_contrast, // A, B and the distractor at a contrast the detector decodes below margin
    empty,        // the background alone
};

struct placed_marker {
    int id;
    scene_quad outer; // where the whole marker image was drawn
};

struct scene_picture {
    gray_image image;
    std::vector<placed_marker> markers;
};

// Textured, mildly blurred and noisy, with a slight perspective on A and B.
scene_picture make_tag_scene(apriltag_family_t *family, tag_scene kind, int width, int height);

#pragma once

// Pictures for detection tests and benchmarks: real markers drawn with the
// detector library's own images, at known corners, on a textured background.
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

// The projective map taking the unit square's corners (0,0), (1,0), (1,1),
// (0,1) onto a quad's four points, in that order.
struct homography {
    double m[9];
    scene_point map(double u, double v) const;
};
homography homography_to_quad(const scene_quad &quad);

// An upright square with its top edge narrowed by `keystone` (a fraction of
// the side, split between both ends): a mild perspective tilt.
scene_quad square_quad(double left, double top, double side, double keystone = 0.0);

// Where the detector's quad of a marker lies when the whole marker image
// (border ring included) is drawn onto `outer`.
scene_quad marker_detect_corners(const apriltag_family_t *family, const scene_quad &outer);

// The marker image of `id`, drawn onto the quad `outer` with anti-aliased
// edges, its black as `dark` and its white as `light`. A white margin of
// `quiet_cells` cells surrounds it, as on a printed sheet.
void draw_marker(gray_image &image, apriltag_family_t *family, int id, const scene_quad &outer,
                 uint8_t dark = 20, uint8_t light = 235, double quiet_cells = 1.0);

// Background clutter: a soft gradient with random grey rectangles, whose
// edges give the detector quad candidates to reject.
void fill_texture(gray_image &image, uint32_t seed);

// Uniform noise of +-amplitude grey levels, clamped.
void add_noise(gray_image &image, uint32_t seed, int amplitude);

// One pass of the 1-2-1 kernel in each direction: a mild blur.
void blur_121(gray_image &image);

#pragma once

// Pictures with real markers, for the tests, the benchmarks and the preview tool: picture types,
// the projective map that places a marker, marker drawing, the test scenes, and a detector with
// the filter's own configuration. Host-free.
#include "detect/crop_geometry.h"
#include "detect/detector.h"

#include <apriltag.h>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// 8-bit grey, rows packed.
struct grey_image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;

    grey_image() = default;
    grey_image(int32_t w, int32_t h, uint8_t fill = 0)
        : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}
    uint8_t &at(int32_t x, int32_t y) { return pixels[static_cast<size_t>(y) * width + x]; }
    uint8_t at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// 8-bit RGBA, rows top to bottom, packed (stride = 4 * width).
struct rgba_image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;

    rgba_image() = default;
    rgba_image(int32_t w, int32_t h)
        : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0) {}
    // Opaque grey.
    explicit rgba_image(const grey_image &grey);
    uint8_t *row(int32_t y) { return pixels.data() + static_cast<size_t>(y) * 4 * width; }
    const uint8_t *row(int32_t y) const {
        return pixels.data() + static_cast<size_t>(y) * 4 * width;
    }
    uint8_t *at(int32_t x, int32_t y) { return row(y) + 4 * static_cast<size_t>(x); }
    const uint8_t *at(int32_t x, int32_t y) const { return row(y) + 4 * static_cast<size_t>(x); }
};

struct scene_point {
    double x;
    double y;
};

// Four points running around a quadrilateral: top-left, top-right, bottom-right, bottom-left for
// an upright one (y downward).
using scene_quad = std::array<scene_point, 4>;

// The projective map taking the unit square's corners (0,0), (1,0), (1,1), (0,1) onto a quad's
// four points, in that order.
struct homography {
    double m[9];

    static homography to_quad(const scene_quad &quad);
    homography inverse() const;
    scene_point map(double u, double v) const;
};

// A marker as printed: its grid of modules, and where in it lies the square the detector finds.
struct marker_pattern {
    int32_t modules = 0;       // the grid's side
    int32_t quad_first = 0;    // first module of the detector's square
    int32_t quad_modules = 0;  // and its side
    std::vector<uint8_t> dark; // per module, 1 = ink
};

// The library draws a circle marker's unused corners black; printed, they are paper.
std::optional<marker_pattern> marker_pattern_of(const apriltag_family_t *family, int id,
                                                bool printed);

// Draws a marker whose grid covers `grid` (the projected square of the pattern's modules), with
// `margin` modules of paper around it, anti-aliased. `lamp` darkens the sheet toward its bottom
// right by that fraction, as a lamp at the top left would.
void draw_marker(grey_image &image, const marker_pattern &pattern, const scene_quad &grid,
                 double margin, uint8_t ink, uint8_t paper, float lamp = 0.0f);
void draw_marker(rgba_image &image, const marker_pattern &pattern, const scene_quad &grid,
                 double margin, uint8_t ink, uint8_t paper, float lamp = 0.0f);

// Where the detector's quad of a marker lies when its grid is drawn onto `grid`.
scene_quad marker_detect_corners(const marker_pattern &pattern, const scene_quad &grid);

// The projected middle of a quad, where its diagonals cross.
scene_point quad_centre(const scene_quad &quad);

// The detection tests' scenes. Tag A (id 0), tag B (id 1) and a distractor (id 2) sit at fixed
// places, laid out for a 960 pixel wide frame and scaled to the width asked for, on a textured,
// mildly blurred and noisy background, with a slight perspective on A and B.
enum class tag_scene {
    pair,         // A and B well apart, the distractor between them
    only_b,       // B and the distractor
    too_close,    // A and B nearer to each other than one tag side
    low_contrast, // A, B and the distractor at a contrast the detector decodes below margin
    empty,        // the background alone
};

struct placed_marker {
    int id;
    scene_quad grid; // where the marker's grid was drawn
};

struct scene_picture {
    grey_image image;
    std::vector<placed_marker> markers;
};

scene_picture make_tag_scene(tag_family_kind family, tag_scene kind, int32_t width, int32_t height);

// Where the detector should find a drawn marker, as the worker's own record. The detector's
// corner order for an upright marker starts at the bottom left.
tag_quad expected_tag_quad(tag_family_kind family, const scene_quad &grid);

// Detected corners may be off by this much, in detection pixels: measured at about 0.5 on these
// pictures (no edge refinement, blur and noise).
inline constexpr float corner_tolerance = 0.75f;

// A detector's header over a picture's own pixels (the library takes a mutable header but only
// reads through it).
image_u8_t image_header(const grey_image &image);

// A detector for one family with the filter's fixed configuration.
struct tag_detector {
    tag_family_handle family;
    detector_ptr detector;

    explicit tag_detector(tag_family_kind kind, int32_t threads = 2);

    // The detections, copied out of the library's result array.
    std::vector<apriltag_detection_t> detect(const grey_image &image) const;
};

#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An 8-bit RGB picture, three bytes per pixel, rows top to bottom.
struct rgb_picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;

    rgb_picture() = default;
    rgb_picture(int32_t w, int32_t h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3) {}
    uint8_t *at(int32_t x, int32_t y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    const uint8_t *at(int32_t x, int32_t y) const {
        return &rgb[(static_cast<size_t>(y) * width + x) * 3];
    }
    void fill_rect(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t r, uint8_t g, uint8_t b);
};

// What a render read back: RGBA, four bytes per pixel, rows top to bottom.
struct rgba_image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;

    const uint8_t *at(int32_t x, int32_t y) const {
        return &rgba[(static_cast<size_t>(y) * width + x) * 4];
    }
};

// Colour ramps crossed with a checkerboard of `cell` pixels: every region of
// it looks different, and a sampling error shows at the cell edges.
rgb_picture test_pattern(int32_t width, int32_t height, int32_t cell = 8);

// The same with every pixel grey (R = G = B), for the YUV formats, whose
// chroma is shared by blocks of pixels.
rgb_picture grey_test_pattern(int32_t width, int32_t height, int32_t cell = 8);

// The region [u0, u0 + su] x [v0, v0 + sv] of the source (fractions of its
// size) stretched over an output of out_width x out_height, each output pixel
// sampled bilinearly at its centre with the edges clamped: what the crop
// effect draws.
rgba_image crop_reference(const rgb_picture &source, float u0, float v0, float su, float sv,
                          int32_t out_width, int32_t out_height);

// The source itself as an opaque RGBA image.
rgba_image opaque(const rgb_picture &source);

struct image_difference {
    int max_rgb = 0;   // largest difference of one colour channel
    int max_alpha = 0; // largest difference of alpha
    int32_t worst_x = -1, worst_y = -1;
};

// Compares two images of the same size, leaving out `margin` pixels at each edge.
image_difference compare_images(const rgba_image &a, const rgba_image &b, int32_t margin = 0);

// A short description for failure messages.
std::string describe(const image_difference &d);

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// 8-bit RGBA, rows packed (stride = 4 * width).
struct rgba_image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;

    uint8_t *row(int32_t y) { return pixels.data() + static_cast<size_t>(y) * 4 * width; }
    const uint8_t *row(int32_t y) const {
        return pixels.data() + static_cast<size_t>(y) * 4 * width;
    }
};

inline rgba_image make_rgba_image(int32_t width, int32_t height) {
    rgba_image image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<size_t>(width) * height * 4, 0);
    return image;
}

// 8-bit grey, rows packed.
struct grey_image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;

    uint8_t at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

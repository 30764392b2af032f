#include "test_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

void rgb_picture::fill_rect(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t r, uint8_t g,
                            uint8_t b) {
    for (int32_t y = std::max(y0, 0); y < std::min(y1, height); ++y)
        for (int32_t x = std::max(x0, 0); x < std::min(x1, width); ++x) {
            uint8_t *p = at(x, y);
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
}

rgb_picture test_pattern(int32_t width, int32_t height, int32_t cell) {
    rgb_picture picture(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const bool dark = ((x / cell) + (y / cell)) % 2 == 0;
            uint8_t *p = picture.at(x, y);
            p[0] = static_cast<uint8_t>(x * 255 / std::max(width - 1, 1));
            p[1] = static_cast<uint8_t>(y * 255 / std::max(height - 1, 1));
            p[2] = dark ? 40 : 215;
        }
    return picture;
}

rgb_picture grey_test_pattern(int32_t width, int32_t height, int32_t cell) {
    rgb_picture picture(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const bool dark = ((x / cell) + (y / cell)) % 2 == 0;
            const int ramp = (x * 3 + y) * 120 / std::max(3 * width + height, 1);
            const uint8_t v = static_cast<uint8_t>((dark ? 30 : 110) + ramp);
            uint8_t *p = picture.at(x, y);
            p[0] = p[1] = p[2] = v;
        }
    return picture;
}

namespace {

// The source channel c at a continuous texel position, bilinear, edges clamped.
float sample(const rgb_picture &source, float sx, float sy, int c) {
    const float cx = std::clamp(sx, 0.0f, static_cast<float>(source.width - 1));
    const float cy = std::clamp(sy, 0.0f, static_cast<float>(source.height - 1));
    const int32_t x0 = static_cast<int32_t>(std::floor(cx));
    const int32_t y0 = static_cast<int32_t>(std::floor(cy));
    const int32_t x1 = std::min(x0 + 1, source.width - 1);
    const int32_t y1 = std::min(y0 + 1, source.height - 1);
    const float fx = cx - static_cast<float>(x0);
    const float fy = cy - static_cast<float>(y0);
    const float top = source.at(x0, y0)[c] * (1 - fx) + source.at(x1, y0)[c] * fx;
    const float bottom = source.at(x0, y1)[c] * (1 - fx) + source.at(x1, y1)[c] * fx;
    return top * (1 - fy) + bottom * fy;
}

} // namespace

rgba_image crop_reference(const rgb_picture &source, float u0, float v0, float su, float sv,
                          int32_t out_width, int32_t out_height) {
    rgba_image out{out_width, out_height,
                   std::vector<uint8_t>(static_cast<size_t>(out_width) * out_height * 4)};
    for (int32_t y = 0; y < out_height; ++y)
        for (int32_t x = 0; x < out_width; ++x) {
            const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(out_width);
            const float v = (static_cast<float>(y) + 0.5f) / static_cast<float>(out_height);
            // Texel centres sit at half-integers, hence the 0.5 back.
            const float sx = (u * su + u0) * static_cast<float>(source.width) - 0.5f;
            const float sy = (v * sv + v0) * static_cast<float>(source.height) - 0.5f;
            uint8_t *p = &out.rgba[(static_cast<size_t>(y) * out_width + x) * 4];
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<uint8_t>(std::lround(sample(source, sx, sy, c)));
            p[3] = 255;
        }
    return out;
}

rgba_image opaque(const rgb_picture &source) {
    return crop_reference(source, 0.0f, 0.0f, 1.0f, 1.0f, source.width, source.height);
}

image_difference compare_images(const rgba_image &a, const rgba_image &b, int32_t margin) {
    image_difference d;
    if (a.width != b.width || a.height != b.height) {
        d.max_rgb = d.max_alpha = 256;
        return d;
    }
    for (int32_t y = margin; y < a.height - margin; ++y)
        for (int32_t x = margin; x < a.width - margin; ++x) {
            const uint8_t *p = a.at(x, y);
            const uint8_t *q = b.at(x, y);
            for (int c = 0; c < 4; ++c) {
                const int diff = std::abs(int{p[c]} - int{q[c]});
                int &worst = c < 3 ? d.max_rgb : d.max_alpha;
                if (diff > worst) {
                    worst = diff;
                    d.worst_x = x;
                    d.worst_y = y;
                }
            }
        }
    return d;
}

std::string describe(const image_difference &d) {
    return "largest difference " + std::to_string(d.max_rgb) + " (colour), " +
           std::to_string(d.max_alpha) + " (alpha), at (" + std::to_string(d.worst_x) + ", " +
           std::to_string(d.worst_y) + ")";
}

#include "overlay_draw.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

struct glyph {
    char c;
    uint8_t rows[7];
};

// Classic 5x7 lettering; bit 4 is the leftmost column.
constexpr glyph glyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'x', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
};

const glyph *find_glyph(char c) {
    if (c != 'x')
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const glyph &g : glyphs)
        if (g.c == c)
            return &g;
    return nullptr; // a space, or a character we have no drawing for
}

void blend_pixel(rgba_image &image, int32_t x, int32_t y, draw_colour colour, float opacity) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height || opacity <= 0.0f)
        return;
    uint8_t *p = image.row(y) + 4 * x;
    const float a = std::min(opacity, 1.0f);
    p[0] = static_cast<uint8_t>(std::lround(p[0] + (colour.r - p[0]) * a));
    p[1] = static_cast<uint8_t>(std::lround(p[1] + (colour.g - p[1]) * a));
    p[2] = static_cast<uint8_t>(std::lround(p[2] + (colour.b - p[2]) * a));
    p[3] = 255;
}

constexpr int32_t glyph_advance = 6;
constexpr int32_t label_margin = 2;

} // namespace

void draw_line(rgba_image &image, float x0, float y0, float x1, float y1, float thickness,
               draw_colour colour, float opacity) {
    const float half = std::max(thickness, 1.0f) * 0.5f;
    const int32_t left = static_cast<int32_t>(std::floor(std::min(x0, x1) - half - 1.0f));
    const int32_t right = static_cast<int32_t>(std::ceil(std::max(x0, x1) + half + 1.0f));
    const int32_t top = static_cast<int32_t>(std::floor(std::min(y0, y1) - half - 1.0f));
    const int32_t bottom = static_cast<int32_t>(std::ceil(std::max(y0, y1) + half + 1.0f));
    const float dx = x1 - x0;
    const float dy = y1 - y0;
    const float length_sq = dx * dx + dy * dy;
    for (int32_t y = std::max(top, 0); y <= std::min(bottom, image.height - 1); ++y) {
        for (int32_t x = std::max(left, 0); x <= std::min(right, image.width - 1); ++x) {
            const float px = static_cast<float>(x) + 0.5f - x0;
            const float py = static_cast<float>(y) + 0.5f - y0;
            float t = length_sq > 0.0f ? (px * dx + py * dy) / length_sq : 0.0f;
            t = std::clamp(t, 0.0f, 1.0f);
            const float distance = std::hypot(px - t * dx, py - t * dy);
            // One pixel of soft edge keeps thin slanted lines from looking stepped.
            const float coverage = std::clamp(half + 0.5f - distance, 0.0f, 1.0f);
            blend_pixel(image, x, y, colour, coverage * opacity);
        }
    }
}

void draw_polygon(rgba_image &image, const float (*points)[2], int count, float thickness,
                  draw_colour colour) {
    for (int i = 0; i < count; ++i) {
        const int j = (i + 1) % count;
        draw_line(image, points[i][0], points[i][1], points[j][0], points[j][1], thickness, colour);
    }
}

void fill_rect(rgba_image &image, int32_t x, int32_t y, int32_t width, int32_t height,
               draw_colour colour, float opacity) {
    for (int32_t row = std::max(y, 0); row < std::min(y + height, image.height); ++row)
        for (int32_t column = std::max(x, 0); column < std::min(x + width, image.width); ++column)
            blend_pixel(image, column, row, colour, opacity);
}

int32_t label_width(const std::string &text, int32_t scale) {
    return (static_cast<int32_t>(text.size()) * glyph_advance + 2 * label_margin - 1) * scale;
}

int32_t label_height(int32_t scale) {
    return (7 + 2 * label_margin) * scale;
}

int32_t draw_label(rgba_image &image, int32_t x, int32_t y, const std::string &text, int32_t scale,
                   draw_colour colour) {
    const int32_t width = label_width(text, scale);
    fill_rect(image, x, y, width, label_height(scale), {0, 0, 0}, 0.6f);
    int32_t pen = x + label_margin * scale;
    for (char c : text) {
        if (const glyph *g = find_glyph(c)) {
            for (int32_t row = 0; row < 7; ++row)
                for (int32_t column = 0; column < 5; ++column)
                    if (g->rows[row] & (0x10 >> column))
                        fill_rect(image, pen + column * scale, y + (label_margin + row) * scale,
                                  scale, scale, colour, 1.0f);
        }
        pen += glyph_advance * scale;
    }
    return width;
}

#include "composition.h"

#include "av_handles.h"
#include "overlay_draw.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr draw_colour colour_a{60, 230, 90};
constexpr draw_colour colour_b{255, 120, 200};
constexpr draw_colour colour_filter{255, 215, 0};
constexpr draw_colour colour_wanted{255, 255, 255};
constexpr draw_colour colour_text{255, 255, 255};

void draw_rect(rgba_image &picture, float left, float top, float width, float height,
               float thickness, draw_colour colour) {
    const float points[4][2] = {
        {left, top}, {left + width, top}, {left + width, top + height}, {left, top + height}};
    draw_polygon(picture, points, 4, thickness, colour);
}

void draw_found_marker(rgba_image &picture, float scale, const found_marker &m, const char *name,
                       draw_colour colour, int32_t text_scale) {
    if (!m.found)
        return;
    float points[4][2];
    float min_x = 1e9f, min_y = 1e9f;
    for (int i = 0; i < 4; ++i) {
        points[i][0] = m.corners[i][0] * scale;
        points[i][1] = m.corners[i][1] * scale;
        min_x = std::min(min_x, points[i][0]);
        min_y = std::min(min_y, points[i][1]);
    }
    const float thickness = std::max(2.0f, static_cast<float>(picture.width) / 480.0f);
    draw_polygon(picture, points, 4, thickness, colour);
    // The detector's first corner, so that a turned marker is plain to see.
    fill_rect(picture, static_cast<int32_t>(points[0][0]) - 2,
              static_cast<int32_t>(points[0][1]) - 2, 5, 5, colour, 1.0f);
    char label[48];
    std::snprintf(label, sizeof(label), "%s M%.0f", name, static_cast<double>(m.margin));
    const int32_t y = static_cast<int32_t>(min_y) - label_height(text_scale) - 3;
    draw_label(picture, static_cast<int32_t>(min_x), std::max(0, y), label, text_scale, colour);
}

int32_t text_scale_for(const rgba_image &picture) {
    return picture.width >= 800 ? 2 : 1;
}

} // namespace

void draw_input_overlay(rgba_image &picture, float scale, const marker_frame &markers,
                        const filter_view &crop, double seconds) {
    const int32_t text_scale = text_scale_for(picture);
    const float thin = std::max(1.0f, static_cast<float>(picture.width) / 960.0f);
    if (markers.expected.valid) {
        const crop_target &t = markers.expected;
        draw_rect(picture, (t.center_x - t.width * 0.5f) * scale,
                  (t.center_y - t.height * 0.5f) * scale, t.width * scale, t.height * scale, thin,
                  colour_wanted);
    }
    if (crop.visible) {
        const float thick = std::max(2.0f, static_cast<float>(picture.width) / 400.0f);
        draw_rect(picture, crop.left * scale + thick * 0.5f, crop.top * scale + thick * 0.5f,
                  crop.width * scale - thick, crop.height * scale - thick, thick, colour_filter);
    }
    draw_found_marker(picture, scale, markers.a, "A", colour_a, text_scale);
    draw_found_marker(picture, scale, markers.b, "B", colour_b, text_scale);
    char title[64];
    std::snprintf(title, sizeof(title), "INPUT %.1f S", seconds);
    const int32_t x = draw_label(picture, 4, 4, title, text_scale, colour_text) + 8;
    draw_label(picture, x, 4, "FILTER LOOKS HERE", text_scale, colour_filter);
}

rgba_image side_by_side(const rgba_image &left, const rgba_image &right, bool hidden) {
    rgba_image out(left.width + right.width, left.height);
    const int32_t text_scale = text_scale_for(left);
    for (int32_t y = 0; y < out.height; ++y) {
        std::memcpy(out.row(y), left.row(y), static_cast<size_t>(left.width) * 4);
        uint8_t *dst = out.row(y) + static_cast<size_t>(left.width) * 4;
        const uint8_t *src = right.row(std::min(y, right.height - 1));
        for (int32_t x = 0; x < right.width; ++x, dst += 4, src += 4) {
            if (hidden) {
                const bool light = ((x / 16) + (y / 16)) % 2 == 0;
                dst[0] = dst[1] = dst[2] = light ? 48 : 32;
            } else {
                // The filter's output is premultiplied; over black that is the colour itself.
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
            }
            dst[3] = 255;
        }
    }
    for (int32_t y = 0; y < out.height; ++y)
        for (int32_t x = left.width - 1; x <= left.width; ++x) {
            uint8_t *p = out.row(y) + 4 * x;
            p[0] = p[1] = p[2] = 16;
        }
    draw_label(out, left.width + 4, 4, hidden ? "FILTER OUTPUT: HIDDEN" : "FILTER OUTPUT",
               text_scale, colour_text);
    return out;
}

rgba_image resize_picture(const rgba_image &picture, int32_t width, int32_t height) {
    rgba_image out(width, height);
    sws_ptr scaler(sws_getContext(picture.width, picture.height, AV_PIX_FMT_RGBA, width, height,
                                  AV_PIX_FMT_RGBA, SWS_AREA, nullptr, nullptr, nullptr));
    if (!scaler)
        return out;
    const uint8_t *in[1] = {picture.pixels.data()};
    const int in_stride[1] = {4 * picture.width};
    uint8_t *dst[1] = {out.pixels.data()};
    const int out_stride[1] = {4 * width};
    sws_scale(scaler.get(), in, in_stride, 0, picture.height, dst, out_stride);
    return out;
}

rgba_image contact_sheet(const std::vector<sheet_cell> &cells) {
    if (cells.empty())
        return {};
    constexpr int32_t gap = 8;
    constexpr int32_t columns = 2;
    const int32_t cell_w = cells.front().picture.width;
    const int32_t cell_h = cells.front().picture.height;
    const int32_t caption_h = label_height(2) + 4;
    const int32_t rows = (static_cast<int32_t>(cells.size()) + columns - 1) / columns;
    rgba_image sheet(columns * cell_w + (columns + 1) * gap,
                     rows * (cell_h + caption_h) + (rows + 1) * gap);
    for (size_t i = 0; i < sheet.pixels.size(); i += 4) {
        sheet.pixels[i] = sheet.pixels[i + 1] = sheet.pixels[i + 2] = 24;
        sheet.pixels[i + 3] = 255;
    }
    for (size_t i = 0; i < cells.size(); ++i) {
        const int32_t column = static_cast<int32_t>(i) % columns;
        const int32_t row = static_cast<int32_t>(i) / columns;
        const int32_t x = gap + column * (cell_w + gap);
        const int32_t y = gap + row * (cell_h + caption_h + gap);
        draw_label(sheet, x, y, cells[i].caption, 2, colour_text);
        const rgba_image &p = cells[i].picture;
        for (int32_t py = 0; py < std::min(p.height, cell_h); ++py)
            std::memcpy(sheet.row(y + caption_h + py) + 4 * x, p.row(py),
                        static_cast<size_t>(std::min(p.width, cell_w)) * 4);
    }
    return sheet;
}

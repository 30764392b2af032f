#include "host_harness.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <graphics/vec4.h>

rgba_image render_source(obs_source_t *source) {
    obs_enter_graphics();
    const uint32_t w = obs_source_get_width(source), h = obs_source_get_height(source);
    rgba_image image;
    gs_texrender_t *target = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
    gs_stagesurf_t *stage = w && h ? gs_stagesurface_create(w, h, GS_RGBA) : nullptr;
    uint8_t *data = nullptr;
    uint32_t linesize = 0;
    vec4 clear;
    vec4_zero(&clear);
    if (stage && gs_texrender_begin(target, w, h)) {
        gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
        gs_ortho(0.0f, static_cast<float>(w), 0.0f, static_cast<float>(h), -100.0f, 100.0f);
        gs_blend_state_push();
        gs_enable_blending(false);
        obs_source_video_render(source);
        gs_blend_state_pop();
        gs_texrender_end(target);
        gs_stage_texture(stage, gs_texrender_get_texture(target));
        if (gs_stagesurface_map(stage, &data, &linesize)) {
            image = rgba_image(static_cast<int32_t>(w), static_cast<int32_t>(h));
            for (uint32_t y = 0; y < h; ++y)
                std::memcpy(&image.rgba[size_t{y} * w * 4], data + size_t{y} * linesize,
                            size_t{w} * 4);
            gs_stagesurface_unmap(stage);
        }
    }
    gs_stagesurface_destroy(stage);
    gs_texrender_destroy(target);
    obs_leave_graphics();
    return image;
}

bool wait_for_host_frames(int frames) {
    uint64_t seen = obs_get_video_frame_time();
    return wait_until([&] {
        frames -= obs_get_video_frame_time() != seen;
        seen = obs_get_video_frame_time();
        return frames <= 0;
    });
}

rgba_image crop_reference(const rgba_image &picture, const crop_parameters &crop) {
    const int32_t w = picture.width, h = picture.height;
    rgba_image out(w, h);
    // The source position of an output pixel's centre; texel centres sit at half-integers.
    const auto source_at = [](int32_t i, int32_t n, float scale, float offset) {
        const float u = (static_cast<float>(i) + 0.5f) / static_cast<float>(n);
        return std::clamp((u * scale + offset) * static_cast<float>(n) - 0.5f, 0.0f,
                          static_cast<float>(n - 1));
    };
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const float sx = source_at(x, w, crop.crop_scale_x, crop.crop_offset_x);
            const float sy = source_at(y, h, crop.crop_scale_y, crop.crop_offset_y);
            const int32_t x0 = static_cast<int32_t>(sx), y0 = static_cast<int32_t>(sy);
            const int32_t x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
            const float fx = sx - static_cast<float>(x0), fy = sy - static_cast<float>(y0);
            uint8_t *p = out.at(x, y);
            for (int c = 0; c < 3; ++c) {
                const float top = picture.at(x0, y0)[c] * (1 - fx) + picture.at(x1, y0)[c] * fx;
                const float bottom = picture.at(x0, y1)[c] * (1 - fx) + picture.at(x1, y1)[c] * fx;
                p[c] = static_cast<uint8_t>(
                    std::lround((top * (1 - fy) + bottom * fy) * crop.crop_visibility));
            }
            p[3] = static_cast<uint8_t>(255 * crop.crop_visibility);
        }
    return out;
}

int compare_images(const rgba_image &a, const rgba_image &b) {
    int worst = a.width == b.width && a.height == b.height ? 0 : 256;
    for (size_t i = 0; worst < 256 && i < a.rgba.size(); ++i)
        worst = std::max(worst, std::abs(int{a.rgba[i]} - int{b.rgba[i]}));
    return worst;
}

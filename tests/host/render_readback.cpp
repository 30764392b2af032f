#include "render_readback.h"
#include "host_environment.h"

#include <cstring>
#include <graphics/vec4.h>

rgba_image render_source(obs_source_t *source) {
    rgba_image image;
    obs_enter_graphics();
    const uint32_t w = obs_source_get_width(source);
    const uint32_t h = obs_source_get_height(source);
    gs_texrender_t *target = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
    gs_stagesurf_t *stage = w && h ? gs_stagesurface_create(w, h, GS_RGBA) : nullptr;
    if (stage && gs_texrender_begin(target, w, h)) {
        vec4 clear;
        vec4_zero(&clear);
        gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
        gs_ortho(0.0f, static_cast<float>(w), 0.0f, static_cast<float>(h), -100.0f, 100.0f);
        gs_blend_state_push();
        gs_enable_blending(false);
        obs_source_video_render(source);
        gs_blend_state_pop();
        gs_texrender_end(target);

        gs_stage_texture(stage, gs_texrender_get_texture(target));
        uint8_t *data = nullptr;
        uint32_t linesize = 0;
        if (gs_stagesurface_map(stage, &data, &linesize)) {
            image.width = static_cast<int32_t>(w);
            image.height = static_cast<int32_t>(h);
            image.rgba.resize(static_cast<size_t>(w) * h * 4);
            for (uint32_t y = 0; y < h; ++y)
                std::memcpy(&image.rgba[static_cast<size_t>(y) * w * 4], data + y * linesize,
                            static_cast<size_t>(w) * 4);
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
    int count = 0;
    return wait_until([&] {
        const uint64_t now = obs_get_video_frame_time();
        if (now != seen) {
            seen = now;
            ++count;
        }
        return count >= frames;
    });
}

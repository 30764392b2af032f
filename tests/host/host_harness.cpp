#include "host_harness.h"
#include "detect/crop_geometry.h"
#include "expected_tags.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <graphics/vec4.h>
#include <mutex>

rgba_image::rgba_image(const gray_image &grey) : rgba_image(grey.width, grey.height) {
    for (size_t i = 0; i < grey.pixels.size(); ++i) {
        std::memset(&rgba[i * 4], grey.pixels[i], 3);
        rgba[i * 4 + 3] = 255;
    }
}

scene_picture tag_picture(int32_t family, tag_scene kind, int width, int height) {
    apriltag_family_t *tags = create_tag_family(family);
    scene_picture picture = make_tag_scene(tags, kind, width, height);
    destroy_tag_family(tags, family);
    return picture;
}

void expect_crop_of_drawn_pair(const crop_rect &found, int detect_width, int detect_height,
                               int source_width, int source_height) {
    apriltag_family_t *family = create_tag_family(tag_family_tag16h5);
    const std::vector<placed_marker> drawn =
        make_tag_scene(family, tag_scene::pair, detect_width, detect_height).markers;
    const crop_target want = crop_target_from_pair(
        expected_tag_quad(family, drawn[0].outer), expected_tag_quad(family, drawn[1].outer),
        detect_width, detect_height, source_width, source_height, 0.0f, canvas_width,
        canvas_height);
    destroy_tag_family(family, tag_family_tag16h5);
    // Detected corners lie within corner_tolerance detection pixels of the
    // drawn ones: that moves an edge by as many source pixels, the
    // canvas-shaped size by 16/9 of two edges, and whole-pixel rounding adds 1.
    const float edge = corner_tolerance * static_cast<float>(source_width) / detect_width;
    EXPECT_NEAR(found.center_x, want.center_x, edge + 1.0f);
    EXPECT_NEAR(found.center_y, want.center_y, edge + 1.0f);
    EXPECT_NEAR(found.width, want.width, 2.0f * edge * 16.0f / 9.0f + 2.0f);
    EXPECT_NEAR(found.height, want.height, 2.0f * edge * 16.0f / 9.0f + 2.0f);
    EXPECT_NEAR(found.width / found.height, 16.0f / 9.0f, 0.05f) << "the canvas's aspect";
}

host_frame::host_frame(int format, const rgba_image &picture) {
    const auto f = static_cast<video_format>(format);
    const auto w = static_cast<uint32_t>(picture.width);
    const auto h = static_cast<uint32_t>(picture.height);
    obs_source_frame_init(&frame, f, w, h);
    const bool half = f == VIDEO_FORMAT_I420 || f == VIDEO_FORMAT_NV12 || f == VIDEO_FORMAT_I40A ||
                      f == VIDEO_FORMAT_I010 || f == VIDEO_FORMAT_P010;
    for (int i = 0; i < MAX_AV_PLANES && frame.data[i]; ++i)
        std::memset(frame.data[i], 128,
                    size_t{frame.linesize[i]} * (half && (i == 1 || i == 2) ? (h + 1) / 2 : h));

    // Bytes per pixel in plane 0 by format value, up to YUVA; 0: left mid-grey.
    constexpr uint32_t steps[] = {0, 1, 1, 2, 2, 2, 4, 4, 4, 1, 1, 3, 1, 1, 1, 1};
    const uint32_t step = format >= 0 && format < 16 ? steps[format] : 0;
    const uint32_t luma_at = f == VIDEO_FORMAT_UYVY ? 1 : 0;
    const bool yuv = format_is_yuv(f);
    const int red = f == VIDEO_FORMAT_RGBA ? 0 : 2;
    for (uint32_t y = 0; frame.data[0] && step && y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t *c = picture.at(static_cast<int32_t>(x), static_cast<int32_t>(y));
            uint8_t *p = frame.data[0] + size_t{y} * frame.linesize[0] + x * step;
            if (step >= 3) {
                p[red] = c[0];
                p[1] = c[1];
                p[2 - red] = c[2];
                if (step == 4)
                    p[3] = 255;
            } else {
                const double v = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
                p[luma_at] = static_cast<uint8_t>(std::lround(yuv ? 16.0 + v * 219.0 / 255.0 : v));
            }
        }
    frame.full_range = !yuv;
    if (yuv)
        video_format_get_parameters_for_format(VIDEO_CS_709, VIDEO_RANGE_PARTIAL, f,
                                               frame.color_matrix, frame.color_range_min,
                                               frame.color_range_max);
}

void host_frame::push_to(obs_source_t *source) const {
    obs_source_frame stamped = frame;
    stamped.timestamp = os_gettime_ns();
    obs_source_output_video(source, &stamped);
}

obs_source_t *create_test_source(const char *name) {
    static std::once_flag once;
    std::call_once(once, [] {
        obs_source_info info{};
        info.id = "pinvaler_test_source";
        info.type = OBS_SOURCE_TYPE_INPUT;
        info.output_flags = OBS_SOURCE_ASYNC_VIDEO;
        info.get_name = [](void *) { return "Pinvale test source"; };
        info.create = [](obs_data_t *, obs_source_t *source) -> void * { return source; };
        info.destroy = [](void *) {};
        obs_register_source(&info);
    });
    obs_source_t *source = obs_source_create_private("pinvaler_test_source", name, nullptr);
    if (source)
        obs_source_set_async_unbuffered(source, true);
    return source;
}

rgba_image render_source(obs_source_t *source) {
    obs_enter_graphics();
    const uint32_t w = obs_source_get_width(source), h = obs_source_get_height(source);
    rgba_image image;
    gs_texrender_t *target = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
    gs_stagesurf_t *stage = w && h ? gs_stagesurface_create(w, h, GS_RGBA) : nullptr;
    uint8_t *data = nullptr;
    uint32_t linesize = 0;
    const vec4 clear{};
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

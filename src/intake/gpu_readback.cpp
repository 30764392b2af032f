#include "intake/gpu_readback.h"

#include <graphics/vec4.h>
#include <util/platform.h>

namespace {

int32_t packed_width(int32_t width) {
    return (width + 3) / 4;
}

// Draws the filter's target into `texrender` at width x height as the host's own filter
// processing draws it, before the filter's output is begun.
bool draw_filter_target(gs_texrender_t *texrender, obs_source_t *filter, int32_t width,
                        int32_t height) {
    obs_source_t *target = obs_filter_get_target(filter);
    obs_source_t *parent = obs_filter_get_parent(filter);
    if (!target || !parent)
        return false;
    const uint32_t drawn_width = obs_source_get_base_width(target);
    const uint32_t drawn_height = obs_source_get_base_height(target);
    if (drawn_width == 0 || drawn_height == 0)
        return false;
    gs_texrender_reset(texrender);
    // begin/end keep the viewport, projection, matrix and render target; the blend state is ours
    // to keep.
    if (!gs_texrender_begin_with_color_space(texrender, static_cast<uint32_t>(width),
                                             static_cast<uint32_t>(height), GS_CS_SRGB))
        return false;
    const vec4 clear{};
    gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
    gs_ortho(0.0f, static_cast<float>(drawn_width), 0.0f, static_cast<float>(drawn_height), -100.0f,
             100.0f);
    // The host's filter blending, whatever the caller's: translucent parts read as over black.
    gs_blend_state_push();
    gs_enable_blending(true);
    gs_blend_function_separate(GS_BLEND_SRCALPHA, GS_BLEND_INVSRCALPHA, GS_BLEND_ONE,
                               GS_BLEND_INVSRCALPHA);
    // As a scene draws its items: the host turns this off around a filter that is not
    // sRGB-aware, and then writes the linear values of 10- and 12-bit frames, far too dark.
    const bool linear_srgb = gs_set_linear_srgb(true);
    // A parent neither async nor custom-drawn gets its own render under the default effect:
    // obs_source_video_render would hand it no effect and it would draw nothing. Async parents
    // have no render of their own, and a filter below must run its own.
    const uint32_t flags = obs_source_get_output_flags(parent);
    if (target == parent && (flags & (OBS_SOURCE_ASYNC | OBS_SOURCE_CUSTOM_DRAW)) == 0)
        obs_source_default_render(target);
    else
        obs_source_video_render(target);
    gs_set_linear_srgb(linear_srgb);
    gs_blend_state_pop();
    gs_texrender_end(texrender);
    return true;
}

} // namespace

bool gpu_readback::load(const char *effect_path, host_string &error) {
    char *text = nullptr;
    effect_.reset(gs_effect_create_from_file(effect_path, &text));
    error.reset(text);
    if (!effect_)
        return false;
    param_image_ = gs_effect_get_param_by_name(effect_.get(), "image");
    param_luma_width_ = gs_effect_get_param_by_name(effect_.get(), "luma_width");
    technique_ = gs_effect_get_technique(effect_.get(), "LumaPacked");
    // The sRGB-capable format the host's filters draw into: a source that writes through sRGB
    // encoding stores the same bytes here as in any filter's texture.
    picture_.reset(gs_texrender_create(GS_RGBA, GS_ZS_NONE));
    // Bytes as computed: no sRGB encoding on the way out.
    luma_.reset(gs_texrender_create(GS_RGBA_UNORM, GS_ZS_NONE));
    if (!param_image_ || !param_luma_width_ || !technique_ || !picture_ || !luma_) {
        effect_.reset();
        return false;
    }
    return true;
}

bool gpu_readback::stage(obs_source_t *filter, const staged_picture &picture) {
    const int32_t slot = ring_.slot_to_stage(picture.frame_time);
    if (slot < 0 || !loaded() || picture.width < 1 || picture.height < 1)
        return false;
    const uint64_t start_ns = os_gettime_ns();
    gs_stagesurf_t *surface = surface_for(slot, picture.width, picture.height);
    if (!surface || !draw_filter_target(picture_.get(), filter, picture.width, picture.height) ||
        !convert(gs_texrender_get_texture(picture_.get()), picture.width, picture.height))
        return false;
    gs_stage_texture(surface, gs_texrender_get_texture(luma_.get()));
    staged_picture staged = picture;
    staged.stage_ns = os_gettime_ns() - start_ns;
    ring_.mark_staged(slot, staged);
    return true;
}

std::optional<staged_picture> gpu_readback::next_ready(uint64_t frame_time) {
    const int32_t slot = ring_.slot_to_take(frame_time);
    if (slot < 0)
        return std::nullopt;
    return ring_.picture(slot);
}

// Remade only when the detection size changes.
gs_stagesurf_t *gpu_readback::surface_for(int32_t slot, int32_t width, int32_t height) {
    stagesurf_ptr &surface = surfaces_[static_cast<size_t>(slot)];
    const auto packed = static_cast<uint32_t>(packed_width(width));
    const auto rows = static_cast<uint32_t>(height);
    if (surface && gs_stagesurface_get_width(surface.get()) == packed &&
        gs_stagesurface_get_height(surface.get()) == rows)
        return surface.get();
    surface.reset(gs_stagesurface_create(packed, rows, GS_RGBA_UNORM));
    return surface.get();
}

bool gpu_readback::convert(gs_texture_t *picture, int32_t width, int32_t height) {
    gs_texrender_t *luma = luma_.get();
    gs_texrender_reset(luma);
    if (!picture || !gs_texrender_begin(luma, static_cast<uint32_t>(packed_width(width)),
                                        static_cast<uint32_t>(height)))
        return false;
    const bool srgb = gs_framebuffer_srgb_enabled();
    gs_enable_framebuffer_srgb(false);
    gs_blend_state_push();
    gs_enable_blending(false);
    // Without the sRGB variant the texture's bytes are read as stored, undecoded.
    gs_effect_set_texture(param_image_, picture);
    gs_effect_set_float(param_luma_width_, static_cast<float>(width));
    // The triangle comes from the vertex index alone: buffers a source left loaded must not
    // feed it.
    gs_load_vertexbuffer(nullptr);
    gs_load_indexbuffer(nullptr);
    gs_technique_begin(technique_);
    gs_technique_begin_pass(technique_, 0);
    gs_draw(GS_TRIS, 0, 3);
    gs_technique_end_pass(technique_);
    gs_technique_end(technique_);
    gs_blend_state_pop();
    gs_enable_framebuffer_srgb(srgb);
    gs_texrender_end(luma);
    return true;
}

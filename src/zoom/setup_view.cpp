#include "zoom/setup_view.h"

#include <graphics/vec3.h>
#include <graphics/vec4.h>

setup_view_drawer::setup_view_drawer() {
    obs_enter_graphics();
    // The buffer owns its data record, which each draw fills.
    gs_vb_data *data = gs_vbdata_create();
    data->num = overlay_max_vertices;
    data->points = static_cast<vec3 *>(bzalloc(sizeof(vec3) * overlay_max_vertices));
    buffer_.reset(gs_vertexbuffer_create(data, GS_DYNAMIC));
    // The host's own effect, never ours to destroy.
    if (gs_effect_t *solid = obs_get_base_effect(OBS_EFFECT_SOLID)) {
        technique_ = gs_effect_get_technique(solid, "Solid");
        colour_ = gs_effect_get_param_by_name(solid, "color");
    }
    obs_leave_graphics();
}

void setup_view_drawer::draw(const overlay_data &data, uint32_t drawn_width,
                             uint32_t drawn_height) {
    if (!ready())
        return;
    build_overlay(data, static_cast<int32_t>(drawn_width), static_cast<int32_t>(drawn_height),
                  mesh_);
    if (mesh_.batch_count == 0)
        return;

    vec3 *points = gs_vertexbuffer_get_data(buffer_.get())->points;
    for (size_t i = 0; i < mesh_.vertices.size(); ++i)
        vec3_set(&points[i], mesh_.vertices[i].x, mesh_.vertices[i].y, 0.0f);
    // Sent whole: a shorter upload (gs_vertexbuffer_flush_direct) works on OpenGL, but the other
    // graphics modules are unchecked.
    gs_vertexbuffer_flush(buffer_.get());

    // Opaque colours written as they are: a scene item's blending, or sRGB-encoding writes, would
    // otherwise change them.
    gs_blend_state_push();
    gs_enable_blending(false);
    const bool srgb_writes = gs_framebuffer_srgb_enabled();
    gs_enable_framebuffer_srgb(false);

    gs_load_vertexbuffer(buffer_.get());
    gs_load_indexbuffer(nullptr);
    gs_technique_begin(technique_);
    gs_technique_begin_pass(technique_, 0);
    for (uint32_t b = 0; b < mesh_.batch_count; ++b) {
        const overlay_batch &batch = mesh_.batches[b];
        const overlay_colour c = overlay_layer_colour(batch.layer);
        vec4 colour;
        vec4_set(&colour, c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, 1.0f);
        // Set inside the pass: gs_draw uploads changed parameters itself.
        gs_effect_set_vec4(colour_, &colour);
        gs_draw(GS_TRIS, batch.first_vertex, batch.vertex_count);
    }
    gs_technique_end_pass(technique_);
    gs_technique_end(technique_);
    gs_load_vertexbuffer(nullptr);

    gs_enable_framebuffer_srgb(srgb_writes);
    gs_blend_state_pop();
}

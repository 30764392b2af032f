#pragma once

// Draws the setup view's lines with the host's solid effect over what the filter has just drawn.
#include "filter/host_handles.h"
#include "zoom/overlay_geometry.h"

class setup_view_drawer {
public:
    // Makes the vertex buffer, sized once for the fullest view, inside the graphics context;
    // ready() tells whether that worked.
    setup_view_drawer();
    setup_view_drawer(const setup_view_drawer &) = delete;
    setup_view_drawer &operator=(const setup_view_drawer &) = delete;

    bool ready() const { return buffer_ && technique_ && colour_; }

    // From video_render, after obs_source_process_filter_end (only when its begin succeeded), in
    // the filter's own pixels: the caller's projection and world matrix already map them onto
    // the drawn picture. Allocates nothing; leaves blend state and sRGB writes as it found them.
    void draw(const overlay_data &data, uint32_t drawn_width, uint32_t drawn_height);

private:
    overlay_mesh mesh_;
    vertbuffer_ptr buffer_;
    gs_technique_t *technique_ = nullptr;
    gs_eparam_t *colour_ = nullptr;
};

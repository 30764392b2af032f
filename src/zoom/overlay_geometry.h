#pragma once

// The setup view's lines as coloured triangles in the drawn picture's pixels (origin top-left, y
// downward), and what a tick hands the render for them. Host-free: the glue only uploads the
// triangles and draws each batch in its colour.
#include "detect/tracking.h"
#include "zoom/zoom_step.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct overlay_rect {
    bool valid;
    float left;
    float top;
    float width;
    float height;
};

// What the view shows, in pixels of a `width` x `height` picture.
struct overlay_data {
    int32_t width = 0;
    int32_t height = 0;
    pass_markers markers{};      // what the last pass saw
    overlay_rect target{};       // the crop the pair asks for
    overlay_rect current_crop{}; // the crop the smoothing shows now
    bool none_found = false;     // the last pass found neither tag
};

// The view after a tick, in pixels of the frame the last pass saw (of the newest frame before
// any pass): its markers, the target, `shown` (the crop the tick handed on) and the loss.
overlay_data setup_view_data(const pass_markers &markers, const tracking_status &status,
                             const crop_parameters &shown, int32_t frame_width,
                             int32_t frame_height);

// In drawing order: every halo first, so that no halo covers another line's core; the current
// crop's dashes over the target's line, so that both show once the crop has arrived.
enum class overlay_layer : uint8_t {
    halo,
    target,
    current_crop,
    other_marker,
    marker_a,
    marker_b,
    none_found,
    count,
};
inline constexpr size_t overlay_layer_count = static_cast<size_t>(overlay_layer::count);

struct overlay_colour {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};

// Opaque sRGB colours.
overlay_colour overlay_layer_colour(overlay_layer layer);

struct overlay_point {
    float x;
    float y;
};

// A straight line before thickening and clipping.
struct overlay_stroke {
    overlay_point from;
    overlay_point to;
    overlay_layer layer;
    float half_width; // of the core; the halo adds overlay_halo_margin on each side
    bool square_caps; // extended by the half width at both ends, so that joins close
};

// One draw: `vertex_count` vertices from `first_vertex`, three per triangle.
struct overlay_batch {
    overlay_layer layer;
    uint32_t first_vertex;
    uint32_t vertex_count;
};

inline constexpr uint32_t overlay_max_markers = pass_markers::capacity;
// Ids of the families have at most two digits; wider ones show as dashes.
inline constexpr uint32_t overlay_max_id_digits = 3;
inline constexpr uint32_t overlay_max_dashes_per_edge = 24;
// Per marker 4 edges and 3 digits of up to 7 segments; 4 target edges; the dashes of the crop;
// the none-found frame and cross.
inline constexpr uint32_t overlay_max_strokes =
    overlay_max_markers * (4 + overlay_max_id_digits * 7) + 4 + 4 * overlay_max_dashes_per_edge + 6;
// Each stroke is drawn twice (halo and core) as a quad of two triangles.
inline constexpr uint32_t overlay_max_vertices = overlay_max_strokes * 2 * 6;

struct overlay_mesh {
    std::vector<overlay_stroke> strokes; // before clipping
    std::vector<overlay_point> vertices; // triangle list
    std::array<overlay_batch, overlay_layer_count> batches{};
    uint32_t batch_count = 0;
    uint32_t dropped = 0; // strokes and quads beyond the reserve; none by construction

    // Reserved once, so that building never allocates.
    overlay_mesh() {
        strokes.reserve(overlay_max_strokes);
        vertices.reserve(overlay_max_vertices);
    }
};

// Line thickness in picture pixels: grows with the picture, so that lines stay visible when the
// host scales it down, and never below two pixels.
float overlay_line_thickness(int32_t width, int32_t height);
// Dark border on each side of every line, so that lines read on light and dark pictures alike.
float overlay_halo_margin(float thickness);

// A digit's cell, in line thicknesses.
inline constexpr float overlay_digit_width = 6.0f;
inline constexpr float overlay_digit_height = 11.0f;
inline constexpr float overlay_digit_advance = overlay_digit_width + 2.0f;

// Seven-segment bits (bit 0 = a, top; then b to f clockwise; bit 6 = g, middle) of a digit 0-9;
// anything else gives the dash (g alone).
uint8_t overlay_digit_segments(int digit);

// Replaces `mesh`'s contents with the view of `data` drawn at `drawn_width` x `drawn_height`
// (coordinates scale from the data's picture to it). Every vertex lies inside the drawn picture,
// so that nothing spills over neighbouring sources on the canvas. Empty data gives no batch.
void build_overlay(const overlay_data &data, int32_t drawn_width, int32_t drawn_height,
                   overlay_mesh &mesh);

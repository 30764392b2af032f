#include "zoom/overlay_geometry.h"

#include <algorithm>
#include <cmath>

namespace {

// The preview tool's colours, so that both read alike. Every core is bright and sits on a black
// halo, which keeps it readable on white paper and in a dark room alike.
constexpr std::array<overlay_colour, overlay_layer_count> layer_colours{{
    {0, 0, 0},       // halo
    {255, 255, 255}, // target
    {255, 215, 0},   // current crop, dashed
    {170, 170, 170}, // marker of another id
    {60, 230, 90},   // tag A
    {255, 120, 200}, // tag B
    {255, 40, 40},   // none found
}};

// Shorter side per line pixel: 2 px at 360p, 4 at 1080p.
constexpr float lines_per_side = 270.0f;
constexpr float min_thickness = 2.0f;
// A dash and its gap, in line thicknesses.
constexpr float dash_period = 10.0f;

bool finite(float v) {
    return std::isfinite(v);
}

struct scale {
    float x;
    float y;
    overlay_point operator()(tag_point p) const { return {p.x * x, p.y * y}; }
};

struct stroke_sink {
    overlay_mesh &mesh;
    void add(overlay_point from, overlay_point to, overlay_layer layer, float half_width,
             bool square_caps) {
        // The worst case fits by construction; the guard keeps the reserved storage in place.
        if (mesh.strokes.size() < overlay_max_strokes)
            mesh.strokes.push_back({from, to, layer, half_width, square_caps});
        else
            ++mesh.dropped;
    }
};

using quad_points = std::array<overlay_point, 4>;

void add_outline(stroke_sink &sink, const quad_points &c, overlay_layer layer, float half_width) {
    for (size_t i = 0; i < 4; ++i)
        sink.add(c[i], c[(i + 1) % 4], layer, half_width, true);
}

void add_digit(stroke_sink &sink, uint8_t segments, float left, float top, float t,
               overlay_layer layer) {
    const float x0 = left + t / 2, x1 = left + overlay_digit_width * t - t / 2;
    const float y0 = top + t / 2, ym = top + overlay_digit_height * t / 2,
                y1 = top + overlay_digit_height * t - t / 2;
    const std::array<std::array<overlay_point, 2>, 7> ends{{
        {{{x0, y0}, {x1, y0}}}, // a
        {{{x1, y0}, {x1, ym}}}, // b
        {{{x1, ym}, {x1, y1}}}, // c
        {{{x0, y1}, {x1, y1}}}, // d
        {{{x0, ym}, {x0, y1}}}, // e
        {{{x0, y0}, {x0, ym}}}, // f
        {{{x0, ym}, {x1, ym}}}, // g
    }};
    for (size_t s = 0; s < ends.size(); ++s)
        if (segments & (1u << s))
            sink.add(ends[s][0], ends[s][1], layer, t / 2, true);
}

// The id beside the marker: above it, or below when there is no room above, kept inside.
void add_label(stroke_sink &sink, int32_t id, const quad_points &c, float t, float margin,
               float width, float height, overlay_layer layer) {
    std::array<uint8_t, overlay_max_id_digits> glyphs{};
    uint32_t n = 0;
    if (id >= 0 && id < 1000) {
        std::array<int32_t, overlay_max_id_digits> digits{};
        for (int32_t v = id;; v /= 10) {
            digits[n++] = v % 10;
            if (v < 10)
                break;
        }
        for (uint32_t k = 0; k < n; ++k)
            glyphs[k] = overlay_digit_segments(digits[n - 1 - k]);
    } else {
        n = overlay_max_id_digits;
        glyphs.fill(overlay_digit_segments(-1));
    }
    float min_x = c[0].x, max_x = c[0].x, min_y = c[0].y, max_y = c[0].y;
    for (const overlay_point &p : c) {
        min_x = std::min(min_x, p.x);
        max_x = std::max(max_x, p.x);
        min_y = std::min(min_y, p.y);
        max_y = std::max(max_y, p.y);
    }
    const float label_w = (static_cast<float>(n) * overlay_digit_advance - 2.0f) * t;
    const float label_h = overlay_digit_height * t;
    // Clears the outline's halo and the label's own.
    const float gap = 2.0f * t + margin;
    float top = min_y - gap - label_h;
    if (top < margin)
        top = max_y + gap;
    top = std::max(margin, std::min(top, height - margin - label_h));
    const float left = std::max(margin, std::min(min_x, width - margin - label_w));
    for (uint32_t k = 0; k < n; ++k)
        add_digit(sink, glyphs[k], left + static_cast<float>(k) * overlay_digit_advance * t, top, t,
                  layer);
}

// The rectangle's outline lies inside it, halo included, so that a crop of the whole picture
// stays visible along the picture's edges.
bool inner_corners(const overlay_rect &r, float inset, quad_points &c) {
    const float l = r.left + inset, t = r.top + inset;
    const float rr = r.left + r.width - inset, b = r.top + r.height - inset;
    if (!(rr >= l && b >= t))
        return false;
    c = {{{l, t}, {rr, t}, {rr, b}, {l, b}}};
    return true;
}

void add_dashes(stroke_sink &sink, overlay_point p, overlay_point q, float t, float half_width,
                overlay_layer layer) {
    const float dx = q.x - p.x, dy = q.y - p.y;
    const float length = std::hypot(dx, dy);
    if (length <= 0.0f)
        return;
    // Dashes start and end at the corners, so that every corner reads; gaps are 2/3 of a dash.
    const long wanted = std::lround(length / (dash_period * t)) + 1;
    const long n = std::clamp<long>(wanted, 1, overlay_max_dashes_per_edge);
    const float dash = length / (static_cast<float>(n) + static_cast<float>(n - 1) * 2.0f / 3.0f);
    // Butt ends keep the dashes crisp; each edge's first dash reaches back past its corner to
    // close it, as the edges run around the rectangle.
    const float cap = half_width / length;
    for (long k = 0; k < n; ++k) {
        float s = static_cast<float>(k) * dash * 5.0f / 3.0f / length;
        const float e = k == n - 1 ? 1.0f : s + dash / length;
        if (k == 0)
            s -= cap;
        sink.add({p.x + dx * s, p.y + dy * s}, {p.x + dx * e, p.y + dy * e}, layer, half_width,
                 false);
    }
}

bool valid_rect(const overlay_rect &r) {
    return r.valid && finite(r.left) && finite(r.top) && finite(r.width) && finite(r.height) &&
           r.width > 0.0f && r.height > 0.0f;
}

overlay_rect scaled(const overlay_rect &r, scale s) {
    return {r.valid, r.left * s.x, r.top * s.y, r.width * s.x, r.height * s.y};
}

// Liang-Barsky: keeps the part of a..b inside the box; false when none is.
bool clip_segment(overlay_point &a, overlay_point &b, float x0, float y0, float x1, float y1) {
    float t0 = 0.0f, t1 = 1.0f;
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float p[4] = {-dx, dx, -dy, dy};
    const float q[4] = {a.x - x0, x1 - a.x, a.y - y0, y1 - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0f) {
            if (q[i] < 0.0f)
                return false;
            continue;
        }
        const float r = q[i] / p[i];
        if (p[i] < 0.0f)
            t0 = std::max(t0, r);
        else
            t1 = std::min(t1, r);
        if (t0 > t1)
            return false;
    }
    const overlay_point start{a.x + dx * t0, a.y + dy * t0};
    b = {a.x + dx * t1, a.y + dy * t1};
    a = start;
    return true;
}

// One quad around the stroke at `half_width`, cut to the picture. The quad is its centre line
// swept along the perpendicular (nx, ny), so it lies inside the picture exactly when the line
// keeps |nx| from the left and right edges and |ny| from the top and bottom.
void emit_quad(overlay_mesh &mesh, const overlay_stroke &s, float half_width, float width,
               float height) {
    float dx = s.to.x - s.from.x, dy = s.to.y - s.from.y;
    const float length = std::hypot(dx, dy);
    if (length > 0.0f) {
        dx /= length;
        dy /= length;
    } else if (s.square_caps) {
        dx = 1.0f;
        dy = 0.0f;
    } else {
        return;
    }
    const float ext = s.square_caps ? half_width : 0.0f;
    overlay_point a{s.from.x - dx * ext, s.from.y - dy * ext};
    overlay_point b{s.to.x + dx * ext, s.to.y + dy * ext};
    const float nx = -dy * half_width, ny = dx * half_width;
    if (!clip_segment(a, b, std::fabs(nx), std::fabs(ny), width - std::fabs(nx),
                      height - std::fabs(ny)))
        return;
    const overlay_point p0{a.x + nx, a.y + ny}, p1{b.x + nx, b.y + ny};
    const overlay_point p2{b.x - nx, b.y - ny}, p3{a.x - nx, a.y - ny};
    if (mesh.vertices.size() + 6 > overlay_max_vertices) {
        ++mesh.dropped;
        return;
    }
    for (const overlay_point &v : {p0, p1, p2, p0, p2, p3})
        mesh.vertices.push_back(v);
}

overlay_layer layer_of(marker_role role) {
    switch (role) {
    case marker_role::a:
        return overlay_layer::marker_a;
    case marker_role::b:
        return overlay_layer::marker_b;
    default:
        return overlay_layer::other_marker;
    }
}

} // namespace

overlay_data setup_view_data(const pass_markers &markers, const tracking_status &status,
                             const crop_parameters &shown, int32_t frame_width,
                             int32_t frame_height) {
    overlay_data data;
    const bool pass_sized = markers.source_width > 0 && markers.source_height > 0;
    data.width = pass_sized ? markers.source_width : frame_width;
    data.height = pass_sized ? markers.source_height : frame_height;
    if (data.width <= 0 || data.height <= 0)
        return overlay_data{};
    const float w = static_cast<float>(data.width), h = static_cast<float>(data.height);
    data.markers = markers;
    if (status.target_valid) {
        // The target is in pixels of the frame it came from.
        const crop_rect &t = status.target_rect;
        const bool sized = status.target_frame_width > 0 && status.target_frame_height > 0;
        const float sx = sized ? w / static_cast<float>(status.target_frame_width) : 1.0f;
        const float sy = sized ? h / static_cast<float>(status.target_frame_height) : 1.0f;
        data.target = {true, (t.center_x - t.width / 2) * sx, (t.center_y - t.height / 2) * sy,
                       t.width * sx, t.height * sy};
    }
    data.current_crop = {true, shown.crop_offset_x * w, shown.crop_offset_y * h,
                         shown.crop_scale_x * w, shown.crop_scale_y * h};
    data.none_found = status.tags_lost;
    return data;
}

overlay_colour overlay_layer_colour(overlay_layer layer) {
    return layer_colours[std::min(static_cast<size_t>(layer), overlay_layer_count - 1)];
}

float overlay_line_thickness(int32_t width, int32_t height) {
    const float shorter = static_cast<float>(std::max(0, std::min(width, height)));
    return std::max(min_thickness, shorter / lines_per_side);
}

float overlay_halo_margin(float thickness) {
    return std::max(1.0f, thickness / 2.0f);
}

uint8_t overlay_digit_segments(int digit) {
    //                                       0     1     2     3     4     5     6     7     8     9
    static constexpr uint8_t segments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                             0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    return digit >= 0 && digit <= 9 ? segments[digit] : 0x40;
}

void build_overlay(const overlay_data &data, int32_t drawn_width, int32_t drawn_height,
                   overlay_mesh &mesh) {
    mesh.strokes.clear();
    mesh.vertices.clear();
    mesh.batch_count = 0;
    mesh.dropped = 0;
    if (data.width <= 0 || data.height <= 0 || drawn_width <= 0 || drawn_height <= 0)
        return;
    const float w = static_cast<float>(drawn_width), h = static_cast<float>(drawn_height);
    const scale to_drawn{w / static_cast<float>(data.width), h / static_cast<float>(data.height)};
    const float t = overlay_line_thickness(drawn_width, drawn_height);
    const float m = overlay_halo_margin(t);
    stroke_sink sink{mesh};

    quad_points c;
    if (valid_rect(data.target) && inner_corners(scaled(data.target, to_drawn), t / 2 + m, c))
        add_outline(sink, c, overlay_layer::target, t / 2);
    if (valid_rect(data.current_crop) &&
        inner_corners(scaled(data.current_crop, to_drawn), t / 2 + m, c))
        for (size_t i = 0; i < 4; ++i)
            add_dashes(sink, c[i], c[(i + 1) % 4], t, t / 2, overlay_layer::current_crop);

    const uint32_t markers = std::min(data.markers.count, overlay_max_markers);
    for (uint32_t i = 0; i < markers; ++i) {
        const seen_marker &marker = data.markers.markers[i];
        bool usable = true;
        for (size_t k = 0; k < 4; ++k) {
            c[k] = to_drawn(marker.quad.corners[k]);
            usable = usable && finite(c[k].x) && finite(c[k].y);
        }
        if (!usable)
            continue;
        const overlay_layer layer = layer_of(marker.role);
        add_outline(sink, c, layer, t / 2);
        add_label(sink, marker.id, c, t, m, w, h, layer);
    }

    if (data.none_found) {
        // Twice as thick as the other lines: the one thing a glance must not miss.
        const float hw = t;
        if (inner_corners({true, 0.0f, 0.0f, w, h}, hw + m, c)) {
            add_outline(sink, c, overlay_layer::none_found, hw);
            sink.add(c[0], c[2], overlay_layer::none_found, hw, true);
            sink.add(c[1], c[3], overlay_layer::none_found, hw, true);
        }
    }

    for (size_t layer = 0; layer < overlay_layer_count; ++layer) {
        const auto first = static_cast<uint32_t>(mesh.vertices.size());
        for (const overlay_stroke &s : mesh.strokes) {
            if (layer == static_cast<size_t>(overlay_layer::halo))
                emit_quad(mesh, s, s.half_width + m, w, h);
            else if (static_cast<size_t>(s.layer) == layer)
                emit_quad(mesh, s, s.half_width, w, h);
        }
        const auto count = static_cast<uint32_t>(mesh.vertices.size()) - first;
        if (count)
            mesh.batches[mesh.batch_count++] = {static_cast<overlay_layer>(layer), first, count};
    }
}

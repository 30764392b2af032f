#pragma once

// A plain reference rasteriser for the overlay's triangles: which layer a pixel centre shows, and
// whether it lies so near a triangle edge that a GPU may round it either way.
#include "zoom/overlay_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

struct raster_triangle {
    overlay_point p[3];
};

// Smallest signed distance from `q` to the triangle's edges: positive inside.
inline float inside_distance(const raster_triangle &t, overlay_point q) {
    const float area = (t.p[1].x - t.p[0].x) * (t.p[2].y - t.p[0].y) -
                       (t.p[1].y - t.p[0].y) * (t.p[2].x - t.p[0].x);
    if (area == 0.0f)
        return -1e30f;
    const float sign = area > 0.0f ? 1.0f : -1.0f;
    float d = 1e30f;
    for (int i = 0; i < 3; ++i) {
        const overlay_point a = t.p[i], b = t.p[(i + 1) % 3];
        const float len = std::hypot(b.x - a.x, b.y - a.y);
        const float e = ((b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x)) / len;
        d = std::min(d, sign * e);
    }
    return d;
}

inline std::vector<raster_triangle> batch_triangles(const overlay_mesh &mesh,
                                                    const overlay_batch &batch) {
    std::vector<raster_triangle> out;
    for (uint32_t i = batch.first_vertex; i + 2 < batch.first_vertex + batch.vertex_count; i += 3)
        out.push_back({{mesh.vertices[i], mesh.vertices[i + 1], mesh.vertices[i + 2]}});
    return out;
}

// Pixels whose centre, moved by (dx, dy), lies at least `margin` inside one of the triangles (a
// negative margin grows them).
inline std::vector<uint8_t> coverage(const std::vector<raster_triangle> &tris, int width,
                                     int height, float margin = 0.0f, float dx = 0.0f,
                                     float dy = 0.0f) {
    std::vector<uint8_t> mask(static_cast<size_t>(width) * height, 0);
    const float grow = std::max(0.0f, -margin) + std::max(std::fabs(dx), std::fabs(dy));
    for (const raster_triangle &t : tris) {
        float x0 = t.p[0].x, x1 = x0, y0 = t.p[0].y, y1 = y0;
        for (const overlay_point &p : t.p) {
            x0 = std::min(x0, p.x);
            x1 = std::max(x1, p.x);
            y0 = std::min(y0, p.y);
            y1 = std::max(y1, p.y);
        }
        const int ix0 = std::max(0, static_cast<int>(std::floor(x0 - grow - 1)));
        const int iy0 = std::max(0, static_cast<int>(std::floor(y0 - grow - 1)));
        const int ix1 = std::min(width - 1, static_cast<int>(std::ceil(x1 + grow + 1)));
        const int iy1 = std::min(height - 1, static_cast<int>(std::ceil(y1 + grow + 1)));
        for (int y = iy0; y <= iy1; ++y)
            for (int x = ix0; x <= ix1; ++x) {
                uint8_t &m = mask[static_cast<size_t>(y) * width + x];
                if (!m && inside_distance(t, {x + 0.5f + dx, y + 0.5f + dy}) >= margin)
                    m = 1;
            }
    }
    return mask;
}

inline std::vector<raster_triangle> layer_triangles(const overlay_mesh &mesh, overlay_layer layer) {
    std::vector<raster_triangle> out;
    for (uint32_t b = 0; b < mesh.batch_count; ++b)
        if (mesh.batches[b].layer == layer) {
            const std::vector<raster_triangle> t = batch_triangles(mesh, mesh.batches[b]);
            out.insert(out.end(), t.begin(), t.end());
        }
    return out;
}

inline std::vector<raster_triangle> all_triangles(const overlay_mesh &mesh) {
    std::vector<raster_triangle> out;
    for (uint32_t b = 0; b < mesh.batch_count; ++b) {
        const std::vector<raster_triangle> t = batch_triangles(mesh, mesh.batches[b]);
        out.insert(out.end(), t.begin(), t.end());
    }
    return out;
}

// What each pixel should show: -1 for the picture, else the topmost layer over its centre; and
// whether a triangle edge passes within `slack` pixels of it (either answer is then fair).
struct raster_view {
    int width = 0;
    int height = 0;
    std::vector<int8_t> layer;
    std::vector<uint8_t> uncertain;
};

inline raster_view rasterise(const overlay_mesh &mesh, int width, int height, float slack = 1.0f) {
    raster_view view{width, height, std::vector<int8_t>(static_cast<size_t>(width) * height, -1),
                     std::vector<uint8_t>(static_cast<size_t>(width) * height, 0)};
    for (uint32_t b = 0; b < mesh.batch_count; ++b) {
        const std::vector<raster_triangle> tris = batch_triangles(mesh, mesh.batches[b]);
        const std::vector<uint8_t> in = coverage(tris, width, height);
        const std::vector<uint8_t> near = coverage(tris, width, height, -slack);
        // Certainly inside the batch's union when points `slack` away all are: triangles of one
        // quad share a diagonal, so no single triangle's margin can tell that.
        std::vector<uint8_t> certain(in);
        for (int oy = -1; oy <= 1; ++oy)
            for (int ox = -1; ox <= 1; ++ox) {
                if (!ox && !oy)
                    continue;
                const std::vector<uint8_t> moved =
                    coverage(tris, width, height, 0.0f, ox * slack, oy * slack);
                for (size_t i = 0; i < certain.size(); ++i)
                    certain[i] &= moved[i];
            }
        for (size_t i = 0; i < in.size(); ++i) {
            if (in[i])
                view.layer[i] = static_cast<int8_t>(mesh.batches[b].layer);
            // A batch drawn later and certainly over the pixel settles what earlier ones left open.
            if (certain[i])
                view.uncertain[i] = 0;
            else if (near[i])
                view.uncertain[i] = 1;
        }
    }
    return view;
}

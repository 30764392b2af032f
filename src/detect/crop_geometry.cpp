#include "detect/crop_geometry.h"

#include <cmath>

// Every constant is single precision on purpose: the results are compared
// bit for bit across builds (the build also turns off fused multiply-add).
namespace {

constexpr float centre_epsilon = 1e-9f;
constexpr float no_projection = -1e30f;
constexpr float inset_divisor = 6.0f;
constexpr float fallback_aspect = 16.0f / 9.0f;
constexpr float min_size = 2.0f;
constexpr float min_fraction = 0.05f;
constexpr float max_fraction = 0.95f;

float side(const tag_point &from, const tag_point &to) {
    return hypotf(to.x - from.x, to.y - from.y);
}

float nearest_approach(const tag_quad &tag_a, const tag_quad &tag_b) {
    float d = INFINITY;
    for (const tag_point &a : tag_a.corners) {
        for (const tag_point &b : tag_b.corners) {
            d = fminf(d, hypotf(a.x - b.x, a.y - b.y));
        }
    }
    return d;
}

bool quad_is_finite(const tag_quad &quad) {
    bool finite = std::isfinite(quad.center_x) && std::isfinite(quad.center_y);
    for (const tag_point &c : quad.corners) {
        finite = finite && std::isfinite(c.x) && std::isfinite(c.y);
    }
    return finite;
}

float output_aspect(int32_t source_width, int32_t source_height, uint32_t canvas_width,
                    uint32_t canvas_height, crop_shape_kind shape) {
    float r = fallback_aspect;
    if (source_height > 0) {
        r = static_cast<float>(source_width) / static_cast<float>(source_height);
    }
    if (shape == crop_shape_kind::canvas && canvas_width != 0 && canvas_height != 0) {
        r = static_cast<float>(canvas_width) / static_cast<float>(canvas_height);
    }
    return r;
}

} // namespace

tag_point tag_inner_corner(const tag_quad &quad, float target_x, float target_y) {
    const float dx = target_x - quad.center_x;
    const float dy = target_y - quad.center_y;
    const float len = sqrtf(dy * dy + dx * dx);
    if (len <= centre_epsilon) {
        return {quad.center_x, quad.center_y};
    }
    const float ux = dx / len;
    const float uy = dy / len;
    float best = no_projection;
    int index = 0;
    for (int i = 0; i < 4; ++i) {
        const tag_point &c = quad.corners[i];
        const float proj = (c.x - quad.center_x) * ux + (c.y - quad.center_y) * uy;
        if (proj > best) {
            best = proj;
            index = i;
        }
    }
    return quad.corners[index];
}

float tag_mean_side(const tag_quad &quad) {
    const tag_point *c = quad.corners;
    return (side(c[0], c[1]) + side(c[1], c[2]) + side(c[2], c[3]) + side(c[3], c[0])) * 0.25f;
}

bool crop_rect_from_box(float min_x, float min_y, float max_x, float max_y, int32_t detect_width,
                        int32_t detect_height, int32_t source_width, int32_t source_height,
                        float aspect, float inset, crop_target *out) {
    if (out == nullptr) {
        return false;
    }
    out->valid = false;
    if (detect_width <= 0 || detect_height <= 0 || source_width <= 0 || source_height <= 0) {
        return false;
    }
    const float dw = static_cast<float>(detect_width);
    const float dh = static_cast<float>(detect_height);
    const float sw = static_cast<float>(source_width);
    const float sh = static_cast<float>(source_height);

    const float sx = sw / dw;
    const float sy = sh / dh;
    const float cx = (sx * max_x + sx * min_x) * 0.5f;
    const float cy = (sy * max_y + sy * min_y) * 0.5f;
    const float w = fmaxf(sx * max_x - sx * min_x, min_size);
    const float h = fmaxf(sy * max_y - sy * min_y, min_size);

    const float a = (std::isfinite(aspect) && aspect > 0.0f) ? aspect : sw / sh;

    // The smallest rectangle of aspect a around the box.
    const float fit_w = (a >= w / h) ? h * a : w;

    const float max_inset = (fit_w > min_size) ? (fit_w - min_size) * 0.5f : 0.0f;
    const float p = fminf(fmaxf(inset, 0.0f), max_inset);
    const float w2 = fmaxf(fit_w - 2.0f * p, min_size);
    const float h2 = fmaxf(w2 / a, min_size);

    const float low_w = min_fraction * sw;
    const float low_h = min_fraction * sh;
    const float cw = (low_w > w2) ? low_w : fminf(max_fraction * sw, w2);
    const float ch = (low_h > h2) ? low_h : fminf(max_fraction * sh, h2);

    const float hw = cw * 0.5f;
    const float hh = ch * 0.5f;
    const float ccx = (hw > cx) ? hw : fminf(sw - hw, cx);
    const float ccy = (hh > cy) ? hh : fminf(sh - hh, cy);

    const long left = lrintf(fmaxf(ccx - hw, 0.0f));
    const long top = lrintf(fmaxf(ccy - hh, 0.0f));
    const long right = lrintf(fminf(ccx + hw, sw));
    const long bottom = lrintf(fminf(ccy + hh, sh));
    if (right <= left || bottom <= top) {
        return false;
    }

    out->valid = true;
    out->center_x = (static_cast<float>(right) + static_cast<float>(left)) * 0.5f;
    out->center_y = (static_cast<float>(bottom) + static_cast<float>(top)) * 0.5f;
    out->width = static_cast<float>(right - left);
    out->height = static_cast<float>(bottom - top);
    return true;
}

crop_target crop_target_from_pair(const tag_quad &tag_a, const tag_quad &tag_b,
                                  int32_t detect_width, int32_t detect_height, int32_t source_width,
                                  int32_t source_height, float padding, uint32_t canvas_width,
                                  uint32_t canvas_height, crop_shape_kind shape) {
    crop_target result{};
    result.valid = false;
    // fminf and fmaxf would quietly drop a NaN corner and frame some other
    // region; a tag that is not wholly known yields no crop.
    if (!quad_is_finite(tag_a) || !quad_is_finite(tag_b)) {
        return result;
    }

    const tag_point a = tag_inner_corner(tag_a, tag_b.center_x, tag_b.center_y);
    const tag_point b = tag_inner_corner(tag_b, tag_a.center_x, tag_a.center_y);
    const float min_x = fminf(a.x, b.x);
    const float min_y = fminf(a.y, b.y);
    const float max_x = fmaxf(a.x, b.x);
    const float max_y = fmaxf(a.y, b.y);

    float s = (tag_mean_side(tag_b) + tag_mean_side(tag_a)) * 0.5f;
    if (!std::isfinite(s) || !(s > 0.0f)) {
        s = 0.0f;
    }
    const float d = nearest_approach(tag_a, tag_b);
    const float r = output_aspect(source_width, source_height, canvas_width, canvas_height, shape);

    // Tags nearer than one side of a tag overlap or nearly so: their facing
    // corners no longer bracket a region.
    if (s > 0.0f && std::isfinite(d) && s > d) {
        return result;
    }

    const float p0 = (std::isfinite(padding) && padding >= 0.0f) ? padding : 0.0f;
    // The tag size is in detection pixels and applied unscaled as source pixels.
    const float inset = s / inset_divisor + p0;

    crop_rect_from_box(min_x, min_y, max_x, max_y, detect_width, detect_height, source_width,
                       source_height, r, inset, &result);
    return result;
}

#include "synthetic_scene.h"

#include <algorithm>
#include <apriltag.h>
#include <cmath>
#include <cstdlib>
#include <random>
#include <tag16h5.h>
#include <tagCircle21h7.h>

namespace {

constexpr float pi = 3.14159265f;
constexpr int32_t paper_margin = 1; // white modules around the marker's own grid
constexpr uint8_t ink = 28;
constexpr uint8_t paper = 238;

// Fixed-seed generator; only its raw integers are used, so every platform draws the same scene.
struct scene_random {
    std::mt19937 engine{20240611u};
    float unit() { return static_cast<float>(engine() >> 8) / 16777216.0f; }
};

float smoothstep(float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

float lerp(float a, float b, float t) {
    return a + (b - a) * t;
}

// Smooth value noise on a grid of `cell` pixels, tiled from a table of random values.
struct value_noise {
    int32_t cells_x = 0, cells_y = 0;
    float cell = 1.0f;
    std::vector<float> values;

    value_noise(scene_random &random, int32_t width, int32_t height, float cell_size)
        : cell(cell_size) {
        cells_x = static_cast<int32_t>(std::ceil(static_cast<float>(width) / cell)) + 2;
        cells_y = static_cast<int32_t>(std::ceil(static_cast<float>(height) / cell)) + 2;
        values.resize(static_cast<size_t>(cells_x) * cells_y);
        for (float &v : values)
            v = random.unit();
    }

    float at(float x, float y) const {
        const float gx = x / cell;
        const float gy = y / cell;
        const int32_t ix = static_cast<int32_t>(gx);
        const int32_t iy = static_cast<int32_t>(gy);
        const float fx = smoothstep(gx - static_cast<float>(ix));
        const float fy = smoothstep(gy - static_cast<float>(iy));
        auto v = [&](int32_t cx, int32_t cy) {
            return values[static_cast<size_t>(cy) * cells_x + cx];
        };
        return lerp(lerp(v(ix, iy), v(ix + 1, iy), fx), lerp(v(ix, iy + 1), v(ix + 1, iy + 1), fx),
                    fy);
    }
};

void put(rgba_image &image, int32_t x, int32_t y, float r, float g, float b) {
    uint8_t *p = image.row(y) + 4 * x;
    p[0] = static_cast<uint8_t>(std::clamp(std::lround(r), 0l, 255l));
    p[1] = static_cast<uint8_t>(std::clamp(std::lround(g), 0l, 255l));
    p[2] = static_cast<uint8_t>(std::clamp(std::lround(b), 0l, 255l));
    p[3] = 255;
}

// A wooden desk with a few things lying on it: texture at every scale, so that
// the picture is never flat wherever the crop lands.
rgba_image make_background(int32_t width, int32_t height) {
    scene_random random;
    const float unit = static_cast<float>(width) / 1280.0f;
    const value_noise coarse(random, width, height, 180.0f * unit);
    const value_noise middle(random, width, height, 45.0f * unit);
    const value_noise fine(random, width, height, 9.0f * unit);
    rgba_image image = make_rgba_image(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const float fx = static_cast<float>(x);
            const float fy = static_cast<float>(y);
            const float warp = coarse.at(fx, fy) * 40.0f * unit;
            const float grain =
                0.5f + 0.5f * std::sin((fy + warp) / (7.0f * unit) + middle.at(fx, fy) * 3.0f);
            const float tone = 0.55f * coarse.at(fx, fy) + 0.25f * grain + 0.2f * fine.at(fx, fy);
            put(image, x, y, 120.0f + 95.0f * tone, 88.0f + 70.0f * tone, 58.0f + 45.0f * tone);
        }
    }
    // Sticky notes, a notebook and cups.
    const float colours[][3] = {{242, 220, 80},  {90, 170, 230},  {230, 110, 120},
                                {120, 200, 130}, {245, 245, 240}, {60, 70, 90}};
    for (int32_t i = 0; i < 14; ++i) {
        const float *c = colours[i % 6];
        const float cx = random.unit() * static_cast<float>(width);
        const float cy = random.unit() * static_cast<float>(height);
        const float w = (30.0f + random.unit() * 120.0f) * unit;
        const float h = (30.0f + random.unit() * 90.0f) * unit;
        const bool round = i % 3 == 2;
        const float angle = (random.unit() - 0.5f) * 0.8f;
        const float ca = std::cos(angle), sa = std::sin(angle);
        const int32_t reach = static_cast<int32_t>(std::max(w, h));
        for (int32_t y = std::max(0, static_cast<int32_t>(cy) - reach);
             y < std::min(height, static_cast<int32_t>(cy) + reach); ++y) {
            for (int32_t x = std::max(0, static_cast<int32_t>(cx) - reach);
                 x < std::min(width, static_cast<int32_t>(cx) + reach); ++x) {
                const float dx = static_cast<float>(x) - cx;
                const float dy = static_cast<float>(y) - cy;
                const float u = dx * ca + dy * sa;
                const float v = -dx * sa + dy * ca;
                const bool inside =
                    round ? (u * u) / (w * w * 0.25f) + (v * v) / (w * w * 0.25f) < 1.0f
                          : std::fabs(u) < w * 0.5f && std::fabs(v) < h * 0.5f;
                if (!inside)
                    continue;
                const float shade =
                    0.85f + 0.15f * fine.at(static_cast<float>(x), static_cast<float>(y));
                const bool ruled =
                    !round && i % 6 == 4 && std::fmod(v + h, 9.0f * unit) < 1.2f * unit;
                const float k = ruled ? 0.6f : shade;
                put(image, x, y, c[0] * k, c[1] * k, c[2] * k);
            }
        }
    }
    return image;
}

// Modules that belong to the marker (the black square and every data bit);
// the library's picture leaves the rest of a circle marker black, but printed
// it is paper.
bool marker_modules(apriltag_family_t *family, int32_t id, std::vector<uint8_t> &dark,
                    int32_t &quad_first, int32_t &quad_modules) {
    if (id < 0 || static_cast<uint32_t>(id) >= family->ncodes)
        return false;
    image_u8_t *image = apriltag_to_image(family, static_cast<uint32_t>(id));
    if (image == nullptr)
        return false;
    const int32_t size = static_cast<int32_t>(family->total_width);
    const int32_t square =
        static_cast<int32_t>(family->width_at_border) + (family->reversed_border ? 2 : 0);
    const int32_t black_first = (size - square) / 2;
    const int32_t bit_offset = (size - static_cast<int32_t>(family->width_at_border)) / 2;
    quad_first = bit_offset;
    quad_modules = static_cast<int32_t>(family->width_at_border);
    std::vector<uint8_t> meaningful(static_cast<size_t>(size * size), 0);
    for (int32_t y = black_first; y < black_first + square; ++y)
        for (int32_t x = black_first; x < black_first + square; ++x)
            meaningful[static_cast<size_t>(y * size + x)] = 1;
    for (uint32_t i = 0; i < family->nbits; ++i)
        meaningful[static_cast<size_t>((static_cast<int32_t>(family->bit_y[i]) + bit_offset) *
                                           size +
                                       static_cast<int32_t>(family->bit_x[i]) + bit_offset)] = 1;
    dark.assign(static_cast<size_t>(size * size), 0);
    for (int32_t y = 0; y < size; ++y)
        for (int32_t x = 0; x < size; ++x)
            dark[static_cast<size_t>(y * size + x)] =
                meaningful[static_cast<size_t>(y * size + x)] &&
                image->buf[y * image->stride + x] < 128;
    // Debian's library does not export image_u8_destroy.
    free(image->buf);
    free(image);
    return true;
}

// Projective map of the unit square onto a quadrilateral (corners for (0,0),
// (1,0), (1,1), (0,1)), and its inverse.
struct homography {
    double m[9];
};

homography square_to_quad(const scene_point q[4]) {
    const double x0 = q[0].x, y0 = q[0].y, x1 = q[1].x, y1 = q[1].y;
    const double x2 = q[2].x, y2 = q[2].y, x3 = q[3].x, y3 = q[3].y;
    const double sx = x0 - x1 + x2 - x3;
    const double sy = y0 - y1 + y2 - y3;
    double g = 0.0, h = 0.0;
    if (std::fabs(sx) > 1e-9 || std::fabs(sy) > 1e-9) {
        const double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
        const double den = dx1 * dy2 - dx2 * dy1;
        g = (sx * dy2 - dx2 * sy) / den;
        h = (dx1 * sy - sx * dy1) / den;
    }
    return {{x1 - x0 + g * x1, x3 - x0 + h * x3, x0, y1 - y0 + g * y1, y3 - y0 + h * y3, y0, g, h,
             1.0}};
}

homography inverse(const homography &a) {
    const double *m = a.m;
    homography r{};
    r.m[0] = m[4] * m[8] - m[5] * m[7];
    r.m[1] = m[2] * m[7] - m[1] * m[8];
    r.m[2] = m[1] * m[5] - m[2] * m[4];
    r.m[3] = m[5] * m[6] - m[3] * m[8];
    r.m[4] = m[0] * m[8] - m[2] * m[6];
    r.m[5] = m[2] * m[3] - m[0] * m[5];
    r.m[6] = m[3] * m[7] - m[4] * m[6];
    r.m[7] = m[1] * m[6] - m[0] * m[7];
    r.m[8] = m[0] * m[4] - m[1] * m[3];
    return r; // the adjugate: a multiple of the inverse, enough for a projective map
}

scene_point apply(const homography &h, double x, double y) {
    const double w = h.m[6] * x + h.m[7] * y + h.m[8];
    return {static_cast<float>((h.m[0] * x + h.m[1] * y + h.m[2]) / w),
            static_cast<float>((h.m[3] * x + h.m[4] * y + h.m[5]) / w)};
}

// Corners of a square sheet of side `side` pixels centred on (cx, cy), turned
// by the pose's angles and seen through a pinhole camera.
void project_sheet(float cx, float cy, float side, const pair_pose &pose, float focal,
                   scene_point out[4]) {
    const float yaw = pose.yaw * pi / 180.0f;
    const float pitch = pose.pitch * pi / 180.0f;
    const float roll = pose.roll * pi / 180.0f;
    const float local[4][2] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
    for (int i = 0; i < 4; ++i) {
        float x = local[i][0] * side, y = local[i][1] * side, z = 0.0f;
        // yaw about the vertical axis, then pitch about the horizontal, then roll in the picture
        float x1 = x * std::cos(yaw) + z * std::sin(yaw);
        float z1 = -x * std::sin(yaw) + z * std::cos(yaw);
        float y2 = y * std::cos(pitch) - z1 * std::sin(pitch);
        float z2 = y * std::sin(pitch) + z1 * std::cos(pitch);
        float x3 = x1 * std::cos(roll) - y2 * std::sin(roll);
        float y3 = x1 * std::sin(roll) + y2 * std::cos(roll);
        const float depth = focal / (focal + z2);
        out[i] = {cx + x3 * depth, cy + y3 * depth};
    }
}

void draw_sheet(rgba_image &frame, const scene_point corners[4], const std::vector<uint8_t> &dark,
                int32_t modules) {
    const homography to_frame = square_to_quad(corners);
    const homography to_sheet = inverse(to_frame);
    const int32_t paper_modules = modules + 2 * paper_margin;
    float min_x = corners[0].x, max_x = corners[0].x, min_y = corners[0].y, max_y = corners[0].y;
    for (int i = 1; i < 4; ++i) {
        min_x = std::min(min_x, corners[i].x);
        max_x = std::max(max_x, corners[i].x);
        min_y = std::min(min_y, corners[i].y);
        max_y = std::max(max_y, corners[i].y);
    }
    const int32_t x_from = std::max(0, static_cast<int32_t>(std::floor(min_x)));
    const int32_t x_to = std::min(frame.width - 1, static_cast<int32_t>(std::ceil(max_x)));
    const int32_t y_from = std::max(0, static_cast<int32_t>(std::floor(min_y)));
    const int32_t y_to = std::min(frame.height - 1, static_cast<int32_t>(std::ceil(max_y)));
    constexpr float offsets[2] = {0.25f, 0.75f};
    for (int32_t y = y_from; y <= y_to; ++y) {
        for (int32_t x = x_from; x <= x_to; ++x) {
            uint8_t *p = frame.row(y) + 4 * x;
            float sum[3] = {0, 0, 0};
            int inside = 0;
            // Four samples per pixel: edges as a camera would see them, not stair steps.
            for (float oy : offsets) {
                for (float ox : offsets) {
                    const scene_point s =
                        apply(to_sheet, static_cast<double>(x) + static_cast<double>(ox),
                              static_cast<double>(y) + static_cast<double>(oy));
                    if (s.x < 0.0f || s.x >= 1.0f || s.y < 0.0f || s.y >= 1.0f) {
                        for (int c = 0; c < 3; ++c)
                            sum[c] += p[c];
                        continue;
                    }
                    ++inside;
                    const int32_t mx =
                        static_cast<int32_t>(s.x * static_cast<float>(paper_modules)) -
                        paper_margin;
                    const int32_t my =
                        static_cast<int32_t>(s.y * static_cast<float>(paper_modules)) -
                        paper_margin;
                    const bool is_ink = mx >= 0 && my >= 0 && mx < modules && my < modules &&
                                        dark[static_cast<size_t>(my * modules + mx)];
                    // A little shading across the sheet, as from a lamp at the top left.
                    const float light = 1.0f - 0.08f * (s.x + s.y) * 0.5f;
                    const float v = (is_ink ? ink : paper) * light;
                    for (float &c : sum)
                        c += v;
                }
            }
            if (inside == 0)
                continue;
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<uint8_t>(std::lround(sum[c] * 0.25f));
        }
    }
}

// A hand-coloured rounded block that slides up over tag B and away again.
void draw_cover(rgba_image &frame, float cx, float cy, float side) {
    const float half = side * 0.5f;
    const float radius = side * 0.25f;
    for (int32_t y = std::max(0, static_cast<int32_t>(cy - half) - 1);
         y <= std::min(frame.height - 1, static_cast<int32_t>(cy + half * 2.5f) + 1); ++y) {
        for (int32_t x = std::max(0, static_cast<int32_t>(cx - half) - 1);
             x <= std::min(frame.width - 1, static_cast<int32_t>(cx + half) + 1); ++x) {
            // The block reaches down out of the picture, like an arm.
            const float dx =
                std::max(std::fabs(static_cast<float>(x) + 0.5f - cx) - (half - radius), 0.0f);
            const float top = cy - half + radius;
            const float dy = std::max(top - (static_cast<float>(y) + 0.5f), 0.0f);
            const float edge = radius - std::hypot(dx, dy);
            const float coverage = std::clamp(edge + 0.5f, 0.0f, 1.0f);
            if (coverage <= 0.0f)
                continue;
            uint8_t *p = frame.row(y) + 4 * x;
            const float shade = 0.8f + 0.2f * std::clamp(edge / radius, 0.0f, 1.0f);
            const float skin[3] = {214.0f * shade, 168.0f * shade, 138.0f * shade};
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<uint8_t>(std::lround(p[c] + (skin[c] - p[c]) * coverage));
        }
    }
}

pair_pose mix(const pair_pose &a, const pair_pose &b, float t) {
    const float s = smoothstep(t);
    return {lerp(a.center_x, b.center_x, s), lerp(a.center_y, b.center_y, s),
            lerp(a.spread_x, b.spread_x, s), lerp(a.spread_y, b.spread_y, s),
            lerp(a.size, b.size, s),         lerp(a.yaw, b.yaw, s),
            lerp(a.pitch, b.pitch, s),       lerp(a.roll, b.roll, s)};
}

float sheet_side_px(const synthetic_scene &scene, const pair_pose &pose) {
    return pose.size * static_cast<float>(scene.height);
}

} // namespace

bool make_synthetic_scene(int32_t width, int32_t height, double seconds, double fps,
                          int32_t tag_family, int32_t tag_id_a, int32_t tag_id_b,
                          synthetic_scene &scene, std::string &error) {
    apriltag_family_t *family = tag_family == 1 ? tagCircle21h7_create() : tag16h5_create();
    if (family == nullptr) {
        error = "the marker family could not be created";
        return false;
    }
    const bool drawn =
        marker_modules(family, tag_id_a, scene.dark_a, scene.quad_first, scene.quad_modules) &&
        marker_modules(family, tag_id_b, scene.dark_b, scene.quad_first, scene.quad_modules);
    scene.modules = static_cast<int32_t>(family->total_width);
    if (tag_family == 1)
        tagCircle21h7_destroy(family);
    else
        tag16h5_destroy(family);
    if (!drawn) {
        error = "the markers could not be drawn";
        return false;
    }

    scene.width = width;
    scene.height = height;
    scene.fps = fps;
    scene.seconds = seconds;
    scene.frame_count = std::max(1, static_cast<int32_t>(std::lround(seconds * fps)));
    scene.background = make_background(width, height);

    // The story, stretched to the length asked for; the covered and the gone
    // stretches keep their real-world lengths when there is room.
    const double t = seconds;
    const double travel = std::min(0.4, 0.04 * t);
    const double gone = std::min(2.0, 0.2 * t);
    const double cover = std::min(0.8, 0.08 * t);
    const double slide = std::min(0.2, 0.02 * t);
    const float aspect = static_cast<float>(height) / static_cast<float>(width);
    const pair_pose start{0.50f, 0.50f, 0.30f, 0.25f, 0.20f, 0.0f, 0.0f, 0.0f};
    const pair_pose drift{0.44f, 0.47f, 0.26f, 0.22f, 0.18f, 0.0f, 0.0f, 4.0f};
    const pair_pose near{0.55f, 0.53f, 0.32f, 0.27f, 0.22f, 0.0f, 0.0f, -3.0f};
    const pair_pose tilt_a{0.52f, 0.50f, 0.30f, 0.24f, 0.21f, 40.0f, 15.0f, 8.0f};
    const pair_pose tilt_b{0.48f, 0.50f, 0.28f, 0.24f, 0.20f, -35.0f, -25.0f, -6.0f};
    const pair_pose still{0.50f, 0.50f, 0.30f, 0.25f, 0.20f, 0.0f, 0.0f, 0.0f};
    pair_pose away = still;
    away.center_x = 1.0f + still.spread_x + still.size * aspect + 0.05f;
    const pair_pose closer{0.47f, 0.52f, 0.22f, 0.18f, 0.24f, 0.0f, 0.0f, 2.0f};

    const double leave = 0.62 * t;
    scene.key_times = {0.0,
                       0.13 * t,
                       0.26 * t,
                       0.34 * t,
                       0.42 * t,
                       0.48 * t,
                       leave,
                       leave + travel,
                       leave + travel + gone,
                       leave + 2 * travel + gone,
                       t};
    scene.key_poses = {start, drift, near, tilt_a, tilt_b, still, still, away, away, still, closer};
    scene.gone_from = leave + travel;
    scene.gone_until = leave + travel + gone;
    scene.cover_full = 0.49 * t + slide;
    scene.cover_in = 0.49 * t;
    scene.cover_clear = scene.cover_full + cover;
    scene.cover_out = scene.cover_clear + slide;
    return true;
}

pair_pose scene_pose_at(const synthetic_scene &scene, double time) {
    const std::vector<double> &times = scene.key_times;
    if (time <= times.front())
        return scene.key_poses.front();
    for (size_t i = 1; i < times.size(); ++i) {
        if (time <= times[i]) {
            const double span = times[i] - times[i - 1];
            const float f = span > 0.0 ? static_cast<float>((time - times[i - 1]) / span) : 1.0f;
            return mix(scene.key_poses[i - 1], scene.key_poses[i], f);
        }
    }
    return scene.key_poses.back();
}

void render_scene_frame(const synthetic_scene &scene, int32_t index, rgba_image &out,
                        scene_marker markers[2]) {
    out = scene.background;
    const double time = static_cast<double>(index) / scene.fps;
    const pair_pose pose = scene_pose_at(scene, time);
    const float w = static_cast<float>(scene.width);
    const float h = static_cast<float>(scene.height);
    const float side = sheet_side_px(scene, pose);
    const float focal = 1.2f * w;
    const float centres[2][2] = {
        {(pose.center_x - pose.spread_x) * w, (pose.center_y - pose.spread_y) * h},
        {(pose.center_x + pose.spread_x) * w, (pose.center_y + pose.spread_y) * h}};
    const int32_t paper_modules = scene.modules + 2 * paper_margin;
    for (int m = 0; m < 2; ++m) {
        scene_point sheet[4];
        project_sheet(centres[m][0], centres[m][1], side, pose, focal, sheet);
        draw_sheet(out, sheet, m == 0 ? scene.dark_a : scene.dark_b, scene.modules);
        // The detector's square, through the same map as the sheet.
        const homography to_frame = square_to_quad(sheet);
        const float a =
            static_cast<float>(paper_margin + scene.quad_first) / static_cast<float>(paper_modules);
        const float b = static_cast<float>(paper_margin + scene.quad_first + scene.quad_modules) /
                        static_cast<float>(paper_modules);
        const float unit[4][2] = {{a, a}, {b, a}, {b, b}, {a, b}};
        bool inside = true;
        for (int i = 0; i < 4; ++i) {
            markers[m].corners[i] = apply(to_frame, unit[i][0], unit[i][1]);
            inside = inside && sheet[i].x >= 0.0f && sheet[i].y >= 0.0f && sheet[i].x < w &&
                     sheet[i].y < h;
        }
        markers[m].in_frame = inside;
    }
    if (time > scene.cover_in && time < scene.cover_out) {
        const double rise =
            time < scene.cover_full ? (time - scene.cover_in) / (scene.cover_full - scene.cover_in)
            : time > scene.cover_clear
                ? 1.0 - (time - scene.cover_clear) / (scene.cover_out - scene.cover_clear)
                : 1.0;
        const float cover_side = side * 1.6f;
        const float low = h + cover_side; // out of the picture below
        const float y = lerp(low, centres[1][1], smoothstep(static_cast<float>(rise)));
        draw_cover(out, centres[1][0], y, cover_side);
        if (time >= scene.cover_full && time <= scene.cover_clear)
            markers[1].in_frame = false;
    }
}

std::vector<scene_moment> scene_moments(const synthetic_scene &scene) {
    const double t = scene.seconds;
    const double covered = (scene.cover_full + scene.cover_clear) * 0.5;
    const double gone = scene.gone_from + (scene.gone_until - scene.gone_from) * 0.3;
    return {{0.10 * t, "following"},
            {scene.key_times[3], "tilted"},
            {covered, "tag B covered"},
            {gone, "both just gone"},
            {scene.gone_until - 0.05 * t, "both gone a while"},
            {0.97 * t, "back, closer"}};
}

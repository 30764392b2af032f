#include "synthetic_scene.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>

namespace {

constexpr float pi = 3.14159265f;
constexpr int32_t paper_margin = 1; // white modules around the marker's own grid
constexpr uint8_t ink = 28;
constexpr uint8_t paper = 238;
constexpr float lamp = 0.08f; // shading across the sheet, as from a lamp at the top left

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
    rgba_image image(width, height);
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

// Corners of a square sheet of side `side` pixels centred on (cx, cy), turned
// by the pose's angles and seen through a pinhole camera.
scene_quad project_sheet(float cx, float cy, float side, const pair_pose &pose, float focal) {
    scene_quad out;
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
        out[i] = {static_cast<double>(cx + x3 * depth), static_cast<double>(cy + y3 * depth)};
    }
    return out;
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
                          tag_family_kind family, int32_t tag_id_a, int32_t tag_id_b,
                          synthetic_scene &scene, std::string &error) {
    const tag_family_handle tags(family);
    if (!tags) {
        error = "the marker family could not be created";
        return false;
    }
    std::optional<marker_pattern> a = marker_pattern_of(tags.get(), tag_id_a, true);
    std::optional<marker_pattern> b = marker_pattern_of(tags.get(), tag_id_b, true);
    if (!a || !b) {
        error = "the markers could not be drawn";
        return false;
    }
    scene.pattern_a = std::move(*a);
    scene.pattern_b = std::move(*b);

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
    for (int m = 0; m < 2; ++m) {
        const marker_pattern &pattern = m == 0 ? scene.pattern_a : scene.pattern_b;
        const scene_quad sheet = project_sheet(centres[m][0], centres[m][1], side, pose, focal);
        // The grid sits inside the sheet's paper margin; the sheet's own map puts it there, so
        // the detector's square goes through the same map as the paper.
        const homography to_frame = homography::to_quad(sheet);
        const double a = static_cast<double>(paper_margin) / (pattern.modules + 2 * paper_margin);
        const scene_quad grid = {to_frame.map(a, a), to_frame.map(1 - a, a),
                                 to_frame.map(1 - a, 1 - a), to_frame.map(a, 1 - a)};
        draw_marker(out, pattern, grid, paper_margin, ink, paper, lamp);
        markers[m].corners = marker_detect_corners(pattern, grid);
        markers[m].in_frame = std::all_of(sheet.begin(), sheet.end(), [&](const scene_point &p) {
            return p.x >= 0.0 && p.y >= 0.0 && p.x < scene.width && p.y < scene.height;
        });
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

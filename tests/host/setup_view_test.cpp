// The setup view as the host draws it: off the lines the whole picture, the lines where the
// reference rasteriser puts the render's data and on the corners where the markers were drawn.
#include "host_harness.h"
#include "overlay_raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

constexpr int32_t width = 640, height = 360;
// Zoomed pictures are sampled bilinearly (see EndToEnd).
constexpr int crop_tolerance = 3;

class SetupView : public shown_filter {
protected:
    // The crop reaches the target in one tick, so that the view holds still once it has.
    SetupView() { obs_data_set_double(settings.get(), key_follow_half_life_ms, 0.0); }
    void add_filter(bool view) {
        obs_data_set_bool(settings.get(), key_show_setup_view, view);
        ASSERT_NO_FATAL_FAILURE(shown_filter::add_filter());
    }
    rgba_image drawn() const { return render_source(parent); }
};

// Host frames begun until `condition` held; -1 when it never did.
int frames_until(const std::function<bool()> &condition) {
    int frames = 0;
    uint64_t seen = obs_get_video_frame_time();
    const bool held = wait_until([&] {
        const uint64_t now = obs_get_video_frame_time();
        frames += now != seen;
        seen = now;
        return condition();
    });
    return held ? frames : -1;
}

bool has_colour(const uint8_t *p, overlay_layer layer) {
    const overlay_colour c = overlay_layer_colour(layer);
    return p[0] == c.r && p[1] == c.g && p[2] == c.b && p[3] == 255;
}

// Off the lines the picture exactly; on them, their colours exactly. Pixels whose centre lies
// within a sliver of a triangle's edge may go either way on a GPU and are left out.
void expect_picture_with_lines(const rgba_image &got, const rgba_image &picture,
                               const overlay_data &view) {
    ASSERT_EQ(std::pair(got.width, got.height), std::pair(picture.width, picture.height));
    overlay_mesh mesh;
    build_overlay(view, picture.width, picture.height, mesh);
    ASSERT_GT(mesh.batch_count, 0u) << "nothing to draw";
    const raster_view want = rasterise(mesh, picture.width, picture.height, 0.05f);
    size_t wrong = 0, lines = 0, skipped = 0;
    for (int32_t y = 0; y < picture.height; ++y)
        for (int32_t x = 0; x < picture.width; ++x) {
            const size_t i = static_cast<size_t>(y) * picture.width + x;
            if (want.uncertain[i]) {
                ++skipped;
                continue;
            }
            const int8_t layer = want.layer[i];
            lines += layer >= 0;
            const bool right = layer < 0 ? std::memcmp(got.at(x, y), picture.at(x, y), 4) == 0
                                         : has_colour(got.at(x, y), overlay_layer(layer));
            if (!right && ++wrong <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " (layer " << int{layer} << ") is "
                              << int{got.at(x, y)[0]} << "," << int{got.at(x, y)[1]} << ","
                              << int{got.at(x, y)[2]} << "," << int{got.at(x, y)[3]};
        }
    EXPECT_EQ(wrong, 0u) << "of " << lines << " line pixels and the rest";
    EXPECT_GT(lines, 1000u);
    EXPECT_LT(skipped, picture.pixels.size() / 4 / 50) << "too few pixels checked";
}

float segment_distance(float px, float py, tag_point a, tag_point b) {
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float u =
        std::clamp(((px - a.x) * dx + (py - a.y) * dy) / (dx * dx + dy * dy), 0.0f, 1.0f);
    return std::hypot(px - a.x - u * dx, py - a.y - u * dy);
}

// In a marker's colour: pixels near it on the outline between its drawn corners, one within two
// of each corner, the rest (its id) beside it, none astray.
void expect_outline_on(const rgba_image &got, const tag_quad &quad, overlay_layer layer) {
    const float t = overlay_line_thickness(got.width, got.height);
    const float reach = t / 2 * std::sqrt(2.0f) + 2.0f;
    float min_x = quad.corners[0].x, max_x = min_x, min_y = quad.corners[0].y, max_y = min_y;
    for (const tag_point &c : quad.corners) {
        min_x = std::min(min_x, c.x), max_x = std::max(max_x, c.x);
        min_y = std::min(min_y, c.y), max_y = std::max(max_y, c.y);
    }
    const float side = std::max(max_x - min_x, max_y - min_y);
    size_t on_outline = 0, beside = 0, astray = 0;
    float corner_gap[4] = {1e9f, 1e9f, 1e9f, 1e9f};
    for (int32_t y = 0; y < got.height; ++y)
        for (int32_t x = 0; x < got.width; ++x) {
            if (!has_colour(got.at(x, y), layer))
                continue;
            const float px = x + 0.5f, py = y + 0.5f;
            if (px < min_x - reach || px > max_x + reach || py < min_y - reach ||
                py > max_y + reach) {
                const bool near = std::hypot(px - quad.center_x, py - quad.center_y) < 2 * side;
                beside += near;
                astray += !near;
                continue;
            }
            float nearest = 1e9f;
            for (int i = 0; i < 4; ++i) {
                nearest = std::min(
                    nearest, segment_distance(px, py, quad.corners[i], quad.corners[(i + 1) % 4]));
                corner_gap[i] = std::min(
                    corner_gap[i], std::hypot(px - quad.corners[i].x, py - quad.corners[i].y));
            }
            EXPECT_LE(nearest, reach) << "pixel " << x << "," << y << " off the outline";
            ++on_outline;
        }
    EXPECT_GT(on_outline, static_cast<size_t>(4 * side * t * 0.8f));
    for (int i = 0; i < 4; ++i)
        EXPECT_LE(corner_gap[i], 2.0f) << "corner " << i;
    EXPECT_GT(beside, 0u) << "no id";
    EXPECT_EQ(astray, 0u);
}

// Markers A, B and id 2 outlined over the whole picture with both crops, whatever blending and
// sRGB writes the caller left on.
TEST_F(SetupView, ShowsTheWholePictureWithEachMarkerOutlinedOnItsCorners) {
    ASSERT_NO_FATAL_FAILURE(add_filter(true));
    const rgba_image picture = shifted_scene(tag_scene::pair, width, height);
    show(picture);
    ASSERT_TRUE(wait_until([&] {
        const filter_state s = state();
        return s.setup_view && s.overlay.markers.count == 3 && crop_on_target(s);
    })) << "the view never showed the three markers";
    const filter_state s = state();
    EXPECT_FALSE(s.overlay.none_found);
    EXPECT_TRUE(s.overlay.target.valid && s.overlay.current_crop.valid);

    const std::function<void()> additive_srgb = [] {
        gs_enable_blending(true);
        gs_blend_function(GS_BLEND_ONE, GS_BLEND_ONE);
        gs_enable_framebuffer_srgb(true);
    };
    for (const bool hostile : {false, true}) {
        SCOPED_TRACE(hostile ? "additive blending, sRGB writes" : "blending off");
        const rgba_image got =
            render_source(parent, 0, 0, hostile ? additive_srgb : std::function<void()>{});
        expect_picture_with_lines(got, picture, s.overlay);
        for (const placed_marker &m :
             make_tag_scene(tag_family_kind::tag16h5, tag_scene::pair, width, height).markers) {
            if (m.id > 1)
                continue;
            SCOPED_TRACE(m.id);
            expect_outline_on(got, expected_tag_quad(tag_family_kind::tag16h5, m.grid),
                              m.id == 0 ? overlay_layer::marker_a : overlay_layer::marker_b);
        }
    }
}

// No marker: the whole picture under the none-found sign, though hiding would hide it.
TEST_F(SetupView, ShowsTheNoneFoundSignWhenNoMarkerIsSeenAndNeverHides) {
    obs_data_set_bool(settings.get(), key_hide_without_both_tags, true);
    ASSERT_NO_FATAL_FAILURE(add_filter(true));
    const rgba_image picture = shifted_scene(tag_scene::empty, width, height);
    show(picture);
    ASSERT_TRUE(wait_until([&] { return state().overlay.none_found; }));
    const filter_state s = state();
    EXPECT_EQ(s.crop.crop_visibility, 0.0f) << "hiding is on, and the view ignores it";
    EXPECT_EQ(s.overlay.markers.count, 0u);
    const rgba_image got = drawn();
    expect_picture_with_lines(got, picture, s.overlay);
    // Red all along the four edges, a pixel or two in, and across the middle.
    const auto red = [&](int32_t x, int32_t y) {
        return has_colour(got.at(x, y), overlay_layer::none_found);
    };
    for (int32_t x = 8; x < width - 8; x += 5)
        EXPECT_TRUE(red(x, 3) && red(x, height - 4)) << x;
    for (int32_t y = 8; y < height - 8; y += 5)
        EXPECT_TRUE(red(3, y) && red(width - 4, y)) << y;
    EXPECT_TRUE(red(width / 2, height / 2));
    EXPECT_FALSE(red(width / 2, height / 4));
}

// Off, nothing is made for the view and the crop shows; switched, it takes effect next frame.
TEST_F(SetupView, SwitchingItOnAndOffTakesEffectWithinAFrame) {
    ASSERT_NO_FATAL_FAILURE(add_filter(false));
    const rgba_image picture = shifted_scene(tag_scene::pair, width, height);
    show(picture);
    ASSERT_TRUE(wait_until([&] { return crop_on_target(state()); }));
    EXPECT_LE(worst_difference(drawn(), crop_reference(picture, state().crop)), crop_tolerance);
    obs_enter_graphics();
    EXPECT_EQ(instance_of(filter)->graphics.setup_view, nullptr) << "made while the view is off";
    obs_leave_graphics();

    for (const bool on : {true, false, true}) {
        SCOPED_TRACE(on ? "on" : "off");
        obs_data_set_bool(settings.get(), key_show_setup_view, on);
        update();
        // Two frames when the update came just after a tick read the settings.
        const int frames = frames_until([&] { return state().setup_view == on; });
        EXPECT_GE(frames, 0) << "never switched";
        EXPECT_LE(frames, 2);
        const filter_state s = state();
        if (on)
            expect_picture_with_lines(drawn(), picture, s.overlay);
        else
            EXPECT_LE(worst_difference(drawn(), crop_reference(picture, s.crop)), crop_tolerance);
    }
}

// The README's picture (PINVALER_WRITE_DOCS=1): the view with the crop moving, and without markers.
TEST_F(SetupView, WritesTheReadmePicture) {
    if (!std::getenv("PINVALER_WRITE_DOCS"))
        GTEST_SKIP() << "set PINVALER_WRITE_DOCS=1 to write docs/setup-view.png";
    ASSERT_NO_FATAL_FAILURE(add_filter(true));
    const rgba_image found = shifted_scene(tag_scene::pair, width, height);
    show(found);
    ASSERT_TRUE(wait_until([&] { return crop_on_target(state()); }));
    obs_data_set_double(settings.get(), key_padding, 40.0);
    obs_data_set_double(settings.get(), key_follow_half_life_ms, 1500.0);
    update();
    const crop_rect before = state().status.target_rect;
    show(found);
    ASSERT_TRUE(wait_until([&] { return state().status.target_rect.width != before.width; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const rgba_image left = drawn();

    const rgba_image none = shifted_scene(tag_scene::empty, width, height);
    show(none);
    ASSERT_TRUE(wait_until([&] { return state().overlay.none_found; }));
    const rgba_image right = drawn();

    constexpr int32_t gap = 8;
    rgba_image sheet(2 * width + gap, height);
    std::fill(sheet.pixels.begin(), sheet.pixels.end(), uint8_t{255});
    for (int32_t y = 0; y < height; ++y) {
        std::copy_n(left.row(y), 4 * width, sheet.row(y));
        std::copy_n(right.row(y), 4 * width, sheet.at(width + gap, y));
    }
    EXPECT_TRUE(write_png(PINVALER_SOURCE_DIR "/docs/setup-view.png", sheet));
}

} // namespace

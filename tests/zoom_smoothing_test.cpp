#include "zoom/zoom_smoothing.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(ZoomAlpha, WorkedValues) {
    const float at_60 = 1.0f / 60, at_30 = 1.0f / 30; // seconds per frame
    const struct {
        float seconds, half_life_ms, alpha;
    } cases[] = {
        {at_60, 250, 0.04516f},  {at_30, 250, 0.08828f},  {0.25f, 250, 0.5f}, {0.5f, 250, 0.75f},
        {at_60, 1000, 0.01149f}, {at_60, 2000, 0.00576f}, {0, 250, 0},        {-0.1f, 250, 0},
        {1e6f, 250, 1},          {0.25f, 0, 1},           {NAN, 250, 0}};
    for (const auto &c : cases)
        EXPECT_NEAR(zoom_alpha(c.seconds, c.half_life_ms), c.alpha, 5e-6f)
            << c.seconds << " s at " << c.half_life_ms << " ms";
}

constexpr uint64_t now = 10'000'000'000ull;

struct rect {
    float cx, cy, w, h;
};

// One tick of 0.25 s at a 250 ms half-life (alpha one half) with both tags seen, aimed at
// `target` (none when empty) in pixels of the w x h frame.
zoom_inputs tick(rect target = {}, int32_t w = 1920, int32_t h = 1080) {
    zoom_inputs in{};
    in.follow_half_life_ms = 250, in.seconds = 0.25f, in.now_ns = now;
    in.was_visible = in.both_tags_seen = true, in.target_valid = target.w > 0;
    in.target_center_x = target.cx, in.target_center_y = target.cy;
    in.target_width = target.w, in.target_height = target.h;
    in.frame_width = in.target_frame_width = w, in.frame_height = in.target_frame_height = h;
    return in;
}

zoom_inputs lost(uint64_t since_ns, zoom_inputs in = tick()) {
    in.tags_lost = true, in.both_tags_seen = false, in.tags_lost_since_ns = since_ns;
    return in;
}

zoom_inputs hiding(bool was_visible, bool both_seen, zoom_inputs in) {
    in.hide_without_both_tags = true, in.was_visible = was_visible, in.both_tags_seen = both_seen;
    return in;
}

void expect_crop(const crop_parameters &got, const crop_parameters &want) {
    const float tol = 1e-6f;
    EXPECT_NEAR(got.crop_scale_x, want.crop_scale_x, tol);
    EXPECT_NEAR(got.crop_scale_y, want.crop_scale_y, tol);
    EXPECT_NEAR(got.crop_offset_x, want.crop_offset_x, tol);
    EXPECT_NEAR(got.crop_offset_y, want.crop_offset_y, tol);
    EXPECT_EQ(got.crop_visibility, want.crop_visibility);
}

// The middle quarter of a 1920x1080 frame.
const zoom_state middle = {true, 960, 540, 960, 540, 1920, 1080}, unset = {};

TEST(ZoomStep, TickTable) {
    const crop_parameters id = identity_crop(), id_hidden = {1, 1, 0, 0, 0};
    const crop_parameters mid = {0.5f, 0.5f, 0.25f, 0.25f, 1},
                          out = {0.75f, 0.75f, 0.125f, 0.125f, 1};
    const crop_parameters eased = {0.375f, 0.375f, 0.1875f, 0.1875f, 1};
    const crop_parameters eased_hidden = {0.375f, 0.375f, 0.1875f, 0.1875f, 0};
    const crop_parameters jumped = {0.25f, 0.25f, 0.125f, 0.125f, 1};
    const crop_parameters left_clip = {300.0f / 1920, 0.5f, 0, 0.25f, 1};
    const crop_parameters one_px = {1.0f / 1920, 0.5f, 959.5f / 1920, 0.25f, 1};
    const rect half = {480, 270, 480, 270}, eased_r = {720, 405, 720, 405}, zero = {};
    const rect out_r = {960, 540, 1440, 810}, mid_r = {960, 540, 960, 540};
    const rect whole = {960, 540, 1920, 1080}, at_left = {100, 540, 400, 540};
    const rect thin = {960, 540, 0.25f, 540}, outside = {-500, 540, 400, 540};
    zoom_inputs no_half_life = tick(half);
    no_half_life.follow_half_life_ms = 0;
    // The frame shrank from 1920x1080 to 1280x720 before the worker saw it: target and zoom in the
    // old frame's pixels must keep showing the same part of the picture.
    const rect far = {1500, 800, 400, 225},
               far_now = {1000, 800.0f * 720 / 1080, 400.0f * 2 / 3, 150};
    const crop_parameters far_view = {400.0f / 1920, 225.0f / 1080, 1300.0f / 1920, 687.5f / 1080,
                                      1};
    zoom_inputs shrunk = tick(far, 1280, 720);
    shrunk.target_frame_width = 1920, shrunk.target_frame_height = 1080;
    const zoom_state held_far = {true, 1500, 800, 400, 225, 1920, 1080};
    const zoom_state unsized = {true, 600, 300, 400, 200, 0, 0};
    const rect as_is = {600, 300, 400, 200};
    const crop_parameters unsized_view = {400.0f / 1280, 200.0f / 720, 400.0f / 1280, 200.0f / 720,
                                          1};
    const struct {
        const char *name;
        zoom_state before;
        zoom_inputs in;
        bool valid_after;
        rect after;
        crop_parameters crop;
    } cases[] = {
        {"first target jumps", unset, tick(mid_r), true, mid_r, mid},
        {"target eases", middle, tick(half), true, eased_r, eased},
        {"half-life 0 follows", middle, no_half_life, true, half, jumped},
        {"reacquire jumps", middle, hiding(false, true, tick(half)), true, half, jumped},
        {"hidden, still easing", middle, hiding(true, false, tick(half)), true, eased_r,
         eased_hidden},
        {"held under 0.8 s", middle, lost(now - 799'999'999), true, mid_r, mid},
        {"eases out at 0.8 s", middle, lost(now - 800'000'000), true, out_r, out},
        {"loss stamped after now", middle, lost(now + 1), true, out_r, out},
        {"both seen, no usable crop", middle, tick(), true, out_r, out},
        {"nothing to show", unset, lost(now - 1), false, zero, id},
        {"frame size unknown", middle, tick({}, 0, 0), false, mid_r, id},
        {"identity hidden too", unset, hiding(true, false, tick()), false, zero, id_hidden},
        {"clipped at the left edge", unset, tick(at_left), true, at_left, left_clip},
        {"whole frame", unset, tick(whole), true, whole, id},
        {"sub-pixel goal as one pixel", unset, tick(thin), true, thin, one_px},
        {"under 0.0001", unset, tick({8000, 0, 1, 9}, 16000, 9), true, {8000, 0, 1, 9}, id},
        {"wholly outside", unset, tick(outside), true, outside, id},
        {"target from the old frame", unset, shrunk, true, far_now, far_view},
        {"held zoom from the old frame", held_far, lost(now - 1, tick({}, 1280, 720)), true,
         far_now, far_view},
        {"unknown sizes as they are", unsized, lost(now - 1, tick({}, 1280, 720)), true, as_is,
         unsized_view},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        zoom_state s = c.before;
        expect_crop(zoom_step(s, c.in), c.crop);
        EXPECT_EQ(s.zoom_valid, c.valid_after);
        const bool rescaled = c.valid_after && (c.before.zoom_frame_width || c.in.target_valid);
        EXPECT_TRUE(!rescaled || (s.zoom_frame_width == c.in.frame_width &&
                                  s.zoom_frame_height == c.in.frame_height)); // in frame pixels
        for (const auto &[got, want] : {std::pair{s.zoom_center_x, c.after.cx},
                                        {s.zoom_center_y, c.after.cy},
                                        {s.zoom_width, c.after.w},
                                        {s.zoom_height, c.after.h}})
            EXPECT_NEAR(got, want, 1e-3f);
    }
}

} // namespace

#include "zoom/zoom_step.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(ZoomAlpha, WorkedValues) {
    const float at_60 = 1.0f / 60, at_30 = 1.0f / 30; // seconds per frame
    const struct {
        float seconds, half_life_ms, alpha;
    } cases[] = {
        {.seconds = at_60, .half_life_ms = 250, .alpha = 0.04516f},
        {.seconds = at_30, .half_life_ms = 250, .alpha = 0.08828f},
        {.seconds = 0.25f, .half_life_ms = 250, .alpha = 0.5f},
        {.seconds = 0.5f, .half_life_ms = 250, .alpha = 0.75f},
        {.seconds = at_60, .half_life_ms = 1000, .alpha = 0.01149f},
        {.seconds = at_60, .half_life_ms = 2000, .alpha = 0.00576f},
        {.seconds = 0, .half_life_ms = 250, .alpha = 0},
        {.seconds = -0.1f, .half_life_ms = 250, .alpha = 0},
        {.seconds = 1e6f, .half_life_ms = 250, .alpha = 1},
        {.seconds = 0.25f, .half_life_ms = 0, .alpha = 1},
        {.seconds = NAN, .half_life_ms = 250, .alpha = 0},
    };
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
    in.was_visible = in.status.both_tags_seen = true, in.status.target_valid = target.w > 0;
    in.status.target_rect = {target.cx, target.cy, target.w, target.h};
    in.frame_width = in.status.target_frame_width = w;
    in.frame_height = in.status.target_frame_height = h;
    return in;
}

zoom_inputs lost(uint64_t since_ns, zoom_inputs in = tick()) {
    in.status.tags_lost = true, in.status.both_tags_seen = false;
    in.status.tags_lost_since_ns = since_ns;
    return in;
}

zoom_inputs hiding(bool was_visible, bool both_seen, zoom_inputs in) {
    in.hide_without_both_tags = true, in.was_visible = was_visible;
    in.status.both_tags_seen = both_seen;
    return in;
}

zoom_inputs with(zoom_controls controls, zoom_inputs in) {
    in.controls = controls;
    return in;
}

zoom_state paused_at(zoom_state state, rect paused) {
    state.paused_valid = true;
    state.paused_center_x = paused.cx, state.paused_center_y = paused.cy;
    state.paused_width = paused.w, state.paused_height = paused.h;
    return state;
}

void expect_rect(float x, float y, float w, float h, const rect &want) {
    EXPECT_NEAR(x, want.cx, 1e-3f);
    EXPECT_NEAR(y, want.cy, 1e-3f);
    EXPECT_NEAR(w, want.w, 1e-3f);
    EXPECT_NEAR(h, want.h, 1e-3f);
}

// The middle quarter of a 1920x1080 frame.
const zoom_state middle = {true, 960, 540, 960, 540, 1920, 1080}, unset = {};

// A row's `to` is the crop state after the tick, empty when no crop is held; `paused` the
// paused crop after it, empty when not paused. Whole picture eases out at the half-life and wins
// over pause; a pause keeps the crop it began at while the target moves or goes.
TEST(ZoomStep, TickTable) {
    constexpr zoom_controls paused{.following_paused = true, .whole_picture = false};
    constexpr zoom_controls whole{.following_paused = false, .whole_picture = true};
    constexpr zoom_controls both{.following_paused = true, .whole_picture = true};
    const crop_parameters id = identity_crop(), id_hidden = {1, 1, 0, 0, 0};
    const crop_parameters mid = {0.5f, 0.5f, 0.25f, 0.25f, 1},
                          out = {0.75f, 0.75f, 0.125f, 0.125f, 1};
    const crop_parameters eased = {0.375f, 0.375f, 0.1875f, 0.1875f, 1};
    const crop_parameters jumped = {0.25f, 0.25f, 0.125f, 0.125f, 1};
    const rect half = {480, 270, 480, 270}, eased_r = {720, 405, 720, 405}, none = {};
    const rect out_r = {960, 540, 1440, 810}, mid_r = {960, 540, 960, 540};
    const rect whole_r = {960, 540, 1920, 1080}, at_left = {100, 540, 400, 540};
    const rect thin = {960, 540, 0.25f, 540}, outside = {-500, 540, 400, 540};
    zoom_inputs no_half_life = tick(half);
    no_half_life.follow_half_life_ms = 0;
    // 1920x1080 shrunk to 1280x720 before the worker saw it: the same part of the picture shows.
    const rect far = {1500, 800, 400, 225},
               far_now = {1000, 800.0f * 720 / 1080, 400.0f * 2 / 3, 150};
    const crop_parameters far_view = {400.0f / 1920, 225.0f / 1080, 1300.0f / 1920, 687.5f / 1080,
                                      1};
    zoom_inputs shrunk = tick(far, 1280, 720);
    shrunk.status.target_frame_width = 1920, shrunk.status.target_frame_height = 1080;
    const zoom_state held_far = {true, 1500, 800, 400, 225, 1920, 1080};
    const zoom_state unsized = {true, 600, 300, 400, 200, 0, 0};
    const rect as_is = {600, 300, 400, 200}, mid_small = {640, 360, 640, 360};
    const zoom_state at_whole = {true, 960, 540, 1920, 1080, 1920, 1080};
    const zoom_inputs small_lost = lost(now - 1, tick({}, 1280, 720)), to_half = tick(half);
    const zoom_inputs reacquired = hiding(false, true, to_half),
                      hidden = hiding(true, false, to_half);
    const zoom_inputs held = lost(now - 799'999'999), hold_over = lost(now - 800'000'000);
    const zoom_inputs hidden_none = hiding(true, false, tick());
    zoom_inputs unhidden = to_half; // shown whatever the tags, so nothing reappears to jump to
    unhidden.was_visible = false;
    const rect tiny = {8000, 0, 1, 9};
    const crop_parameters eased_hidden = {0.375f, 0.375f, 0.1875f, 0.1875f, 0};
    const crop_parameters mid_hidden = {0.5f, 0.5f, 0.25f, 0.25f, 0};
    const crop_parameters left_clip = {300.0f / 1920, 0.5f, 0, 0.25f, 1};
    const crop_parameters one_px = {1.0f / 1920, 0.5f, 959.5f / 1920, 0.25f, 1};
    const crop_parameters unsized_view = {400.0f / 1280, 200.0f / 720, 400.0f / 1280, 200.0f / 720,
                                          1};
    const struct {
        const char *name;
        zoom_state from;
        zoom_inputs in;
        rect to;
        crop_parameters crop;
        rect paused = {};
    } cases[] = {
        {.name = "first target jumps", .from = unset, .in = tick(mid_r), .to = mid_r, .crop = mid},
        {.name = "target eases", .from = middle, .in = to_half, .to = eased_r, .crop = eased},
        {.name = "half-life 0", .from = middle, .in = no_half_life, .to = half, .crop = jumped},
        {.name = "reacquire jumps", .from = middle, .in = reacquired, .to = half, .crop = jumped},
        {.name = "never hidden", .from = middle, .in = unhidden, .to = eased_r, .crop = eased},
        {.name = "hidden, easing",
         .from = middle,
         .in = hidden,
         .to = eased_r,
         .crop = eased_hidden},
        {.name = "held < 0.8 s", .from = middle, .in = held, .to = mid_r, .crop = mid},
        {.name = "out at 0.8 s", .from = middle, .in = hold_over, .to = out_r, .crop = out},
        {.name = "lost after now", .from = middle, .in = lost(now + 1), .to = out_r, .crop = out},
        {.name = "no usable crop", .from = middle, .in = tick(), .to = out_r, .crop = out},
        {.name = "nothing to show", .from = unset, .in = lost(now - 1), .to = none, .crop = id},
        {.name = "no frame size", .from = middle, .in = tick({}, 0, 0), .to = none, .crop = id},
        {.name = "identity hidden",
         .from = unset,
         .in = hidden_none,
         .to = none,
         .crop = id_hidden},
        {.name = "clipped", .from = unset, .in = tick(at_left), .to = at_left, .crop = left_clip},
        {.name = "whole frame", .from = unset, .in = tick(whole_r), .to = whole_r, .crop = id},
        {.name = "sub-pixel", .from = unset, .in = tick(thin), .to = thin, .crop = one_px},
        {.name = "under 0.0001", .from = unset, .in = tick(tiny, 16000, 9), .to = tiny, .crop = id},
        {.name = "wholly outside", .from = unset, .in = tick(outside), .to = outside, .crop = id},
        {.name = "target, old frame", .from = unset, .in = shrunk, .to = far_now, .crop = far_view},
        {.name = "held, old frame",
         .from = held_far,
         .in = small_lost,
         .to = far_now,
         .crop = far_view},
        {.name = "unknown sizes",
         .from = unsized,
         .in = small_lost,
         .to = as_is,
         .crop = unsized_view},
        {.name = "whole eases out",
         .from = middle,
         .in = with(whole, to_half),
         .to = out_r,
         .crop = out},
        {.name = "whole, no crop",
         .from = unset,
         .in = with(whole, to_half),
         .to = none,
         .crop = id},
        {.name = "pause holds",
         .from = middle,
         .in = with(paused, to_half),
         .to = mid_r,
         .crop = mid,
         .paused = mid_r},
        {.name = "pause, markers gone",
         .from = middle,
         .in = with(paused, lost(now - 2'000'000'000)),
         .to = mid_r,
         .crop = mid,
         .paused = mid_r},
        {.name = "pause, no crop",
         .from = unset,
         .in = with(paused, tick(mid_r)),
         .to = whole_r,
         .crop = id,
         .paused = whole_r},
        {.name = "whole over pause",
         .from = middle,
         .in = with(both, to_half),
         .to = out_r,
         .crop = out,
         .paused = mid_r},
        {.name = "back to paused",
         .from = paused_at(at_whole, mid_r),
         .in = with(paused, to_half),
         .to = out_r,
         .crop = out,
         .paused = mid_r},
        {.name = "resumed",
         .from = paused_at(middle, whole_r),
         .in = to_half,
         .to = eased_r,
         .crop = eased},
        {.name = "paused, new size",
         .from = paused_at(middle, mid_r),
         .in = with(paused, tick(half, 1280, 720)),
         .to = mid_small,
         .crop = mid,
         .paused = mid_small},
        {.name = "hidden, paused",
         .from = middle,
         .in = with(paused, hidden),
         .to = mid_r,
         .crop = mid_hidden,
         .paused = mid_r},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        zoom_state s = c.from;
        const crop_parameters got = zoom_step(s, c.in);
        EXPECT_NEAR(got.crop_scale_x, c.crop.crop_scale_x, 1e-6f);
        EXPECT_NEAR(got.crop_scale_y, c.crop.crop_scale_y, 1e-6f);
        EXPECT_NEAR(got.crop_offset_x, c.crop.crop_offset_x, 1e-6f);
        EXPECT_NEAR(got.crop_offset_y, c.crop.crop_offset_y, 1e-6f);
        EXPECT_EQ(got.crop_visibility, c.crop.crop_visibility);
        ASSERT_EQ(s.zoom_valid, c.to.w > 0);
        if (s.zoom_valid) {
            expect_rect(s.zoom_center_x, s.zoom_center_y, s.zoom_width, s.zoom_height, c.to);
            if (c.from.zoom_frame_width || c.in.status.target_valid) { // kept in frame pixels
                EXPECT_EQ(std::pair(s.zoom_frame_width, s.zoom_frame_height),
                          std::pair(c.in.frame_width, c.in.frame_height));
            }
        }
        ASSERT_EQ(s.paused_valid, c.paused.w > 0);
        if (s.paused_valid)
            expect_rect(s.paused_center_x, s.paused_center_y, s.paused_width, s.paused_height,
                        c.paused);
    }
}

// Held over many ticks, whole picture halves the distance to the whole frame once per half-life,
// and the crop comes back the same way when it is let go.
TEST(ZoomStep, WholePictureEasesOutAndBackAtTheHalfLife) {
    zoom_state s = middle;
    zoom_inputs in = tick({960, 540, 960, 540});
    in.seconds = 1.0f / 30;
    in.controls.whole_picture = true;
    for (int frame = 0; frame < 15; ++frame) // half a second: two half-lives
        zoom_step(s, in);
    EXPECT_NEAR(s.zoom_width, 1920 - 960 / 4.0f, 1.0f);
    in.controls.whole_picture = false;
    for (int frame = 0; frame < 15; ++frame)
        zoom_step(s, in);
    EXPECT_NEAR(s.zoom_width, 960 + (1920 - 960 / 4.0f - 960) / 4.0f, 1.0f);
}

} // namespace

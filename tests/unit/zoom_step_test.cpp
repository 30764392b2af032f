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
    shrunk.status.target_frame_width = 1920, shrunk.status.target_frame_height = 1080;
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
        {.name = "first target jumps",
         .before = unset,
         .in = tick(mid_r),
         .valid_after = true,
         .after = mid_r,
         .crop = mid},
        {.name = "target eases",
         .before = middle,
         .in = tick(half),
         .valid_after = true,
         .after = eased_r,
         .crop = eased},
        {.name = "half-life 0 follows",
         .before = middle,
         .in = no_half_life,
         .valid_after = true,
         .after = half,
         .crop = jumped},
        {.name = "reacquire jumps",
         .before = middle,
         .in = hiding(false, true, tick(half)),
         .valid_after = true,
         .after = half,
         .crop = jumped},
        {.name = "hidden, still easing",
         .before = middle,
         .in = hiding(true, false, tick(half)),
         .valid_after = true,
         .after = eased_r,
         .crop = eased_hidden},
        {.name = "held under 0.8 s",
         .before = middle,
         .in = lost(now - 799'999'999),
         .valid_after = true,
         .after = mid_r,
         .crop = mid},
        {.name = "eases out at 0.8 s",
         .before = middle,
         .in = lost(now - 800'000'000),
         .valid_after = true,
         .after = out_r,
         .crop = out},
        {.name = "loss stamped after now",
         .before = middle,
         .in = lost(now + 1),
         .valid_after = true,
         .after = out_r,
         .crop = out},
        {.name = "both seen, no usable crop",
         .before = middle,
         .in = tick(),
         .valid_after = true,
         .after = out_r,
         .crop = out},
        {.name = "nothing to show",
         .before = unset,
         .in = lost(now - 1),
         .valid_after = false,
         .after = zero,
         .crop = id},
        {.name = "frame size unknown",
         .before = middle,
         .in = tick({}, 0, 0),
         .valid_after = false,
         .after = mid_r,
         .crop = id},
        {.name = "identity hidden too",
         .before = unset,
         .in = hiding(true, false, tick()),
         .valid_after = false,
         .after = zero,
         .crop = id_hidden},
        {.name = "clipped at the left edge",
         .before = unset,
         .in = tick(at_left),
         .valid_after = true,
         .after = at_left,
         .crop = left_clip},
        {.name = "whole frame",
         .before = unset,
         .in = tick(whole),
         .valid_after = true,
         .after = whole,
         .crop = id},
        {.name = "sub-pixel goal as one pixel",
         .before = unset,
         .in = tick(thin),
         .valid_after = true,
         .after = thin,
         .crop = one_px},
        {.name = "under 0.0001",
         .before = unset,
         .in = tick({8000, 0, 1, 9}, 16000, 9),
         .valid_after = true,
         .after = {8000, 0, 1, 9},
         .crop = id},
        {.name = "wholly outside",
         .before = unset,
         .in = tick(outside),
         .valid_after = true,
         .after = outside,
         .crop = id},
        {.name = "target from the old frame",
         .before = unset,
         .in = shrunk,
         .valid_after = true,
         .after = far_now,
         .crop = far_view},
        {.name = "held zoom from the old frame",
         .before = held_far,
         .in = lost(now - 1, tick({}, 1280, 720)),
         .valid_after = true,
         .after = far_now,
         .crop = far_view},
        {.name = "unknown sizes as they are",
         .before = unsized,
         .in = lost(now - 1, tick({}, 1280, 720)),
         .valid_after = true,
         .after = as_is,
         .crop = unsized_view},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        zoom_state s = c.before;
        expect_crop(zoom_step(s, c.in), c.crop);
        EXPECT_EQ(s.zoom_valid, c.valid_after);
        const bool rescaled =
            c.valid_after && (c.before.zoom_frame_width || c.in.status.target_valid);
        EXPECT_TRUE(!rescaled || (s.zoom_frame_width == c.in.frame_width &&
                                  s.zoom_frame_height == c.in.frame_height)); // in frame pixels
        for (const auto &[got, want] : {std::pair{s.zoom_center_x, c.after.cx},
                                        {s.zoom_center_y, c.after.cy},
                                        {s.zoom_width, c.after.w},
                                        {s.zoom_height, c.after.h}})
            EXPECT_NEAR(got, want, 1e-3f);
    }
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

// The hotkeys: whole picture eases out at the half-life and wins over pause; a pause keeps the
// crop it began at while the target moves or goes, and the crop eases back to it after the whole
// picture; visibility stays the settings' affair.
TEST(ZoomStep, Controls) {
    constexpr zoom_controls paused{.following_paused = true, .whole_picture = false};
    constexpr zoom_controls whole{.following_paused = false, .whole_picture = true};
    constexpr zoom_controls both{.following_paused = true, .whole_picture = true};
    const rect half = {480, 270, 480, 270}, mid_r = {960, 540, 960, 540};
    const rect out_r = {960, 540, 1440, 810}, whole_r = {960, 540, 1920, 1080};
    const rect eased_r = {720, 405, 720, 405}, none = {};
    const crop_parameters id = identity_crop(), mid = {0.5f, 0.5f, 0.25f, 0.25f, 1};
    const crop_parameters out = {0.75f, 0.75f, 0.125f, 0.125f, 1};
    const crop_parameters eased = {0.375f, 0.375f, 0.1875f, 0.1875f, 1};
    const zoom_state at_whole = {true, 960, 540, 1920, 1080, 1920, 1080};
    // 1920x1080 shrunk to 1280x720: the middle quarter is the middle quarter still.
    const rect mid_small = {640, 360, 640, 360};
    const struct {
        const char *name;
        zoom_state before;
        zoom_inputs in;
        rect after;
        crop_parameters crop;
        bool valid_after;
        rect paused_after; // none: not paused after
    } cases[] = {
        {.name = "whole picture eases out",
         .before = middle,
         .in = with(whole, tick(half)),
         .after = out_r,
         .crop = out,
         .valid_after = true,
         .paused_after = none},
        {.name = "whole picture without a crop",
         .before = unset,
         .in = with(whole, tick(half)),
         .after = none,
         .crop = id,
         .valid_after = false,
         .paused_after = none},
        {.name = "pause holds while the target moves",
         .before = middle,
         .in = with(paused, tick(half)),
         .after = mid_r,
         .crop = mid,
         .valid_after = true,
         .paused_after = mid_r},
        {.name = "pause holds after the markers are gone",
         .before = middle,
         .in = with(paused, lost(now - 2'000'000'000)),
         .after = mid_r,
         .crop = mid,
         .valid_after = true,
         .paused_after = mid_r},
        {.name = "pause before any crop keeps the whole frame",
         .before = unset,
         .in = with(paused, tick(mid_r)),
         .after = whole_r,
         .crop = id,
         .valid_after = true,
         .paused_after = whole_r},
        {.name = "whole picture wins over pause",
         .before = middle,
         .in = with(both, tick(half)),
         .after = out_r,
         .crop = out,
         .valid_after = true,
         .paused_after = mid_r},
        {.name = "back to the paused crop",
         .before = paused_at(at_whole, mid_r),
         .in = with(paused, tick(half)),
         .after = out_r,
         .crop = out,
         .valid_after = true,
         .paused_after = mid_r},
        {.name = "resumed: follows again",
         .before = paused_at(middle, whole_r),
         .in = tick(half),
         .after = eased_r,
         .crop = eased,
         .valid_after = true,
         .paused_after = none},
        {.name = "paused crop carried to a new frame size",
         .before = paused_at(middle, mid_r),
         .in = with(paused, tick(half, 1280, 720)),
         .after = mid_small,
         .crop = mid,
         .valid_after = true,
         .paused_after = mid_small},
        {.name = "hidden while paused",
         .before = middle,
         .in = with(paused, hiding(true, false, tick(half))),
         .after = mid_r,
         .crop = {0.5f, 0.5f, 0.25f, 0.25f, 0},
         .valid_after = true,
         .paused_after = mid_r},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        zoom_state s = c.before;
        expect_crop(zoom_step(s, c.in), c.crop);
        EXPECT_EQ(s.zoom_valid, c.valid_after);
        const bool paused_after = c.paused_after.w > 0;
        EXPECT_EQ(s.paused_valid, paused_after);
        for (const auto &[got, want] : {std::pair{s.zoom_center_x, c.after.cx},
                                        {s.zoom_center_y, c.after.cy},
                                        {s.zoom_width, c.after.w},
                                        {s.zoom_height, c.after.h}})
            EXPECT_NEAR(got, want, 1e-3f);
        for (const auto &[got, want] : {std::pair{s.paused_center_x, c.paused_after.cx},
                                        {s.paused_center_y, c.paused_after.cy},
                                        {s.paused_width, c.paused_after.w},
                                        {s.paused_height, c.paused_after.h}})
            EXPECT_TRUE(!paused_after || std::fabs(got - want) <= 1e-3f) << got << " " << want;
    }
}

// Held down over many ticks, whole picture halves the distance to the whole frame once per
// half-life, and the crop comes back the same way when it is let go.
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

#pragma once

// The crop the output shows, moved a little toward the published target on every tick, and its
// mapping to the crop effect's texture coordinates. Host-free.
#include "detect/tracking.h"

#include <cstdint>

// The displayed crop in pixels of the frame size it records (0 when unknown), and while following
// is paused, the crop it was paused at, in the same pixels.
struct zoom_state {
    bool zoom_valid;
    float zoom_center_x;
    float zoom_center_y;
    float zoom_width;
    float zoom_height;
    int32_t zoom_frame_width;
    int32_t zoom_frame_height;
    bool paused_valid = false;
    float paused_center_x = 0.0f;
    float paused_center_y = 0.0f;
    float paused_width = 0.0f;
    float paused_height = 0.0f;
};

// What the user asked for with the hotkeys. Whole picture wins over pause; a pause keeps the
// crop it began at, and the crop eases back to it when the whole picture is let go.
struct zoom_controls {
    bool following_paused;
    bool whole_picture;

    bool operator==(const zoom_controls &) const = default;
};

// Texture-coordinate scale and offset as fractions of the source, and the
// visibility (0 or 1) handed to the crop effect.
struct crop_parameters {
    float crop_scale_x;
    float crop_scale_y;
    float crop_offset_x;
    float crop_offset_y;
    float crop_visibility;
};

crop_parameters identity_crop();

// Everything one tick copies out of the instance before it works.
struct zoom_inputs {
    bool hide_without_both_tags;
    float follow_half_life_ms;
    float seconds;
    uint64_t now_ns;
    bool was_visible;
    tracking_status status;
    int32_t frame_width;
    int32_t frame_height;
    zoom_controls controls;
};

// How long the crop holds still after both tags vanish.
inline constexpr uint64_t zoom_hold_ns = 800000000ull;

// Fraction of the remaining distance covered in `seconds`, in [0, 1].
float zoom_alpha(float seconds, float follow_half_life_ms);

// One tick with tracking on and a usable frame: moves the state toward the
// goal (target, hold, or full frame) and maps it to crop parameters.
crop_parameters zoom_step(zoom_state &state, const zoom_inputs &in);

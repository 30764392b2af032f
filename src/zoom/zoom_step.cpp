#include "zoom/zoom_step.h"

#include <cmath>

namespace {

constexpr float minus_ln2 = -0.6931472f;
constexpr float min_mapped_scale = 0.0001f;

struct zoom_rect {
    float center_x;
    float center_y;
    float width;
    float height;
};

bool size_known(int32_t width, int32_t height) {
    return width >= 1 && height >= 1;
}

// Multiply before dividing so that whole-pixel values stay exact.
zoom_rect rescale(const zoom_rect &r, int32_t from_width, int32_t from_height, int32_t to_width,
                  int32_t to_height) {
    const float fw = static_cast<float>(from_width);
    const float fh = static_cast<float>(from_height);
    const float tw = static_cast<float>(to_width);
    const float th = static_cast<float>(to_height);
    return {r.center_x * tw / fw, r.center_y * th / fh, r.width * tw / fw, r.height * th / fh};
}

float ease(float goal, float zoom, float alpha) {
    return (goal - zoom) * alpha + zoom;
}

float clamp_unit(float v) {
    return fminf(fmaxf(v, 0.0f), 1.0f);
}

crop_parameters map_to_texture(const zoom_state &state, int32_t frame_width, int32_t frame_height) {
    crop_parameters crop = identity_crop();
    if (!size_known(frame_width, frame_height)) {
        return crop;
    }
    const float w = static_cast<float>(frame_width);
    const float h = static_cast<float>(frame_height);
    const float half_width = fmaxf(1.0f, state.zoom_width) * 0.5f;
    const float half_height = fmaxf(1.0f, state.zoom_height) * 0.5f;
    // Clipped at the frame edge rather than shifted back in: the render
    // stretches whatever is left over the output.
    const float left = clamp_unit((state.zoom_center_x - half_width) / w);
    const float top = clamp_unit((state.zoom_center_y - half_height) / h);
    const float right = clamp_unit((state.zoom_center_x + half_width) / w);
    const float bottom = clamp_unit((state.zoom_center_y + half_height) / h);
    const float scale_x = right - left;
    const float scale_y = bottom - top;
    if (scale_x < min_mapped_scale || scale_y < min_mapped_scale) {
        return crop;
    }
    crop.crop_scale_x = scale_x;
    crop.crop_scale_y = scale_y;
    crop.crop_offset_x = left;
    crop.crop_offset_y = top;
    return crop;
}

void take_goal(zoom_state &state, const zoom_rect &goal, int32_t goal_frame_width,
               int32_t goal_frame_height, float alpha, bool jump) {
    if (state.zoom_valid && !jump) {
        state.zoom_center_x = ease(goal.center_x, state.zoom_center_x, alpha);
        state.zoom_center_y = ease(goal.center_y, state.zoom_center_y, alpha);
        state.zoom_width = ease(goal.width, state.zoom_width, alpha);
        state.zoom_height = ease(goal.height, state.zoom_height, alpha);
    } else {
        state.zoom_valid = true;
        state.zoom_center_x = goal.center_x;
        state.zoom_center_y = goal.center_y;
        state.zoom_width = goal.width;
        state.zoom_height = goal.height;
    }
    state.zoom_frame_width = goal_frame_width;
    state.zoom_frame_height = goal_frame_height;
}

} // namespace

crop_parameters identity_crop() {
    return {1.0f, 1.0f, 0.0f, 0.0f, 1.0f};
}

float zoom_alpha(float seconds, float follow_half_life_ms) {
    if (!(follow_half_life_ms > 0.0f)) {
        return 1.0f;
    }
    const float alpha = 1.0f - expf(seconds / (follow_half_life_ms / 1000.0f) * minus_ln2);
    return fminf(fmaxf(alpha, 0.0f), 1.0f);
}

crop_parameters zoom_step(zoom_state &state, const zoom_inputs &in) {
    const int32_t frame_w = in.frame_width;
    const int32_t frame_h = in.frame_height;
    const bool frame_known = size_known(frame_w, frame_h);
    const tracking_status &status = in.status;
    const bool reacquire = in.hide_without_both_tags && !in.was_visible && status.both_tags_seen;
    const bool holding = status.tags_lost && state.zoom_valid &&
                         in.now_ns >= status.tags_lost_since_ns &&
                         in.now_ns - status.tags_lost_since_ns < zoom_hold_ns;

    // Target and zoom are in pixels of the frame they were computed in. After
    // a source resolution change they are carried over to the new frame in
    // proportion, so the crop keeps showing the same part of the picture
    // instead of drifting or easing from a rectangle in the wrong units.
    if (frame_known && size_known(state.zoom_frame_width, state.zoom_frame_height) &&
        (state.zoom_frame_width != frame_w || state.zoom_frame_height != frame_h)) {
        const auto carry = [&](float &center_x, float &center_y, float &width, float &height) {
            const zoom_rect now =
                rescale({center_x, center_y, width, height}, state.zoom_frame_width,
                        state.zoom_frame_height, frame_w, frame_h);
            center_x = now.center_x, center_y = now.center_y;
            width = now.width, height = now.height;
        };
        carry(state.zoom_center_x, state.zoom_center_y, state.zoom_width, state.zoom_height);
        carry(state.paused_center_x, state.paused_center_y, state.paused_width,
              state.paused_height);
        state.zoom_frame_width = frame_w;
        state.zoom_frame_height = frame_h;
    }

    const float alpha = zoom_alpha(in.seconds, in.follow_half_life_ms);
    const zoom_rect full{static_cast<float>(frame_w) * 0.5f, static_cast<float>(frame_h) * 0.5f,
                         static_cast<float>(frame_w), static_cast<float>(frame_h)};
    // A pause keeps the crop shown when it began: the whole frame when nothing was followed yet.
    if (!in.controls.following_paused) {
        state.paused_valid = false;
    } else if (!state.paused_valid && frame_known) {
        const zoom_rect now = state.zoom_valid ? zoom_rect{state.zoom_center_x, state.zoom_center_y,
                                                           state.zoom_width, state.zoom_height}
                                               : full;
        state.paused_valid = true;
        state.paused_center_x = now.center_x;
        state.paused_center_y = now.center_y;
        state.paused_width = now.width;
        state.paused_height = now.height;
    }

    bool mapped = true;
    if (in.controls.whole_picture) {
        // Without a crop the whole frame shows already.
        if (state.zoom_valid && frame_known)
            take_goal(state, full, frame_w, frame_h, alpha, reacquire);
        mapped = state.zoom_valid;
    } else if (in.controls.following_paused) {
        if (state.paused_valid) {
            const zoom_rect paused{state.paused_center_x, state.paused_center_y, state.paused_width,
                                   state.paused_height};
            take_goal(state, paused, frame_w, frame_h, alpha, reacquire);
        }
        mapped = state.zoom_valid;
    } else if (status.target_valid) {
        const crop_rect &t = status.target_rect;
        zoom_rect goal{t.center_x, t.center_y, t.width, t.height};
        int32_t goal_w = status.target_frame_width;
        int32_t goal_h = status.target_frame_height;
        if (frame_known) {
            if (size_known(goal_w, goal_h) && (goal_w != frame_w || goal_h != frame_h)) {
                goal = rescale(goal, goal_w, goal_h, frame_w, frame_h);
            }
            goal_w = frame_w;
            goal_h = frame_h;
        }
        take_goal(state, goal, goal_w, goal_h, alpha, reacquire);
    } else if (holding) {
        // Markers often drop out for a moment; the crop waits for them still.
    } else if (state.zoom_valid && frame_known) {
        take_goal(state, full, frame_w, frame_h, alpha, reacquire);
    } else {
        state.zoom_valid = false;
        mapped = false;
    }

    crop_parameters crop = mapped ? map_to_texture(state, frame_w, frame_h) : identity_crop();
    crop.crop_visibility = (!in.hide_without_both_tags || status.both_tags_seen) ? 1.0f : 0.0f;
    return crop;
}

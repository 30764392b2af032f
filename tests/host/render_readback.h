#pragma once

#include "host_frame.h"
#include "zoom/zoom_smoothing.h"

#include <obs.h>

// RGBA, four bytes per pixel, rows top to bottom.
struct rgba_image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;
};

// Draws the source, filters included, through the host into a transparent
// texture of its size with blending off and reads it back: exactly what the
// last filter drew.
rgba_image render_source(obs_source_t *source);

// Waits until the host's graphics thread has begun `frames` more frames (each
// ticks and draws every source); false on timeout.
bool wait_for_host_frames(int frames);

// What the crop effect draws for these parameters, at the picture's own size:
// the region (fractions of the picture) sampled bilinearly at each output
// pixel's centre, edges clamped, times the visibility.
rgba_image crop_reference(const rgb_picture &picture, const crop_parameters &crop);

// Largest difference of one colour channel and of alpha (256: sizes differ).
struct image_difference {
    int rgb = 0;
    int alpha = 0;
};
image_difference compare_images(const rgba_image &a, const rgba_image &b);

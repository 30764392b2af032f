#pragma once

#include "marker_scene.h"

#include <vector>

enum class crop_view {
    unknown, // the picture does not tell (flat, or no region of the input matches)
    hidden,  // the filter drew nothing
    shown,
};

// Which region of the input the filter's output shows, found from the pictures
// alone, so it works for any module and any clip.
struct crop_estimate {
    crop_view view = crop_view::unknown;
    float left = 0.0f, top = 0.0f, width = 1.0f, height = 1.0f; // fractions of the input
    float residual = 0.0f; // RMS grey difference at the match, 0..255
};

// Grey levels of a picture, halved repeatedly (level 0 is the picture itself).
struct grey_pyramid {
    struct level {
        int32_t width = 0, height = 0;
        std::vector<float> values;
    };
    std::vector<level> levels;
};

grey_pyramid make_grey_pyramid(const rgba_image &image);

// `input` and `output` have the same size; `previous` (may be null) is the
// estimate of the frame before, tried first.
crop_estimate estimate_crop(const grey_pyramid &input, const rgba_image &output,
                            const grey_pyramid &output_grey, const crop_estimate *previous);

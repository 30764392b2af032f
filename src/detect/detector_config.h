#pragma once

// The detector's fixed configuration, in one place: the set-up applies it, the diagnostics
// line reports it, and the hidden settings keys carry it as their defaults. Everything not named
// here keeps the detector library's own default.
struct detector_config {
    float quad_decimate;
    float quad_sigma;
    bool refine_edges;
    double decode_sharpening;
    int deglitch;
    // A detection is accepted with at least this margin and at most this many corrected bits.
    float min_decision_margin;
    int max_hamming;
};

inline constexpr detector_config fixed_detector_config = {
    .quad_decimate = 1.0f,
    .quad_sigma = 0.0f,
    .refine_edges = false,
    .decode_sharpening = 0.25,
    .deglitch = 0,
    .min_decision_margin = 20.0f,
    .max_hamming = 0,
};

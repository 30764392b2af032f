#pragma once

// The filter's configuration: the stored keys, their normalisation into the snapshot every
// reader copies, and the defaults. Host-free.
#include <cstdint>

// The marker families the filter can follow; the values are what the host stores.
enum class tag_family_kind : int32_t {
    tag16h5 = 0,
    circle21h7 = 1,
};

// The shape the crop takes: the canvas's, or the source's own (no distortion when the source's
// aspect differs from the canvas's). The values are what the host stores.
enum class crop_shape_kind : int32_t {
    canvas = 0,
    source = 1,
};

// The normalised configuration of one instance, copied whole by every reader.
struct settings_snapshot {
    bool enable_tracking;
    bool hide_without_both_tags;
    tag_family_kind tag_family;
    int32_t tag_id_a;
    int32_t tag_id_b; // always the other of 0 and 1
    float padding;
    int32_t detect_width;
    float detect_fps;
    float follow_half_life_ms;
    bool perf_diagnostics;
    // Beyond the panel's first thirteen entries: with their defaults the filter behaves as it
    // did without them.
    crop_shape_kind crop_shape;
    bool force_gpu_intake; // read the picture as drawn, even when raw frames come
    bool show_setup_view;  // draw the whole picture with what the filter sees over it
    bool window_search;    // search near the markers once both are known (no widget)

    bool operator==(const settings_snapshot &) const = default;
};

inline constexpr settings_snapshot default_settings_snapshot = {
    .enable_tracking = true,
    .hide_without_both_tags = false,
    .tag_family = tag_family_kind::tag16h5,
    .tag_id_a = 0,
    .tag_id_b = 1,
    .padding = 0.0f,
    .detect_width = 960,
    .detect_fps = 5.0f,
    .follow_half_life_ms = 250.0f,
    .perf_diagnostics = false,
    .crop_shape = crop_shape_kind::canvas,
    .force_gpu_intake = false,
    .show_setup_view = false,
    .window_search = true,
};

inline constexpr int32_t detect_width_min = 160;
inline constexpr int32_t detect_width_max = 3840;

// The values as the host stores them, before normalisation.
struct stored_settings {
    bool enable_tracking;
    bool hide_without_both_tags;
    long long tag_family;
    long long tag_id_a;
    long long tag_id_b;
    double padding;
    long long detect_width;
    double detect_fps;
    double follow_half_life_ms;
    bool perf_diagnostics;
    long long crop_shape;
    bool force_gpu_intake;
    bool show_setup_view;
    bool window_search;
};

// Ranges, the tag-id pair and the environment override applied; never NaN.
settings_snapshot normalise_settings(const stored_settings &stored, bool perf_from_env);

// True when PINVALER_PERF's value asks for diagnostics: set, not empty and not exactly "0".
bool perf_env_value_set(const char *value);

// Whether the markers the user asked for differ: a pass begun before such a change must not
// publish, and "both seen" starts over.
bool markers_changed(const settings_snapshot &before, const settings_snapshot &after);

// Keys of the host settings object; stored settings depend on these names.
inline constexpr char key_pv_version[] = "pv_version";
inline constexpr char key_enable_tracking[] = "enable_tracking";
inline constexpr char key_hide_without_both_tags[] = "hide_without_both_tags";
inline constexpr char key_tag_family[] = "tag_family";
inline constexpr char key_tag_id_a[] = "tag_id_a";
inline constexpr char key_tag_id_b[] = "tag_id_b";
inline constexpr char key_padding[] = "padding";
inline constexpr char key_detect_width[] = "detect_width";
inline constexpr char key_detect_fps[] = "detect_fps";
inline constexpr char key_follow_half_life_ms[] = "follow_half_life_ms";
inline constexpr char key_perf_diagnostics[] = "perf_diagnostics";
inline constexpr char key_min_decision_margin[] = "min_decision_margin";
inline constexpr char key_max_hamming[] = "max_hamming";
inline constexpr char key_quad_sigma[] = "quad_sigma";
inline constexpr char key_refine_edges[] = "refine_edges";
inline constexpr char key_decode_sharpening[] = "decode_sharpening";

inline constexpr char key_crop_shape[] = "crop_shape";
inline constexpr char key_force_gpu_intake[] = "force_gpu_intake";
inline constexpr char key_show_setup_view[] = "show_setup_view";
inline constexpr char key_window_search[] = "window_search";

// Panel entries that store no value of their own.
inline constexpr char key_detection_help[] = "detection_help";
inline constexpr char key_open_tags_pdf[] = "open_tags_pdf";
inline constexpr char key_hide_without_both_help[] = "hide_without_both_help";
inline constexpr char key_force_gpu_intake_help[] = "force_gpu_intake_help";
inline constexpr char key_show_setup_view_help[] = "show_setup_view_help";

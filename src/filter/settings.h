#pragma once

#include <cstdint>

// The normalised configuration of one instance, copied whole by every reader.
struct settings_snapshot {
    bool enable_tracking;
    bool hide_without_both_tags;
    int32_t tag_family; // 0 = tag16h5, 1 = tagCircle21h7
    int32_t tag_id_a;
    int32_t tag_id_b;
    float padding;
    int32_t detect_width;
    float detect_fps;
    float follow_half_life_ms;
    bool perf_diagnostics;
};

inline constexpr settings_snapshot default_settings_snapshot = {
    true, false, 0, 0, 1, 0.0f, 960, 5.0f, 250.0f, false,
};

inline constexpr int32_t tag_family_tag16h5 = 0;
inline constexpr int32_t tag_family_circle21h7 = 1;
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
};

// Ranges, the tag-id pair and the environment override applied; never NaN.
settings_snapshot normalise_settings(const stored_settings &stored, bool perf_from_env);

// True when PINVALER_PERF's value asks for diagnostics: set, not empty and not exactly "0".
bool perf_env_value_set(const char *value);

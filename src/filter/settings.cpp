#include "filter/settings.h"

#include <cfloat>
#include <cmath>

namespace {

// The nearest float, with infinities beyond the float range (a plain cast would be undefined
// there).
float to_nearest_float(double value) {
    if (value > static_cast<double>(FLT_MAX))
        return INFINITY;
    if (value < -static_cast<double>(FLT_MAX))
        return -INFINITY;
    return static_cast<float>(value);
}

// The host stores 64-bit integers; only their low 32 bits are ours.
int32_t low_32_bits(long long value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(value)));
}

} // namespace

settings_snapshot normalise_settings(const stored_settings &stored, bool perf_from_env) {
    settings_snapshot s = default_settings_snapshot;
    s.enable_tracking = stored.enable_tracking;
    s.hide_without_both_tags = stored.hide_without_both_tags;
    const int32_t family = low_32_bits(stored.tag_family);
    s.tag_family = family == static_cast<int32_t>(tag_family_kind::circle21h7)
                       ? tag_family_kind::circle21h7
                       : tag_family_kind::tag16h5;
    s.padding = to_nearest_float(stored.padding);
    s.detect_width = low_32_bits(stored.detect_width);
    s.detect_fps = to_nearest_float(stored.detect_fps);
    s.follow_half_life_ms = to_nearest_float(stored.follow_half_life_ms);
    s.perf_diagnostics = stored.perf_diagnostics || perf_from_env;
    s.crop_shape = low_32_bits(stored.crop_shape) == static_cast<int32_t>(crop_shape_kind::source)
                       ? crop_shape_kind::source
                       : crop_shape_kind::canvas;
    s.force_gpu_intake = stored.force_gpu_intake;
    s.show_setup_view = stored.show_setup_view;
    s.window_search = stored.window_search;

    const int32_t a = low_32_bits(stored.tag_id_a) == 1 ? 1 : 0;
    int32_t b = low_32_bits(stored.tag_id_b) == 1 ? 1 : 0;
    if (a == b)
        b = 1 - a;
    s.tag_id_a = a;
    s.tag_id_b = b;

    if (!std::isfinite(s.padding) || s.padding < 0.0f)
        s.padding = 0.0f;
    if (s.detect_width < detect_width_min)
        s.detect_width = detect_width_min;
    if (s.detect_width > detect_width_max)
        s.detect_width = detect_width_max;
    if (!std::isfinite(s.detect_fps) || s.detect_fps < 1.0f)
        s.detect_fps = 1.0f;
    if (!std::isfinite(s.follow_half_life_ms) || s.follow_half_life_ms < 0.0f)
        s.follow_half_life_ms = 0.0f;
    return s;
}

bool perf_env_value_set(const char *value) {
    return value && value[0] != '\0' && !(value[0] == '0' && value[1] == '\0');
}

bool markers_changed(const settings_snapshot &before, const settings_snapshot &after) {
    return before.tag_family != after.tag_family || before.tag_id_a != after.tag_id_a ||
           before.tag_id_b != after.tag_id_b;
}

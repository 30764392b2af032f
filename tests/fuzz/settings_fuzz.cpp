// Arbitrary JSON as stored settings: whatever the host hands over, the reader
// yields a normalised snapshot and writes back a valid pair of tag ids.
#include "filter/instance.h"

#include <cmath>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    obs_data_t *settings =
        obs_data_create_from_json(std::string(reinterpret_cast<const char *>(data), size).c_str());
    if (!settings)
        return 0;
    const bool perf_from_env = size % 2;
    const settings_snapshot s = read_settings(perf_from_env, settings);
    const bool ok =
        (s.tag_id_a == 0 || s.tag_id_a == 1) && s.tag_id_b == 1 - s.tag_id_a &&
        (s.tag_family == tag_family_kind::tag16h5 || s.tag_family == tag_family_kind::circle21h7) &&
        s.detect_width >= 160 && s.detect_width <= 3840 && std::isfinite(s.padding) &&
        s.padding >= 0 && std::isfinite(s.detect_fps) && s.detect_fps >= 1.0f &&
        std::isfinite(s.follow_half_life_ms) && s.follow_half_life_ms >= 0 &&
        obs_data_get_int(settings, "tag_id_a") == s.tag_id_a &&
        obs_data_get_int(settings, "tag_id_b") == s.tag_id_b &&
        (!perf_from_env || s.perf_diagnostics);
    obs_data_release(settings);
    if (!ok)
        std::abort();
    return 0;
}

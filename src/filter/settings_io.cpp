#include "filter/settings_io.h"
#include "filter/filter_callbacks.h"
#include "filter/settings_keys.h"
#include "module/plugin_identity.h"

settings_snapshot read_settings(const filter_instance *instance, obs_data_t *settings) {
    stored_settings stored{};
    stored.enable_tracking = obs_data_get_bool(settings, key_enable_tracking);
    stored.hide_without_both_tags = obs_data_get_bool(settings, key_hide_without_both_tags);
    stored.tag_family = obs_data_get_int(settings, key_tag_family);
    stored.tag_id_a = obs_data_get_int(settings, key_tag_id_a);
    stored.tag_id_b = obs_data_get_int(settings, key_tag_id_b);
    stored.padding = obs_data_get_double(settings, key_padding);
    stored.detect_width = obs_data_get_int(settings, key_detect_width);
    stored.detect_fps = obs_data_get_double(settings, key_detect_fps);
    stored.follow_half_life_ms = obs_data_get_double(settings, key_follow_half_life_ms);
    stored.perf_diagnostics = obs_data_get_bool(settings, key_perf_diagnostics);

    const settings_snapshot snapshot = normalise_settings(stored, instance->perf_from_env);
    obs_data_set_int(settings, key_tag_id_a, snapshot.tag_id_a);
    obs_data_set_int(settings, key_tag_id_b, snapshot.tag_id_b);
    return snapshot;
}

void filter_get_defaults(obs_data_t *settings) {
    const settings_snapshot &d = default_settings_snapshot;
    obs_data_set_default_string(settings, key_pv_version, plugin_version);
    obs_data_set_default_bool(settings, key_enable_tracking, d.enable_tracking);
    obs_data_set_default_bool(settings, key_hide_without_both_tags, d.hide_without_both_tags);
    obs_data_set_default_int(settings, key_tag_family, d.tag_family);
    obs_data_set_default_int(settings, key_tag_id_a, d.tag_id_a);
    obs_data_set_default_int(settings, key_tag_id_b, d.tag_id_b);
    obs_data_set_default_double(settings, key_padding, static_cast<double>(d.padding));
    obs_data_set_default_int(settings, key_detect_width, d.detect_width);
    obs_data_set_default_double(settings, key_detect_fps, static_cast<double>(d.detect_fps));
    obs_data_set_default_double(settings, key_follow_half_life_ms,
                                static_cast<double>(d.follow_half_life_ms));
    obs_data_set_default_bool(settings, key_perf_diagnostics, d.perf_diagnostics);
    // Shown nowhere and read by nothing: they record the fixed detection settings.
    obs_data_set_default_double(settings, key_min_decision_margin, 20.0);
    obs_data_set_default_int(settings, key_max_hamming, 0);
    obs_data_set_default_double(settings, key_quad_sigma, 0.0);
    obs_data_set_default_bool(settings, key_refine_edges, false);
    obs_data_set_default_double(settings, key_decode_sharpening, 0.25);
}

// The settings as the host keeps them: defaults, reading them back, and the panel that edits
// them, with its button for the printable markers.
#include "detect/detector_config.h"
#include "filter/filter.h"
#include "filter/instance.h"
#include "module/module.h"
#include "platform/open_default_app.h"

#include <span>

namespace {

constexpr char tags_pdf_file[] = "tags/pinvaler-tags-tag16h5-circle21h7.pdf";

struct list_item {
    const char *label_key;
    long long value;
};

constexpr list_item detail_items[] = {
    {"Pinvale.Detail640", 640},   {"Pinvale.Detail960", 960},   {"Pinvale.Detail1440", 1440},
    {"Pinvale.Detail1920", 1920}, {"Pinvale.Detail2560", 2560}, {"Pinvale.Detail3840", 3840},
};

constexpr list_item rate_items[] = {
    {"Pinvale.Rate3", 3},   {"Pinvale.Rate5", 5},   {"Pinvale.Rate10", 10},
    {"Pinvale.Rate15", 15}, {"Pinvale.Rate30", 30},
};

// Item labels are looked up like the property labels; the stored values are the integers.
obs_property_t *add_int_list(obs_properties_t *props, const char *key, const char *label_key,
                             std::span<const list_item> items = {}) {
    obs_property_t *list = obs_properties_add_list(props, key, module_text(label_key),
                                                   OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_INT);
    for (const list_item &item : items)
        obs_property_list_add_int(list, module_text(item.label_key), item.value);
    return list;
}

void add_info(obs_properties_t *props, const char *key, const char *label_key) {
    obs_properties_add_text(props, key, module_text(label_key), OBS_TEXT_INFO);
}

// Returns false: the panel needs no rebuild after a click.
bool open_tags_pdf_clicked(obs_properties_t *, obs_property_t *, void *) {
    // Looked up on every click, so a file put back while the panel is open is found.
    const host_string path(obs_find_module_file(plugin_module(), tags_pdf_file));
    if (!path) {
        blog(LOG_WARNING, "Pinvale: tags PDF not found in module data");
        return false;
    }
    if (!open_with_default_app(path.get()))
        blog(LOG_WARNING, "Pinvale: failed to open tags PDF: %s", path.get());
    return false;
}

} // namespace

settings_snapshot read_settings(bool perf_from_env, obs_data_t *settings) {
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
    stored.crop_shape = obs_data_get_int(settings, key_crop_shape);
    stored.force_gpu_intake = obs_data_get_bool(settings, key_force_gpu_intake);
    stored.show_setup_view = obs_data_get_bool(settings, key_show_setup_view);
    stored.window_search = obs_data_get_bool(settings, key_window_search);

    const settings_snapshot snapshot = normalise_settings(stored, perf_from_env);
    obs_data_set_int(settings, key_tag_id_a, snapshot.tag_id_a);
    obs_data_set_int(settings, key_tag_id_b, snapshot.tag_id_b);
    return snapshot;
}

void filter_get_defaults(obs_data_t *settings) {
    const settings_snapshot &d = default_settings_snapshot;
    obs_data_set_default_string(settings, key_pv_version, plugin_version);
    obs_data_set_default_bool(settings, key_enable_tracking, d.enable_tracking);
    obs_data_set_default_bool(settings, key_hide_without_both_tags, d.hide_without_both_tags);
    obs_data_set_default_int(settings, key_tag_family, static_cast<long long>(d.tag_family));
    obs_data_set_default_int(settings, key_tag_id_a, d.tag_id_a);
    obs_data_set_default_int(settings, key_tag_id_b, d.tag_id_b);
    obs_data_set_default_double(settings, key_padding, static_cast<double>(d.padding));
    obs_data_set_default_int(settings, key_detect_width, d.detect_width);
    obs_data_set_default_double(settings, key_detect_fps, static_cast<double>(d.detect_fps));
    obs_data_set_default_double(settings, key_follow_half_life_ms,
                                static_cast<double>(d.follow_half_life_ms));
    obs_data_set_default_bool(settings, key_perf_diagnostics, d.perf_diagnostics);
    // Shown nowhere and read by nothing: they record the fixed detection settings.
    const detector_config &c = fixed_detector_config;
    obs_data_set_default_double(settings, key_min_decision_margin,
                                static_cast<double>(c.min_decision_margin));
    obs_data_set_default_int(settings, key_max_hamming, c.max_hamming);
    obs_data_set_default_double(settings, key_quad_sigma, static_cast<double>(c.quad_sigma));
    obs_data_set_default_bool(settings, key_refine_edges, c.refine_edges);
    obs_data_set_default_double(settings, key_decode_sharpening, c.decode_sharpening);
    obs_data_set_default_int(settings, key_crop_shape, static_cast<long long>(d.crop_shape));
    obs_data_set_default_bool(settings, key_force_gpu_intake, d.force_gpu_intake);
    obs_data_set_default_bool(settings, key_show_setup_view, d.show_setup_view);
    obs_data_set_default_bool(settings, key_window_search, d.window_search);
}

// The same panel for every instance; the host owns the set once returned.
obs_properties_t *filter_get_properties(void *) {
    obs_properties_t *props = obs_properties_create();
    obs_properties_add_bool(props, key_enable_tracking, module_text("Pinvale.EnableTracking"));

    // Family names are the detector's own words, the same in every language.
    obs_property_t *family = add_int_list(props, key_tag_family, "Pinvale.TagFamily");
    obs_property_list_add_int(family, "tag16h5", static_cast<long long>(tag_family_kind::tag16h5));
    obs_property_list_add_int(family, "circle21h7",
                              static_cast<long long>(tag_family_kind::circle21h7));

    // Only the two ids that the printed sheet carries.
    obs_properties_add_int(props, key_tag_id_a, module_text("Pinvale.TagIdA"), 0, 1, 1);
    obs_properties_add_int(props, key_tag_id_b, module_text("Pinvale.TagIdB"), 0, 1, 1);
    obs_properties_add_float(props, key_padding, module_text("Pinvale.Padding"), 0.0, 500.0, 1.0);
    add_int_list(props, key_detect_width, "Pinvale.DetectionDetail", detail_items);
    add_int_list(props, key_detect_fps, "Pinvale.TrackingUpdates", rate_items);
    add_info(props, key_detection_help, "Pinvale.DetectionHelp");
    obs_properties_add_float_slider(props, key_follow_half_life_ms,
                                    module_text("Pinvale.Smoothing"), 0.0, 2000.0, 1.0);
    obs_properties_add_button2(props, key_open_tags_pdf, module_text("Pinvale.PrintMarkers"),
                               open_tags_pdf_clicked, nullptr);
    obs_properties_add_bool(props, key_hide_without_both_tags,
                            module_text("Pinvale.HideWithoutBoth"));
    add_info(props, key_hide_without_both_help, "Pinvale.HideWithoutBothHelp");
    add_info(props, key_pv_version, "Pinvale.Version");

    // Added after the original thirteen, so that the panel reads as before down to the version.
    obs_property_t *shape = add_int_list(props, key_crop_shape, "Pinvale.CropShape");
    obs_property_list_add_int(shape, module_text("Pinvale.CropShapeCanvas"),
                              static_cast<long long>(crop_shape_kind::canvas));
    obs_property_list_add_int(shape, module_text("Pinvale.CropShapeSource"),
                              static_cast<long long>(crop_shape_kind::source));
    obs_properties_add_bool(props, key_force_gpu_intake, module_text("Pinvale.ForceGpuIntake"));
    add_info(props, key_force_gpu_intake_help, "Pinvale.ForceGpuIntakeHelp");
    obs_properties_add_bool(props, key_show_setup_view, module_text("Pinvale.ShowSetupView"));
    add_info(props, key_show_setup_view_help, "Pinvale.ShowSetupViewHelp");
    return props;
}

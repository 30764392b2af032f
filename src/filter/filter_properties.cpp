#include "filter/filter_callbacks.h"
#include "filter/settings.h"
#include "filter/settings_keys.h"
#include "filter/tags_pdf_button.h"
#include "module/module_text.h"

#include <span>

namespace {

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

} // namespace

// The same panel for every instance; the host owns the set once returned.
obs_properties_t *filter_get_properties(void *) {
    obs_properties_t *props = obs_properties_create();
    obs_properties_add_bool(props, key_enable_tracking, module_text("Pinvale.EnableTracking"));

    // Family names are the detector's own words, the same in every language.
    obs_property_t *family = add_int_list(props, key_tag_family, "Pinvale.TagFamily");
    obs_property_list_add_int(family, "tag16h5", tag_family_tag16h5);
    obs_property_list_add_int(family, "circle21h7", tag_family_circle21h7);

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
    return props;
}

// Update reading the host's settings, normalising them and applying them.
#include "host_harness.h"

#include <cstring>
#include <gtest/gtest.h>
#include <mutex>

namespace {

TEST(FilterUpdate, SwitchesTheFamilyBothWaysAndResetsTrackingWhenTheMarkersOrTrackingChange) {
    data_ptr settings = default_settings();
    instance_ptr instance = create_instance(settings.get());
    ASSERT_NE(instance, nullptr);
    // The panel's lists store integers, also where numbers with a fraction are read.
    const std::pair<const char *, bool> steps[] = {
        {R"({"padding": 8, "detect_fps": 10})", false},
        {R"({"enable_tracking": false})", false},
        {R"({"enable_tracking": true})", true},
        {R"({"tag_id_b": 0})", false}, // normalised back
        {R"({"tag_id_a": 1})", true},
        {R"({"detect_width": 1920})", false},
        {R"({"tag_family": 1})", true},
        {R"({"tag_family": 0})", true},
    };
    for (const auto &[json, cleared] : steps) {
        {
            std::lock_guard lock(instance->tracking.mutex);
            instance->tracking.status.both_tags_seen = true;
        }
        const apriltag_family_t *family_before = instance->detector.family.get();
        obs_data_apply(settings.get(), data_ptr(obs_data_create_from_json(json)).get());
        filter_update(instance.get(), settings.get());
        const filter_state state = read_filter_state(*instance);
        EXPECT_EQ(state.status.both_tags_seen, !cleared) << json;
        const bool circle = state.settings.tag_family == tag_family_kind::circle21h7;
        const apriltag_family_t *family = instance->detector.family.get();
        EXPECT_EQ(family != family_before, std::strstr(json, "family") != nullptr) << json;
        EXPECT_STREQ(family->name, circle ? "tagCircle21h7" : "tag16h5");
        apriltag_family_t *registered = nullptr;
        ASSERT_EQ(zarray_size(instance->detector.detector->tag_families), 1);
        zarray_get(instance->detector.detector->tag_families, 0, &registered);
        EXPECT_EQ(registered, family);
        const settings_snapshot &now = state.settings;
        EXPECT_EQ(std::tuple(obs_data_get_int(settings.get(), key_tag_id_a),
                             obs_data_get_int(settings.get(), key_tag_id_b)),
                  std::tuple(now.tag_id_a, 1 - now.tag_id_a))
            << json << ": the corrected ids are written back";
    }
    const settings_snapshot last = read_filter_state(*instance).settings;
    EXPECT_EQ(std::tuple(last.padding, last.detect_fps), std::tuple(8.0f, 10.0f));
    filter_update(nullptr, settings.get());
}

} // namespace

// Update reading the host's settings, normalising them and applying them.
#include "filter/settings_io.h"
#include "host_harness.h"

#include <cstring>
#include <gtest/gtest.h>

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
        read_locked<bool>(instance->frame_mutex, [&] { return instance->both_tags_seen = true; });
        const apriltag_family_t *family_before = instance->family;
        obs_data_apply(settings.get(), data_ptr(obs_data_create_from_json(json)).get());
        filter_update(instance.get(), settings.get());
        EXPECT_EQ(read_field(instance.get(), &filter_instance::both_tags_seen), !cleared) << json;
        const bool circle = copy_settings(instance.get()).tag_family == 1;
        EXPECT_EQ(instance->family != family_before, std::strstr(json, "family") != nullptr)
            << json;
        EXPECT_STREQ(instance->family->name, circle ? "tagCircle21h7" : "tag16h5");
        apriltag_family_t *registered = nullptr;
        ASSERT_EQ(zarray_size(instance->detector->tag_families), 1);
        zarray_get(instance->detector->tag_families, 0, &registered);
        EXPECT_EQ(registered, instance->family);
        const settings_snapshot now = copy_settings(instance.get());
        EXPECT_EQ(std::tuple(obs_data_get_int(settings.get(), key_tag_id_a),
                             obs_data_get_int(settings.get(), key_tag_id_b)),
                  std::tuple(now.tag_id_a, 1 - now.tag_id_a))
            << json << ": the corrected ids are written back";
    }
    EXPECT_EQ(
        std::tuple(copy_settings(instance.get()).padding, copy_settings(instance.get()).detect_fps),
        std::tuple(8.0f, 10.0f));
    filter_update(nullptr, settings.get());
}

} // namespace

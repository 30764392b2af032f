// Create failing part-way, and update reading and applying the host's settings. Creating and
// destroying under load is the stress test's.
#include "filter/settings_io.h"
#include "host_harness.h"

#include <fstream>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>

namespace {

TEST(FilterLifecycle, CreateFailsCleanlyOnABadEffect) {
    // The shipped effect with its `visibility` parameter renamed still compiles.
    std::stringstream shipped;
    shipped << std::ifstream(PINVALER_DATA_DIR "/effects/pinvaler.effect").rdbuf();
    std::string no_visibility = shipped.str();
    for (size_t at; (at = no_visibility.find("visibility")) != std::string::npos;)
        no_visibility.replace(at, 10, "brightness");
    // Each case's error lines; "@" stands for the effect file's path, "..." for the loader's text.
    const std::pair<const char *, std::string> cases[] = {
        {nullptr, "Pinvale: crop effect is missing from plugin resources\n"},
        {no_visibility.c_str(), "Pinvale: crop effect is missing a required parameter\n"
                                "Pinvale: failed to load crop effect @\n"},
        {"this is not an effect {", "Pinvale: failed to load crop effect @: ...\n"},
    };
    // Twice: the host caches an effect file that compiled, so only the second run shows
    // whether create itself left anything behind.
    for (int run = 0; run < 2; ++run)
        for (size_t i = 0; i < std::size(cases); ++i) {
            module_data_dir dir("effect-" + std::to_string(i));
            if (cases[i].first)
                dir.write("effects/pinvaler.effect", cases[i].first);
            const int threads_before = process_thread_count();
            const long allocs_before = bnum_allocs();
            const size_t mark = log_mark();
            EXPECT_FALSE(create_instance(default_settings().get()));
            EXPECT_EQ(process_thread_count(), threads_before);
            EXPECT_TRUE(run == 0 || bnum_allocs() == allocs_before) << "case " << i;
            const std::string path = dir.file("effects/pinvaler.effect").string();
            std::string errors;
            for (log_line line : captured_log_since(mark)) {
                if (line.level != LOG_ERROR || !line.text.starts_with("Pinvale: "))
                    continue;
                if (const size_t at = line.text.find(path); at != std::string::npos)
                    line.text.replace(at, path.size(), "@");
                if (const size_t at = line.text.find("@: "); at != std::string::npos)
                    line.text.replace(at + 3, std::string::npos,
                                      line.text.size() > at + 3 ? "..." : "");
                errors += line.text + '\n';
            }
            EXPECT_EQ(errors, cases[i].second);
        }
}

TEST(ReadSettings, WritesTheCorrectedIdsBackButNotTheFamilyAndReadsIntegersAsDoubles) {
    data_ptr settings = default_settings();
    // The panel's lists store integers, also where numbers with a fraction are read.
    const std::pair<const char *, int> stored[] = {
        {"tag_id_a", 5}, {"tag_id_b", 7}, {"tag_family", 2}, {"detect_fps", 10}, {"padding", 12}};
    for (const auto &[key, value] : stored)
        obs_data_set_int(settings.get(), key, value);
    filter_instance probe{};
    const settings_snapshot s = read_settings(&probe, settings.get());
    EXPECT_EQ(std::tuple(s.tag_id_a, s.tag_id_b, s.tag_family, s.detect_fps, s.padding),
              std::tuple(0, 1, 0, 10.0f, 12.0f));
    EXPECT_EQ(std::tuple(obs_data_get_int(settings.get(), "tag_id_a"),
                         obs_data_get_int(settings.get(), "tag_id_b"),
                         obs_data_get_int(settings.get(), "tag_family")),
              std::tuple(0, 1, 2));
}

TEST(FilterUpdate, SwitchesTheFamilyBothWaysAndResetsTrackingWhenTheMarkersOrTrackingChange) {
    data_ptr settings = default_settings();
    instance_ptr instance = create_instance(settings.get());
    ASSERT_NE(instance, nullptr);
    const std::pair<const char *, bool> steps[] = {
        {R"({"padding": 8.0})", false},         {R"({"enable_tracking": false})", false},
        {R"({"enable_tracking": true})", true}, {R"({"tag_id_b": 0})", false}, // normalised back
        {R"({"tag_id_a": 1})", true},           {R"({"detect_width": 1920})", false},
        {R"({"tag_family": 1})", true},         {R"({"tag_family": 0})", true},
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
    }
    filter_update(nullptr, settings.get());
}

} // namespace

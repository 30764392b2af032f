// The settings reader and update against real host settings and a running instance.
#include "filter/settings_io.h"
#include "filter_fixture.h"
#include "host_environment.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

bool seen_both(filter_instance *instance) {
    return read_locked<bool>(instance->frame_mutex, [&] { return instance->both_tags_seen; });
}

void mark_both_seen(filter_instance *instance) {
    mutex_lock lock(instance->frame_mutex);
    instance->both_tags_seen = true;
}

TEST(SettingsDefaults, SixteenKeys) {
    data_ptr settings = default_settings();
    std::set<std::string> names;
    for (obs_data_item_t *item = obs_data_first(settings.get()); item; obs_data_item_next(&item))
        names.insert(obs_data_item_get_name(item));
    const std::set<std::string> expected = {"pv_version",
                                            "enable_tracking",
                                            "hide_without_both_tags",
                                            "tag_family",
                                            "tag_id_a",
                                            "tag_id_b",
                                            "padding",
                                            "detect_width",
                                            "detect_fps",
                                            "follow_half_life_ms",
                                            "perf_diagnostics",
                                            "min_decision_margin",
                                            "max_hamming",
                                            "quad_sigma",
                                            "refine_edges",
                                            "decode_sharpening"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(obs_data_get_default_double(settings.get(), "min_decision_margin"), 20.0);
    EXPECT_EQ(obs_data_get_default_double(settings.get(), "decode_sharpening"), 0.25);
    EXPECT_EQ(obs_data_get_default_int(settings.get(), "detect_width"), 960);
    EXPECT_EQ(obs_data_get_default_double(settings.get(), "detect_fps"), 5.0);
}

TEST(ReadSettings, WritesTheCorrectedIdsBackButNotTheFamily) {
    data_ptr settings = default_settings();
    obs_data_set_int(settings.get(), "tag_id_a", 5);
    obs_data_set_int(settings.get(), "tag_id_b", 7);
    obs_data_set_int(settings.get(), "tag_family", 2);
    obs_data_set_double(settings.get(), "detect_fps", 0.5);
    filter_instance probe{};
    const settings_snapshot s = read_settings(&probe, settings.get());
    EXPECT_EQ(s.tag_id_a, 0);
    EXPECT_EQ(s.tag_id_b, 1);
    EXPECT_EQ(s.tag_family, 0);
    EXPECT_EQ(s.detect_fps, 1.0f);
    EXPECT_EQ(obs_data_get_int(settings.get(), "tag_id_a"), 0);
    EXPECT_EQ(obs_data_get_int(settings.get(), "tag_id_b"), 1);
    EXPECT_EQ(obs_data_get_int(settings.get(), "tag_family"), 2);
}

TEST(ReadSettings, ReadsIntegersStoredWhereDoublesAreExpected) {
    data_ptr settings = default_settings();
    obs_data_set_int(settings.get(), "detect_fps", 10); // the panel's list stores integers
    obs_data_set_int(settings.get(), "padding", 12);
    filter_instance probe{};
    const settings_snapshot s = read_settings(&probe, settings.get());
    EXPECT_EQ(s.detect_fps, 10.0f);
    EXPECT_EQ(s.padding, 12.0f);
}

TEST(FilterUpdate, SwitchesTheFamilyBothWays) {
    data_ptr settings = default_settings();
    instance_ptr instance = create_instance(settings.get());
    ASSERT_NE(instance, nullptr);
    for (int family : {1, 0, 1}) {
        obs_data_set_int(settings.get(), "tag_family", family);
        filter_update(instance.get(), settings.get());
        EXPECT_STREQ(instance->family->name, family ? "tagCircle21h7" : "tag16h5");
        ASSERT_EQ(zarray_size(instance->detector->tag_families), 1);
        apriltag_family_t *registered = nullptr;
        zarray_get(instance->detector->tag_families, 0, &registered);
        EXPECT_EQ(registered, instance->family);
        EXPECT_EQ(copy_settings(instance.get()).tag_family, family);
    }
}

TEST(FilterUpdate, ResetsTrackingOnlyWhenTheMarkersOrTrackingComeBack) {
    data_ptr settings = default_settings();
    instance_ptr instance = create_instance(settings.get());
    ASSERT_NE(instance, nullptr);
    apriltag_family_t *family_before = instance->family;

    const struct {
        const char *name;
        void (*edit)(obs_data_t *);
        bool cleared;
    } steps[] = {
        {"padding only", [](obs_data_t *s) { obs_data_set_double(s, "padding", 8.0); }, false},
        {"tracking off", [](obs_data_t *s) { obs_data_set_bool(s, "enable_tracking", false); },
         false},
        {"tracking on again", [](obs_data_t *s) { obs_data_set_bool(s, "enable_tracking", true); },
         true},
        {"id b 1 to 0 normalises back", [](obs_data_t *s) { obs_data_set_int(s, "tag_id_b", 0); },
         false},
        {"id a to 1", [](obs_data_t *s) { obs_data_set_int(s, "tag_id_a", 1); }, true},
        {"width and rate", [](obs_data_t *s) { obs_data_set_int(s, "detect_width", 1920); }, false},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.name);
        mark_both_seen(instance.get());
        step.edit(settings.get());
        filter_update(instance.get(), settings.get());
        EXPECT_EQ(seen_both(instance.get()), !step.cleared);
    }
    EXPECT_EQ(instance->family, family_before) << "no family switch without a family change";
    const settings_snapshot s = copy_settings(instance.get());
    EXPECT_EQ(s.tag_id_a, 1);
    EXPECT_EQ(s.tag_id_b, 0);
    EXPECT_EQ(s.padding, 8.0f);
    EXPECT_EQ(s.detect_width, 1920);
}

void dirty_perf_window(filter_instance *instance) {
    mutex_lock lock(instance->perf_mutex);
    instance->perf_window_start_ns = 1;
    instance->perf_submitted = 7;
    instance->perf_detect_max_ns = 9;
}

TEST(FilterUpdate, DiagnosticsSwitchOpensOrClosesTheWindow) {
    data_ptr settings = default_settings();
    instance_ptr instance = create_instance(settings.get());
    ASSERT_NE(instance, nullptr);

    dirty_perf_window(instance.get());
    obs_data_set_bool(settings.get(), "perf_diagnostics", true);
    filter_update(instance.get(), settings.get());
    EXPECT_GT(instance->perf_window_start_ns, 1u);
    EXPECT_EQ(instance->perf_submitted, 0u);
    EXPECT_EQ(instance->perf_detect_max_ns, 0u);

    dirty_perf_window(instance.get());
    obs_data_set_bool(settings.get(), "perf_diagnostics", false);
    filter_update(instance.get(), settings.get());
    EXPECT_EQ(instance->perf_window_start_ns, 0u);
    EXPECT_EQ(instance->perf_submitted, 0u);
}

TEST(FilterUpdate, EnvironmentKeepsDiagnosticsOnWhateverTheSetting) {
    setenv("PINVALER_PERF", "1", 1);
    data_ptr settings = default_settings();
    instance_ptr instance = create_instance(settings.get());
    unsetenv("PINVALER_PERF");
    ASSERT_NE(instance, nullptr);
    EXPECT_TRUE(instance->perf_from_env);
    EXPECT_TRUE(copy_settings(instance.get()).perf_diagnostics);

    dirty_perf_window(instance.get());
    for (bool on : {true, false}) {
        obs_data_set_bool(settings.get(), "perf_diagnostics", on);
        filter_update(instance.get(), settings.get());
        EXPECT_EQ(instance->perf_submitted, 7u) << "the window is not reset";
    }
}

TEST(FilterUpdate, NullInstanceDoesNothing) {
    data_ptr settings = default_settings();
    filter_update(nullptr, settings.get());
    filter_destroy(nullptr);
}

} // namespace

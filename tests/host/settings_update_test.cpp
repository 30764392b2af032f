// The settings reader and update against real host settings and a running instance.
#include "filter/settings_io.h"
#include "filter_fixture.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

TEST(ReadSettings, WritesTheCorrectedIdsBackButNotTheFamilyAndReadsIntegersAsDoubles) {
    data_ptr settings = default_settings();
    obs_data_set_int(settings.get(), "tag_id_a", 5);
    obs_data_set_int(settings.get(), "tag_id_b", 7);
    obs_data_set_int(settings.get(), "tag_family", 2);
    obs_data_set_int(settings.get(), "detect_fps", 10); // the panel's list stores integers
    obs_data_set_int(settings.get(), "padding", 12);
    filter_instance probe{};
    const settings_snapshot s = read_settings(&probe, settings.get());
    EXPECT_EQ(std::tuple(s.tag_id_a, s.tag_id_b, s.tag_family, s.detect_fps, s.padding),
              std::tuple(0, 1, 0, 10.0f, 12.0f));
    EXPECT_EQ(obs_data_get_int(settings.get(), "tag_id_a"), 0);
    EXPECT_EQ(obs_data_get_int(settings.get(), "tag_id_b"), 1);
    EXPECT_EQ(obs_data_get_int(settings.get(), "tag_family"), 2);
}

TEST(FilterUpdate, SwitchesTheFamilyBothWays) {
    data_ptr settings = default_settings();
    obs_data_set_int(settings.get(), "tag_family", 1);
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
    filter_update(nullptr, settings.get());
}

TEST(FilterUpdate, ResetsTrackingOnlyWhenTheMarkersOrTrackingComeBack) {
    data_ptr settings = default_settings();
    instance_ptr instance = create_instance(settings.get());
    ASSERT_NE(instance, nullptr);
    apriltag_family_t *family_before = instance->family;
    const struct {
        void (*edit)(obs_data_t *);
        bool cleared;
    } steps[] = {
        {[](obs_data_t *s) { obs_data_set_double(s, "padding", 8.0); }, false},
        {[](obs_data_t *s) { obs_data_set_bool(s, "enable_tracking", false); }, false},
        {[](obs_data_t *s) { obs_data_set_bool(s, "enable_tracking", true); }, true},
        {[](obs_data_t *s) { obs_data_set_int(s, "tag_id_b", 0); }, false}, // normalises back
        {[](obs_data_t *s) { obs_data_set_int(s, "tag_id_a", 1); }, true},
        {[](obs_data_t *s) { obs_data_set_int(s, "detect_width", 1920); }, false},
        {[](obs_data_t *s) { obs_data_set_int(s, "tag_family", 1); }, true},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        {
            mutex_lock lock(instance->frame_mutex);
            instance->both_tags_seen = true;
        }
        steps[i].edit(settings.get());
        filter_update(instance.get(), settings.get());
        EXPECT_EQ(
            read_locked<bool>(instance->frame_mutex, [&] { return instance->both_tags_seen; }),
            !steps[i].cleared)
            << "step " << i;
        EXPECT_EQ(instance->family == family_before, i < 6) << "family switched only at the end";
    }
    const settings_snapshot s = copy_settings(instance.get());
    EXPECT_EQ(std::tuple(s.tag_id_a, s.tag_id_b, s.padding, s.detect_width),
              std::tuple(1, 0, 8.0f, 1920));
}

void dirty_perf_window(filter_instance *instance) {
    mutex_lock lock(instance->perf_mutex);
    instance->perf_window_start_ns = 1;
    instance->perf_submitted = 7;
    instance->perf_detect_max_ns = 9;
}

TEST(FilterUpdate, DiagnosticsSwitchOpensOrClosesTheWindowUnlessTheEnvironmentKeepsItOn) {
    for (bool from_env : {false, true}) {
        SCOPED_TRACE(from_env ? "PINVALER_PERF=1" : "no PINVALER_PERF");
        if (from_env)
            setenv("PINVALER_PERF", "1", 1);
        data_ptr settings = default_settings();
        instance_ptr instance = create_instance(settings.get());
        unsetenv("PINVALER_PERF");
        ASSERT_NE(instance, nullptr);
        for (bool on : {true, false}) {
            dirty_perf_window(instance.get());
            obs_data_set_bool(settings.get(), "perf_diagnostics", on);
            filter_update(instance.get(), settings.get());
            EXPECT_EQ(copy_settings(instance.get()).perf_diagnostics, on || from_env);
            if (from_env) {
                EXPECT_EQ(instance->perf_submitted, 7u) << "the window is not reset";
                continue;
            }
            const uint64_t start = instance->perf_window_start_ns;
            EXPECT_TRUE(on ? start > 1 : start == 0) << start;
            EXPECT_EQ(instance->perf_submitted + instance->perf_detect_max_ns, 0u);
        }
    }
}

} // namespace

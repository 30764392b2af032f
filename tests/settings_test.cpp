#include "detect/detector_setup.h"
#include "filter/settings.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr double nan_d = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_d = std::numeric_limits<double>::infinity();

stored_settings stored_defaults() {
    return {true, false, 0, 0, 1, 0.0, 960, 5.0, 250.0, false};
}

struct normalise_case {
    const char *name;
    void (*edit)(stored_settings &);
    void (*check)(const settings_snapshot &);
};

const normalise_case normalise_cases[] = {
    {"ids out of range read as 0 and 1", [](stored_settings &s) { s.tag_id_a = 5, s.tag_id_b = 7; },
     [](const settings_snapshot &n) {
         EXPECT_EQ(n.tag_id_a, 0);
         EXPECT_EQ(n.tag_id_b, 1);
     }},
    {"ids 1 and 1 read as 1 and 0", [](stored_settings &s) { s.tag_id_a = 1, s.tag_id_b = 1; },
     [](const settings_snapshot &n) {
         EXPECT_EQ(n.tag_id_a, 1);
         EXPECT_EQ(n.tag_id_b, 0);
     }},
    {"ids 0 and 0 read as 0 and 1", [](stored_settings &s) { s.tag_id_a = 0, s.tag_id_b = 0; },
     [](const settings_snapshot &n) {
         EXPECT_EQ(n.tag_id_a, 0);
         EXPECT_EQ(n.tag_id_b, 1);
     }},
    {"id compared on its low 32 bits", [](stored_settings &s) { s.tag_id_a = (1LL << 32) + 1; },
     [](const settings_snapshot &n) {
         EXPECT_EQ(n.tag_id_a, 1);
         EXPECT_EQ(n.tag_id_b, 0);
     }},
    {"family 2 reads as tag16h5", [](stored_settings &s) { s.tag_family = 2; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.tag_family, 0); }},
    {"family -1 reads as tag16h5", [](stored_settings &s) { s.tag_family = -1; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.tag_family, 0); }},
    {"family 1 is kept", [](stored_settings &s) { s.tag_family = 1; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.tag_family, 1); }},
    {"width below range", [](stored_settings &s) { s.detect_width = 100; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.detect_width, 160); }},
    {"width above range", [](stored_settings &s) { s.detect_width = 5000; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.detect_width, 3840); }},
    {"width whose low bits are negative", [](stored_settings &s) { s.detect_width = 0xFFFFFFFFLL; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.detect_width, 160); }},
    {"fps below one", [](stored_settings &s) { s.detect_fps = 0.5; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.detect_fps, 1.0f); }},
    {"fps NaN", [](stored_settings &s) { s.detect_fps = nan_d; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.detect_fps, 1.0f); }},
    {"fps beyond float range", [](stored_settings &s) { s.detect_fps = 1e300; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.detect_fps, 1.0f); }},
    {"fps 240 kept", [](stored_settings &s) { s.detect_fps = 240.0; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.detect_fps, 240.0f); }},
    {"padding negative", [](stored_settings &s) { s.padding = -3.0; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.padding, 0.0f); }},
    {"padding infinite", [](stored_settings &s) { s.padding = inf_d; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.padding, 0.0f); }},
    {"padding has no upper bound", [](stored_settings &s) { s.padding = 1e6; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.padding, 1e6f); }},
    {"half-life negative", [](stored_settings &s) { s.follow_half_life_ms = -1.0; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.follow_half_life_ms, 0.0f); }},
    {"half-life NaN", [](stored_settings &s) { s.follow_half_life_ms = nan_d; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.follow_half_life_ms, 0.0f); }},
    {"half-life rounds to the nearest float",
     [](stored_settings &s) { s.follow_half_life_ms = 0.1; },
     [](const settings_snapshot &n) { EXPECT_EQ(n.follow_half_life_ms, 0.1f); }},
};

TEST(NormaliseSettings, FollowsTheTable) {
    for (const normalise_case &c : normalise_cases) {
        SCOPED_TRACE(c.name);
        stored_settings stored = stored_defaults();
        c.edit(stored);
        c.check(normalise_settings(stored, false));
    }
}

TEST(NormaliseSettings, DefaultsReadAsTheDefaultSnapshot) {
    const settings_snapshot n = normalise_settings(stored_defaults(), false);
    const settings_snapshot &d = default_settings_snapshot;
    EXPECT_EQ(n.enable_tracking, d.enable_tracking);
    EXPECT_EQ(n.hide_without_both_tags, d.hide_without_both_tags);
    EXPECT_EQ(n.tag_family, d.tag_family);
    EXPECT_EQ(n.tag_id_a, d.tag_id_a);
    EXPECT_EQ(n.tag_id_b, d.tag_id_b);
    EXPECT_EQ(n.padding, d.padding);
    EXPECT_EQ(n.detect_width, d.detect_width);
    EXPECT_EQ(n.detect_fps, d.detect_fps);
    EXPECT_EQ(n.follow_half_life_ms, d.follow_half_life_ms);
    EXPECT_EQ(n.perf_diagnostics, d.perf_diagnostics);
}

TEST(NormaliseSettings, EnvironmentTurnsDiagnosticsOn) {
    stored_settings stored = stored_defaults();
    EXPECT_FALSE(normalise_settings(stored, false).perf_diagnostics);
    EXPECT_TRUE(normalise_settings(stored, true).perf_diagnostics);
    stored.perf_diagnostics = true;
    EXPECT_TRUE(normalise_settings(stored, false).perf_diagnostics);
}

TEST(PerfEnvironment, OnlyEmptyAndZeroLeaveItOff) {
    const struct {
        const char *value;
        bool set;
    } cases[] = {{nullptr, false}, {"", false},  {"0", false}, {"1", true},
                 {"00", true},     {"0 ", true}, {"no", true}, {"false", true}};
    for (const auto &c : cases)
        EXPECT_EQ(perf_env_value_set(c.value), c.set) << (c.value ? c.value : "(unset)");
}

TEST(DetectorThreads, HalfTheCoresBetweenOneAndFour) {
    const struct {
        int physical, logical, threads;
    } cases[] = {{0, 0, 2},   {-1, -3, 2}, {1, 2, 1},  {2, 4, 1},  {6, 12, 3},
                 {16, 32, 4}, {0, 8, 4},   {-1, 3, 1}, {9, 18, 4}, {0, 1, 1}};
    for (const auto &c : cases)
        EXPECT_EQ(detector_thread_count(c.physical, c.logical), c.threads)
            << c.physical << " physical, " << c.logical << " logical";
}

} // namespace

#include "detect/detector.h"
#include "filter/settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace {

// Each row edits the stored defaults and the snapshot they must read as: ids out of range or
// equal, families, widths out of range, rates, padding and half-lives out of range or not finite.
TEST(NormaliseSettings, FollowsTheTable) {
    using edit = void (*)(stored_settings &, settings_snapshot &);
    const edit cases[] = {
        [](auto &, auto &) {},
        [](auto &s, auto &) { s.tag_id_a = 5, s.tag_id_b = 7; },
        [](auto &s, auto &n) { s.tag_id_a = s.tag_id_b = n.tag_id_a = 1, n.tag_id_b = 0; },
        [](auto &s, auto &) { s.tag_id_a = s.tag_id_b = 0; },
        [](auto &s, auto &n) { s.tag_id_a = (1LL << 32) + 1, n.tag_id_a = 1, n.tag_id_b = 0; },
        [](auto &s, auto &) { s.tag_family = 2; },
        [](auto &s, auto &) { s.tag_family = -1; },
        [](auto &s, auto &n) { s.tag_family = 1, n.tag_family = tag_family_kind::circle21h7; },
        [](auto &s, auto &n) { s.detect_width = 100, n.detect_width = 160; },
        [](auto &s, auto &n) { s.detect_width = 5000, n.detect_width = 3840; },
        [](auto &s, auto &n) { s.detect_width = 0xFFFFFFFFLL, n.detect_width = 160; },
        [](auto &s, auto &n) { s.detect_fps = 0.5, n.detect_fps = 1.0f; },
        [](auto &s, auto &n) { s.detect_fps = std::nan(""), n.detect_fps = 1.0f; },
        [](auto &s, auto &n) { s.detect_fps = 1e300, n.detect_fps = 1.0f; },
        [](auto &s, auto &n) { s.detect_fps = 240.0, n.detect_fps = 240.0f; },
        [](auto &s, auto &) { s.padding = -3.0; },
        [](auto &s, auto &) { s.padding = HUGE_VAL; },
        [](auto &s, auto &n) { s.padding = 1e6, n.padding = 1e6f; },
        [](auto &s, auto &n) { s.follow_half_life_ms = -1.0, n.follow_half_life_ms = 0; },
        [](auto &s, auto &n) { s.follow_half_life_ms = std::nan(""), n.follow_half_life_ms = 0; },
        [](auto &s, auto &n) { s.follow_half_life_ms = 0.1, n.follow_half_life_ms = 0.1f; },
        [](auto &s, auto &n) { s.perf_diagnostics = n.perf_diagnostics = true; },
        [](auto &s, auto &n) { s.crop_shape = 1, n.crop_shape = crop_shape_kind::source; },
        [](auto &s, auto &) { s.crop_shape = 2; },
        [](auto &s, auto &) { s.crop_shape = (1LL << 32) + 2; },
        [](auto &s, auto &n) {
            s.crop_shape = (1LL << 32) + 1, n.crop_shape = crop_shape_kind::source;
        },
        [](auto &s, auto &n) { s.force_gpu_intake = n.force_gpu_intake = true; },
        [](auto &s, auto &n) { s.show_setup_view = n.show_setup_view = true; },
        [](auto &s, auto &n) { s.window_search = n.window_search = false; },
    };
    const auto fields = [](const settings_snapshot &n) {
        return std::tuple(n.enable_tracking, n.hide_without_both_tags, n.tag_family, n.tag_id_a,
                          n.tag_id_b, n.padding, n.detect_width, n.detect_fps,
                          n.follow_half_life_ms, n.perf_diagnostics, n.crop_shape,
                          n.force_gpu_intake, n.show_setup_view, n.window_search);
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        stored_settings stored = {.enable_tracking = true,
                                  .hide_without_both_tags = false,
                                  .tag_family = 0,
                                  .tag_id_a = 0,
                                  .tag_id_b = 1,
                                  .padding = 0.0,
                                  .detect_width = 960,
                                  .detect_fps = 5.0,
                                  .follow_half_life_ms = 250.0,
                                  .perf_diagnostics = false,
                                  .crop_shape = 0,
                                  .force_gpu_intake = false,
                                  .show_setup_view = false,
                                  .window_search = true};
        settings_snapshot want = default_settings_snapshot;
        cases[i](stored, want);
        EXPECT_EQ(fields(normalise_settings(stored, false)), fields(want)) << "row " << i;
        want.perf_diagnostics = true;
        EXPECT_EQ(fields(normalise_settings(stored, true)), fields(want))
            << "row " << i << ", environment on";
    }
}

// Which edits start the markers' tracking over: the family and either id, nothing else.
TEST(MarkersChanged, OnlyTheFamilyAndTheIds) {
    using edit = void (*)(settings_snapshot &);
    const std::pair<edit, bool> cases[] = {
        {[](settings_snapshot &) {}, false},
        {[](settings_snapshot &s) { s.tag_family = tag_family_kind::circle21h7; }, true},
        {[](settings_snapshot &s) { s.tag_id_a = 1, s.tag_id_b = 0; }, true},
        {[](settings_snapshot &s) { s.tag_id_b = 0; }, true},
        {[](settings_snapshot &s) { s.padding = 4, s.detect_width = 640, s.detect_fps = 3; },
         false},
        {[](settings_snapshot &s) { s.enable_tracking = false, s.hide_without_both_tags = true; },
         false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        settings_snapshot after = default_settings_snapshot;
        cases[i].first(after);
        EXPECT_EQ(markers_changed(default_settings_snapshot, after), cases[i].second)
            << "row " << i;
    }
}

TEST(PerfEnvironment, OnlyUnsetEmptyAndZeroLeaveItOff) {
    for (const char *off : {static_cast<const char *>(nullptr), "", "0"})
        EXPECT_FALSE(perf_env_value_set(off)) << (off ? off : "(unset)");
    for (const char *on : {"1", "00", "0 ", "no", "false"})
        EXPECT_TRUE(perf_env_value_set(on)) << on;
}

TEST(DetectorThreads, HalfTheCoresBetweenOneAndFour) {
    const struct {
        int physical, logical, threads;
    } cases[] = {
        {.physical = 0, .logical = 0, .threads = 2},  {.physical = -1, .logical = -3, .threads = 2},
        {.physical = 1, .logical = 2, .threads = 1},  {.physical = 2, .logical = 4, .threads = 1},
        {.physical = 6, .logical = 12, .threads = 3}, {.physical = 16, .logical = 32, .threads = 4},
        {.physical = 0, .logical = 8, .threads = 4},  {.physical = -1, .logical = 3, .threads = 1},
        {.physical = 9, .logical = 18, .threads = 4}, {.physical = 0, .logical = 1, .threads = 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(detector_thread_count(c.physical, c.logical), c.threads)
            << c.physical << " physical, " << c.logical << " logical";
}

} // namespace

#include "detect/perf_report.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(PerfReport, ValuesOfAKnownWindow) {
    // 30 frames converted in 0.25 ms each, 25 detections of 40 ms each in 5 s.
    perf_counters c{30, 25, 20, 10, 75, 2, 30 * 250000ull, 1000000, 25 * 40000000ull, 90000000};
    const perf_report r = make_perf_report(c, 5000000000ull, 5.0, {1920, 1080, 960, 540, 2});
    EXPECT_EQ(std::tuple(r.source_width, r.source_height, r.detect_width, r.detect_height,
                         r.threads, r.submitted, r.dropped, r.overruns),
              std::tuple(1920, 1080, 960, 540, 2, 30ull, 5ull, 2ull));
    EXPECT_EQ(std::tuple(r.sigma, std::string(r.refine), r.sharpening),
              std::tuple(0.0, "off", 0.25));
    const double got[] = {
        r.requested_fps,       r.actual_fps,       r.detect_avg_ms,    r.detect_max_ms,
        r.detect_duty_percent, r.downscale_avg_ms, r.downscale_max_ms, r.downscale_duty_percent,
        r.quads_per_run,       r.any_tag_percent,  r.both_tags_percent};
    const double want[] = {5.0, 5.0, 40.0, 90.0, 20.0, 0.25, 1.0, 0.15, 3.0, 80.0, 40.0};
    for (size_t i = 0; i < std::size(want); ++i)
        EXPECT_DOUBLE_EQ(got[i], want[i]) << "value " << i;

    // Repeated runs on a held frame: more detections than frames, and none converted here.
    c.submitted = c.downscale_total_ns = 0;
    const perf_report held = make_perf_report(c, 6000000000ull, 30.0, {});
    EXPECT_EQ(held.dropped, 0u) << "never negative";
    EXPECT_EQ(held.downscale_avg_ms, 0.0);
    EXPECT_DOUBLE_EQ(held.actual_fps, 25.0 / 6.0);
}

} // namespace

#include "detect/detection_rate.h"
#include "detect/perf_report.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

TEST(DetectionRate, FallsBackToThirtyAndTruncatesTheInterval) {
    const struct {
        float fps;
        double rate;
        uint64_t interval;
    } cases[] = {
        {3.0f, 3.0, 333333333},
        {5.0f, 5.0, 200000000},
        {30.0f, 30.0, 33333333},
        {0.1f, 30.0, 33333333},
        {0.0f, 30.0, 33333333},
        {-4.0f, 30.0, 33333333},
        {std::numeric_limits<float>::quiet_NaN(), 30.0, 33333333},
        {1e9f, 1e9, 1},
        {4e9f, static_cast<double>(4e9f), 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(effective_detect_rate(c.fps), c.rate) << c.fps;
        EXPECT_EQ(detect_interval_ns(effective_detect_rate(c.fps)), c.interval) << c.fps;
    }
}

TEST(PerfReport, ValuesOfAKnownWindow) {
    perf_counters c{};
    c.submitted = 30;
    c.detections = 25;
    c.any_tag = 20;
    c.both_tags = 10;
    c.quads = 75;
    c.overruns = 2;
    c.downscale_total_ns = 30 * 250000ull; // 0.25 ms each
    c.downscale_max_ns = 1000000;
    c.detect_total_ns = 25 * 40000000ull; // 40 ms each
    c.detect_max_ns = 90000000;
    const perf_frame_info frame = {1920, 1080, 960, 540, 2};
    const perf_report r = make_perf_report(c, 5000000000ull, 5.0, frame);

    EXPECT_EQ(r.source_width, 1920);
    EXPECT_EQ(r.detect_height, 540);
    EXPECT_EQ(r.threads, 2);
    EXPECT_DOUBLE_EQ(r.requested_fps, 5.0);
    EXPECT_DOUBLE_EQ(r.actual_fps, 5.0);
    EXPECT_DOUBLE_EQ(r.detect_avg_ms, 40.0);
    EXPECT_DOUBLE_EQ(r.detect_max_ms, 90.0);
    EXPECT_DOUBLE_EQ(r.detect_duty_percent, 20.0);
    EXPECT_DOUBLE_EQ(r.downscale_avg_ms, 0.25);
    EXPECT_DOUBLE_EQ(r.downscale_max_ms, 1.0);
    EXPECT_DOUBLE_EQ(r.downscale_duty_percent, 0.15);
    EXPECT_DOUBLE_EQ(r.quads_per_run, 3.0);
    EXPECT_DOUBLE_EQ(r.any_tag_percent, 80.0);
    EXPECT_DOUBLE_EQ(r.both_tags_percent, 40.0);
    EXPECT_EQ(r.submitted, 30u);
    EXPECT_EQ(r.dropped, 5u);
    EXPECT_EQ(r.overruns, 2u);
    EXPECT_STREQ(r.refine, "off");
    EXPECT_EQ(r.sigma, 0.0);
    EXPECT_EQ(r.sharpening, 0.25);
}

TEST(PerfReport, NoIntakeRecordsAndRepeatedRuns) {
    perf_counters c{};
    c.detections = 12;
    c.submitted = 0;
    const perf_report r = make_perf_report(c, 6000000000ull, 30.0, {});
    EXPECT_EQ(r.downscale_avg_ms, 0.0);
    EXPECT_EQ(r.downscale_max_ms, 0.0);
    EXPECT_EQ(r.downscale_duty_percent, 0.0);
    EXPECT_EQ(r.dropped, 0u) << "more detections than submissions never goes negative";
    EXPECT_DOUBLE_EQ(r.actual_fps, 2.0);
}

} // namespace

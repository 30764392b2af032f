// The frame thread's detection gate on controlled timestamps, and the values of the
// performance report line.
#include "detect/perf_report.h"
#include "intake/rate_gate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr uint64_t ms = 1000000;

TEST(RateGate, SixtyFramesASecondAtFiveDetectionsTakeOnePerSlot) {
    float schedule = 5.0f;
    uint64_t next = 0;
    const uint64_t frame = 16666667, start = 1000 * ms;
    std::vector<uint64_t> due;
    for (uint64_t i = 0; i < 120; ++i)
        if (rate_gate_due(schedule, next, 5.0f, start + i * frame))
            due.push_back(i * frame);
    ASSERT_EQ(due.size(), 10u);
    // The first frame at or after each 200 ms grid point, in the phase of the first frame.
    for (uint64_t i = 0; i < due.size(); ++i) {
        EXPECT_GE(due[i], i * 200 * ms);
        EXPECT_LT(due[i], i * 200 * ms + frame);
    }
}

// A 1.7 s gap is not made up in a burst; a change of more than 0.01 fps restarts the grid with
// the next frame.
TEST(RateGate, GapsAndRateChanges) {
    float schedule = 5.0f;
    uint64_t next = 0;
    const struct {
        float fps;
        uint64_t at_ms;
        bool due;
    } frames[] = {{5, 0, true},     {5, 200, true},    {5, 1900, true},
                  {5, 1950, false}, {5, 2000, true},   {5.005f, 2050, false},
                  {10, 2060, true}, {10, 2100, false}, {10, 2160, true}};
    for (const auto &f : frames)
        EXPECT_EQ(rate_gate_due(schedule, next, f.fps, 5000 * ms + f.at_ms * ms), f.due)
            << f.at_ms << " ms at " << f.fps << " fps";
}

TEST(RateGate, AbsurdRatesNeverDivideByZero) {
    for (const float rate : {0.0f, -3.0f, NAN, 2e9f, INFINITY}) {
        float schedule = rate;
        uint64_t next = 0;
        EXPECT_TRUE(rate_gate_due(schedule, next, rate, 10)) << rate;
        EXPECT_TRUE(rate_gate_due(schedule, next, rate, 10 + 34 * ms)) << rate;
        // Unusable rates fall back to 30 per second.
        EXPECT_EQ(next, rate > 1e9f ? 10 + 34 * ms + 1 : 10 + 2 * 33333333u) << rate;
    }
}

TEST(PerfReport, ValuesOfAKnownWindow) {
    // 30 frames converted in 0.25 ms each, 25 detections of 40 ms each in 5 s.
    const perf_counters c{30,      25, 20, 10, 75, 2, 30 * 250000ull, 1000000, 25 * 40000000ull,
                          90000000};
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
}

} // namespace

// The frame thread's detection gate on controlled timestamps.
#include "intake/rate_gate.h"

#include <gtest/gtest.h>

#include <cmath>
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

} // namespace

#include "intake/rate_gate.h"

#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

constexpr uint64_t ms = 1000000;

struct gate {
    float schedule_fps;
    uint64_t next_ns = 0;
    bool due(float fps, uint64_t now) { return rate_gate_due(schedule_fps, next_ns, fps, now); }
};

// Times (relative to the start) of the frames a gate lets through.
std::vector<uint64_t> due_frames(gate &g, float fps, uint64_t start, uint64_t step, int count) {
    std::vector<uint64_t> due;
    for (int i = 0; i < count; ++i) {
        const uint64_t now = start + static_cast<uint64_t>(i) * step;
        if (g.due(fps, now))
            due.push_back(now - start);
    }
    return due;
}

TEST(RateGate, SixtyFramesASecondAtFiveDetectionsTakeOnePerSlot) {
    gate g{5.0f};
    const uint64_t frame = 16666667; // 60 fps
    const std::vector<uint64_t> due = due_frames(g, 5.0f, 1000 * ms, frame, 120);
    ASSERT_EQ(due.size(), 10u);
    for (size_t i = 0; i < due.size(); ++i) {
        // The first frame at or after each 200 ms grid point, in the phase of the first frame.
        const uint64_t slot = i * 200 * ms;
        EXPECT_GE(due[i], slot);
        EXPECT_LT(due[i], slot + frame);
    }
}

TEST(RateGate, AGapIsNotMadeUpInABurst) {
    gate g{5.0f};
    const uint64_t t0 = 5000 * ms;
    ASSERT_TRUE(g.due(5.0f, t0));
    ASSERT_TRUE(g.due(5.0f, t0 + 200 * ms));
    // 1.7 s without frames: the next frame is due, the one after waits for the next grid point.
    ASSERT_TRUE(g.due(5.0f, t0 + 1900 * ms));
    EXPECT_EQ(g.next_ns, t0 + 2000 * ms);
    EXPECT_FALSE(g.due(5.0f, t0 + 1950 * ms));
    EXPECT_TRUE(g.due(5.0f, t0 + 2000 * ms));
}

TEST(RateGate, RateChangesRestartTheScheduleButNotTinyOnes) {
    gate g{5.0f};
    ASSERT_TRUE(g.due(5.0f, 1000 * ms));
    EXPECT_FALSE(g.due(5.005f, 1050 * ms)) << "0.005 fps is no change";
    EXPECT_TRUE(g.due(10.0f, 1060 * ms)) << "a new rate makes the next frame due at once";
    EXPECT_EQ(g.next_ns, 1160 * ms);
    EXPECT_EQ(g.schedule_fps, 10.0f);
}

TEST(RateGate, AbsurdRatesNeverDivideByZero) {
    const float rates[] = {0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(), 2e9f,
                           std::numeric_limits<float>::infinity()};
    for (float fps : rates) {
        gate g{fps};
        EXPECT_TRUE(g.due(fps, 10));
        EXPECT_TRUE(g.due(fps, 10 + 34 * ms)) << fps;
    }
    gate slow{0.0f};
    ASSERT_TRUE(slow.due(0.0f, 10));
    EXPECT_EQ(slow.next_ns, 10 + 33333333u) << "unusable rates fall back to 30 per second";
}

} // namespace

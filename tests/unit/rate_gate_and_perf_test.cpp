// The frame thread's detection gate and detection size on controlled timestamps, and the
// performance window with its report line.
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
    rate_gate gate{.schedule_fps = 5.0f, .next_detect_ns = 0};
    const uint64_t frame = 16666667, start = 1000 * ms;
    std::vector<uint64_t> due;
    for (uint64_t i = 0; i < 120; ++i)
        if (rate_gate_due(gate, 5.0f, start + i * frame))
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
    rate_gate gate{.schedule_fps = 5.0f, .next_detect_ns = 0};
    const struct {
        float fps;
        uint64_t at_ms;
        bool due;
    } frames[] = {
        {.fps = 5, .at_ms = 0, .due = true},     {.fps = 5, .at_ms = 200, .due = true},
        {.fps = 5, .at_ms = 1900, .due = true},  {.fps = 5, .at_ms = 1950, .due = false},
        {.fps = 5, .at_ms = 2000, .due = true},  {.fps = 5.005f, .at_ms = 2050, .due = false},
        {.fps = 10, .at_ms = 2060, .due = true}, {.fps = 10, .at_ms = 2100, .due = false},
        {.fps = 10, .at_ms = 2160, .due = true},
    };
    for (const auto &f : frames)
        EXPECT_EQ(rate_gate_due(gate, f.fps, 5000 * ms + f.at_ms * ms), f.due)
            << f.at_ms << " ms at " << f.fps << " fps";
}

TEST(RateGate, AbsurdRatesNeverDivideByZero) {
    for (const float rate : {0.0f, -3.0f, NAN, 2e9f, INFINITY}) {
        rate_gate gate{.schedule_fps = rate, .next_detect_ns = 0};
        EXPECT_TRUE(rate_gate_due(gate, rate, 10)) << rate;
        EXPECT_TRUE(rate_gate_due(gate, rate, 10 + 34 * ms)) << rate;
        // Unusable rates fall back to 30 per second.
        EXPECT_EQ(gate.next_detect_ns, rate > 1e9f ? 10 + 34 * ms + 1 : 10 + 2 * 33333333u) << rate;
    }
}

TEST(DetectionSize, AtMostTheDetectionWidthNeverWiderThanTheSource) {
    const struct {
        int32_t w, h, detect_width, out_w, out_h;
    } cases[] = {
        {.w = 1920, .h = 1080, .detect_width = 960, .out_w = 960, .out_h = 540},
        {.w = 1920, .h = 1081, .detect_width = 960, .out_w = 960, .out_h = 540},
        {.w = 1280, .h = 720, .detect_width = 960, .out_w = 960, .out_h = 540},
        {.w = 640, .h = 480, .detect_width = 960, .out_w = 640, .out_h = 480},
        {.w = 3840, .h = 2160, .detect_width = 3840, .out_w = 3840, .out_h = 2160},
        {.w = 3840, .h = 12, .detect_width = 960, .out_w = 960, .out_h = 3},
        {.w = 4000, .h = 1, .detect_width = 960, .out_w = 960, .out_h = 1},
        {.w = 5, .h = 7, .detect_width = 0, .out_w = 1, .out_h = 1},
    };
    for (const auto &c : cases) {
        const detection_size s = detection_size_for(c.w, c.h, c.detect_width);
        EXPECT_EQ(std::pair(s.width, s.height), std::pair(c.out_w, c.out_h))
            << c.w << "x" << c.h << " at " << c.detect_width;
    }
}

TEST(PerfReport, ValuesOfAKnownWindow) {
    // 30 frames converted in 0.25 ms each, 25 detections of 40 ms each in 5 s.
    const perf_counters c{
        .perf_submitted = 30,
        .perf_detections = 25,
        .perf_any_tag = 20,
        .perf_both_tags = 10,
        .perf_quads = 75,
        .perf_overruns = 2,
        .perf_downscale_total_ns = 30 * 250000ull,
        .perf_downscale_max_ns = 1000000,
        .perf_detect_total_ns = 25 * 40000000ull,
        .perf_detect_max_ns = 90000000,
    };
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

// Recording into a window: the overrun boundary, counts, the five-second report and the window
// it opens next.
TEST(PerfWindow, CountsRunsAndReportsOnceAWindowIsFiveSecondsOld) {
    constexpr uint64_t s = 1'000'000'000;
    const perf_frame_info none{0, 0, 0, 0, 2}; // no frame has come, so the sizes read 0x0
    perf_window w{};
    record_downscale(w, 500000, 100 * s);
    EXPECT_EQ(w.perf_window_start_ns, 100 * s) << "the first record opens the window";
    record_downscale(w, 300000, 100 * s + 1);
    // A second before the window's start: not a wrapped, huge elapsed time.
    w.perf_window_start_ns = 101 * s;
    EXPECT_FALSE(record_detection(w, 5.0f, 200000000, 0, false, false, 100 * s, none));
    // At 5 per second a run of exactly 200 ms is not an overrun; one nanosecond more is.
    EXPECT_FALSE(record_detection(w, 5.0f, 200000001, 3, true, false, 102 * s, none));
    const perf_counters &c = w.counters;
    EXPECT_EQ(std::tuple(c.perf_submitted, c.perf_downscale_total_ns, c.perf_downscale_max_ns,
                         c.perf_detections, c.perf_overruns, c.perf_quads, c.perf_any_tag,
                         c.perf_both_tags),
              std::tuple(2u, 800000u, 500000u, 2u, 1u, 3u, 1u, 0u));

    EXPECT_FALSE(record_detection(w, 5.0f, 1, 0, false, false, 106 * s - 1, none))
        << "just under five seconds";
    // Four runs in ten seconds; the other values follow from the counters.
    const auto line = record_detection(w, 5.0f, 200000002, 3, true, true, 111 * s, none);
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "[Pinvale perf] source=0x0 detect=0x0 requested=5.0 fps actual=0.40 fps "
                     "threads=2 sigma=0.00 refine=off sharpening=0.25 | detect avg/max=150.00/"
                     "200.00 ms duty=6.0% | downscale avg/max=0.40/0.50 ms duty=0.0% | "
                     "quads=1.5 tags(any/both)=50%/25% submitted=2 dropped=0 overruns=2");
    EXPECT_EQ(w.perf_window_start_ns, 111 * s) << "the report opens a new window";
    EXPECT_EQ(w.counters.perf_detections, 0u);

    open_perf_window(w, 0);
    EXPECT_FALSE(record_detection(w, NAN, 40000000, 0, false, false, 200 * s, none));
    EXPECT_EQ(std::tuple(w.perf_window_start_ns, w.counters.perf_overruns), std::tuple(200 * s, 1u))
        << "an unusable rate is taken as 30 per second";
}

} // namespace

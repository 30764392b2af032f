// The performance window on a real instance: recording, the overrun boundary and the report line.
#include "detect/perf_window.h"
#include "filter_fixture.h"
#include "host_environment.h"

#include <gtest/gtest.h>
#include <util/platform.h>

namespace {

TEST(PerfWindow, RecordsCountsAndTheOverrunBoundary) {
    instance_ptr instance = create_instance(default_settings().get());
    ASSERT_NE(instance, nullptr);
    filter_instance &in = *instance;
    perf_record_detection(&in, false, 5.0f, 1000, 4, true, true);
    EXPECT_EQ(in.perf_window_start_ns + in.perf_detections, 0u) << "disabled records nothing";

    perf_record_downscale(&in, 300);
    perf_record_downscale(&in, 100);
    EXPECT_NE(in.perf_window_start_ns, 0u) << "the first record opens the window";
    EXPECT_EQ(std::tuple(in.perf_submitted, in.perf_downscale_total_ns, in.perf_downscale_max_ns),
              std::tuple(2u, 400u, 300u));
    // At 5 per second a run of exactly 200 ms is not an overrun; one nanosecond more is.
    perf_record_detection(&in, true, 5.0f, 200000000, 0, false, false);
    perf_record_detection(&in, true, 5.0f, 200000001, 3, true, false);
    EXPECT_EQ(std::tuple(in.perf_detections, in.perf_overruns, in.perf_quads, in.perf_any_tag,
                         in.perf_both_tags),
              std::tuple(2u, 1u, 3u, 1u, 0u));
}

TEST(PerfWindow, ReportsOnceAWindowIsFiveSecondsOldAndNeverForOneInTheFuture) {
    instance_ptr instance = create_instance(default_settings().get());
    ASSERT_NE(instance, nullptr);
    filter_instance &in = *instance;
    // The worker's sizes as the report shows them; the worker is idle here.
    in.work_frame.source_width = 1920;
    in.work_frame.source_height = 1080;
    in.work_frame.width = 960;
    in.work_frame.height = 540;
    in.worker_threads = 2;
    const auto start_window = [&](int64_t age_ns) {
        mutex_lock lock(in.perf_mutex);
        in.perf_window_start_ns = os_gettime_ns() - static_cast<uint64_t>(age_ns);
    };
    const auto perf_lines = [](size_t mark) {
        std::vector<std::string> lines;
        for (const log_line &line : captured_log_since(mark))
            if (line.text.starts_with("[Pinvale perf] "))
                lines.push_back(std::to_string(line.level) + " " + line.text);
        return lines;
    };
    const size_t mark = log_mark();
    start_window(-1000000000); // a second ahead: no wrapped elapsed time
    perf_record_detection(&in, true, 5.0f, 1000, 1, false, false);
    {
        mutex_lock lock(in.perf_mutex);
        open_perf_window(&in, 0);
        in.perf_submitted = 4;
        in.perf_downscale_total_ns = 4 * 500000;
        in.perf_downscale_max_ns = 800000;
    }
    start_window(1000000000);
    perf_record_detection(&in, true, 5.0f, 40000000, 6, true, true);
    EXPECT_TRUE(perf_lines(mark).empty()) << "nothing before a window is five seconds old";
    start_window(10000000000);
    perf_record_detection(&in, true, 5.0f, 60000000, 2, true, false);
    // Two detections in about ten seconds; the other values follow from the counters.
    EXPECT_EQ(perf_lines(mark),
              std::vector<std::string>{
                  std::to_string(LOG_INFO) +
                  " [Pinvale perf] source=1920x1080 detect=960x540 requested=5.0 fps "
                  "actual=0.20 fps threads=2 sigma=0.00 refine=off sharpening=0.25 | detect "
                  "avg/max=50.00/60.00 ms duty=1.0% | downscale avg/max=0.50/0.80 ms duty=0.0% | "
                  "quads=4.0 tags(any/both)=100%/50% submitted=4 dropped=2 overruns=0"});
    EXPECT_EQ(in.perf_detections, 0u) << "the report opens a new window";
    EXPECT_NE(in.perf_window_start_ns, 0u);
}

} // namespace

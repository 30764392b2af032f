// The performance window on a real instance: recording, the overrun boundary and the report line.
#include "detect/perf_window.h"
#include "host_harness.h"

#include <gtest/gtest.h>
#include <util/platform.h>

namespace {

TEST(PerfWindow, CountsRunsAndReportsOnceAWindowIsFiveSecondsOld) {
    instance_ptr instance = create_instance(default_settings().get());
    ASSERT_NE(instance, nullptr);
    filter_instance &in = *instance; // its worker stays idle: nothing is ever submitted
    const auto window_age = [&](int64_t age_ns) {
        mutex_lock lock(in.perf_mutex);
        in.perf_window_start_ns = os_gettime_ns() - static_cast<uint64_t>(age_ns);
    };
    const size_t mark = log_mark();
    perf_record_detection(&in, false, 5.0f, 1000, 4, true, true);
    EXPECT_EQ(in.perf_window_start_ns + in.perf_detections, 0u) << "disabled records nothing";
    perf_record_downscale(&in, 500000);
    perf_record_downscale(&in, 300000);
    window_age(-1000000000); // a second ahead: not a wrapped, huge elapsed time
    perf_record_detection(&in, true, 5.0f, 200000000, 0, false, false);
    window_age(1000000000);
    // At 5 per second a run of exactly 200 ms is not an overrun; one nanosecond more is.
    perf_record_detection(&in, true, 5.0f, 200000001, 3, true, false);
    EXPECT_EQ(std::tuple(in.perf_submitted, in.perf_downscale_total_ns, in.perf_downscale_max_ns,
                         in.perf_detections, in.perf_overruns, in.perf_quads, in.perf_any_tag,
                         in.perf_both_tags),
              std::tuple(2u, 800000u, 500000u, 2u, 1u, 3u, 1u, 0u));

    in.worker_threads = 2; // no frame has come, so the sizes read 0x0
    window_age(10000000000);
    perf_record_detection(&in, true, 5.0f, 200000002, 3, true, true);
    std::vector<std::string> lines;
    for (const log_line &line : captured_log_since(mark))
        if (line.text.starts_with("[Pinvale perf] "))
            lines.push_back(std::to_string(line.level) + " " + line.text);
    // Three runs in about ten seconds; the other values follow from the counters.
    EXPECT_EQ(lines, std::vector<std::string>{
                         std::to_string(LOG_INFO) +
                         " [Pinvale perf] source=0x0 detect=0x0 requested=5.0 fps "
                         "actual=0.30 fps threads=2 sigma=0.00 refine=off sharpening=0.25 | "
                         "detect avg/max=200.00/200.00 ms duty=6.0% | downscale avg/max=0.40/0.50 "
                         "ms duty=0.0% | quads=2.0 tags(any/both)=67%/33% submitted=2 dropped=0 "
                         "overruns=2"});
    EXPECT_EQ(in.perf_detections, 0u) << "the report opens a new window";
    EXPECT_NE(in.perf_window_start_ns, 0u);
}

} // namespace

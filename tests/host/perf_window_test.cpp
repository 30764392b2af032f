// The performance window on a real instance: recording, the overrun boundary and the report line.
#include "detect/perf_window.h"
#include "filter_fixture.h"
#include "host_environment.h"

#include <gtest/gtest.h>
#include <util/platform.h>

namespace {

std::vector<std::string> perf_lines_since(size_t mark) {
    std::vector<std::string> lines;
    for (const log_line &line : captured_log_since(mark))
        if (line.text.rfind("[Pinvale perf] ", 0) == 0) {
            EXPECT_EQ(line.level, LOG_INFO);
            lines.push_back(line.text);
        }
    return lines;
}

class PerfWindow : public ::testing::Test {
protected:
    void SetUp() override {
        settings = default_settings();
        instance = create_instance(settings.get());
        ASSERT_NE(instance, nullptr);
    }
    // The worker's sizes as the report shows them; the worker is idle in these tests.
    void set_frame_sizes() {
        instance->work_frame.source_width = 1920;
        instance->work_frame.source_height = 1080;
        instance->work_frame.width = 960;
        instance->work_frame.height = 540;
        instance->worker_threads = 2;
    }
    void age_window(uint64_t age_ns) {
        mutex_lock lock(instance->perf_mutex);
        instance->perf_window_start_ns = os_gettime_ns() - age_ns;
    }
    data_ptr settings;
    instance_ptr instance;
};

TEST_F(PerfWindow, DisabledRecordsNothing) {
    perf_record_detection(instance.get(), false, 5.0f, 1000, 4, true, true);
    EXPECT_EQ(instance->perf_window_start_ns, 0u);
    EXPECT_EQ(instance->perf_detections, 0u);
}

TEST_F(PerfWindow, FirstRecordOpensTheWindowAndCounts) {
    perf_record_downscale(instance.get(), 300);
    perf_record_downscale(instance.get(), 100);
    EXPECT_NE(instance->perf_window_start_ns, 0u);
    EXPECT_EQ(instance->perf_submitted, 2u);
    EXPECT_EQ(instance->perf_downscale_total_ns, 400u);
    EXPECT_EQ(instance->perf_downscale_max_ns, 300u);

    perf_record_detection(instance.get(), true, 5.0f, 200000000, 0, false, false);
    perf_record_detection(instance.get(), true, 5.0f, 200000001, 3, true, false);
    EXPECT_EQ(instance->perf_detections, 2u);
    EXPECT_EQ(instance->perf_overruns, 1u) << "as long as the interval is not an overrun";
    EXPECT_EQ(instance->perf_quads, 3u) << "a run without quads adds nothing";
    EXPECT_EQ(instance->perf_any_tag, 1u);
    EXPECT_EQ(instance->perf_both_tags, 0u);
}

TEST_F(PerfWindow, ReportLineAfterFiveSecondsThenANewWindow) {
    set_frame_sizes();
    const size_t mark = log_mark();
    age_window(1000000000);
    perf_record_detection(instance.get(), true, 5.0f, 40000000, 6, true, true);
    EXPECT_TRUE(perf_lines_since(mark).empty()) << "a window younger than 5 s reports nothing";

    {
        mutex_lock lock(instance->perf_mutex);
        instance->perf_submitted = 4;
        instance->perf_downscale_total_ns = 4 * 500000;
        instance->perf_downscale_max_ns = 800000;
    }
    age_window(10000000000ull);
    perf_record_detection(instance.get(), true, 5.0f, 60000000, 2, true, false);
    const std::vector<std::string> lines = perf_lines_since(mark);
    ASSERT_EQ(lines.size(), 1u);
    // Two detections in about ten seconds; the line's other values follow from the counters.
    const std::string expected_start =
        "[Pinvale perf] source=1920x1080 detect=960x540 requested=5.0 fps actual=0.20 fps "
        "threads=2 sigma=0.00 refine=off sharpening=0.25 | detect avg/max=50.00/60.00 ms "
        "duty=1.0% | downscale avg/max=0.50/0.80 ms duty=0.0% | quads=4.0 "
        "tags(any/both)=100%/50% submitted=4 dropped=2 overruns=0";
    EXPECT_EQ(lines[0], expected_start);

    EXPECT_EQ(instance->perf_detections, 0u) << "the report opens a new window";
    EXPECT_NE(instance->perf_window_start_ns, 0u);
}

TEST_F(PerfWindow, WindowOpenedInTheFutureIsNotAWrappedElapsedTime) {
    const size_t mark = log_mark();
    {
        mutex_lock lock(instance->perf_mutex);
        instance->perf_window_start_ns = os_gettime_ns() + 1000000000ull;
    }
    perf_record_detection(instance.get(), true, 5.0f, 1000, 1, false, false);
    EXPECT_TRUE(perf_lines_since(mark).empty());
}

} // namespace

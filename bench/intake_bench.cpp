// The frame thread's cost per raw frame: a frame that is not due, and one that is.
#include "bench_instance.h"
#include "bench_table.h"
#include "filter/filter_callbacks.h"
#include "intake/downscale_luma.h"

#include <benchmark/benchmark.h>
#include <limits>
#include <util/platform.h>
#include <vector>

namespace {

struct bgra_frame {
    bgra_frame(uint32_t width, uint32_t height) : plane(static_cast<size_t>(width) * height * 4) {
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = static_cast<uint8_t>(i * 13);
        frame.format = VIDEO_FORMAT_BGRA;
        frame.width = width;
        frame.height = height;
        frame.linesize[0] = width * 4;
        frame.data[0] = plane.data();
    }
    std::vector<uint8_t> plane;
    obs_source_frame frame{};
};

void candidate_filter_video_not_due(benchmark::State &state) {
    filter_instance *instance = make_bench_instance(default_settings_snapshot);
    bgra_frame raw(1920, 1080);
    instance->next_detect_ns = std::numeric_limits<uint64_t>::max();
    for (auto _ : state)
        benchmark::DoNotOptimize(filter_video(instance, &raw.frame));
    free_bench_instance(instance);
}

// What a frame that is not due must pay at least: a settings copy under its lock and a clock read.
void baseline_lock_and_clock(benchmark::State &state) {
    filter_instance *instance = make_bench_instance(default_settings_snapshot);
    for (auto _ : state) {
        settings_snapshot copy = copy_settings(instance);
        benchmark::DoNotOptimize(copy);
        benchmark::DoNotOptimize(os_gettime_ns());
    }
    free_bench_instance(instance);
}

void candidate_filter_video_due(benchmark::State &state) {
    filter_instance *instance = make_bench_instance(default_settings_snapshot);
    bgra_frame raw(1920, 1080);
    for (auto _ : state) {
        instance->next_detect_ns = 0;
        benchmark::DoNotOptimize(filter_video(instance, &raw.frame));
    }
    free_bench_instance(instance);
}

// The conversion alone, on the same frame and destination size.
void baseline_downscale_only(benchmark::State &state) {
    bgra_frame raw(1920, 1080);
    std::vector<uint8_t> out(960 * 540);
    for (auto _ : state) {
        benchmark::DoNotOptimize(downscale_luma(LUMA_BGRA, out.data(), 960, 540, 960,
                                                raw.plane.data(), 1920, 1080, 1920 * 4, false));
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(candidate_filter_video_not_due)->Name("filter_video/not_due");
BENCHMARK(baseline_lock_and_clock)->Name("baseline/settings_copy_and_clock");
BENCHMARK(candidate_filter_video_due)->Name("filter_video/due_bgra_1920x1080_to_960x540");
BENCHMARK(baseline_downscale_only)->Name("baseline/downscale_bgra_1920x1080_to_960x540");

int main(int argc, char **argv) {
    bench_table table;
    const std::string group = "Host callbacks";
    // Every callback on a host thread: each under 2 microseconds of its own work.
    table.compare(group, {"filter_video, frame not due", "filter_video/not_due"},
                  {"settings copy + clock read", "baseline/settings_copy_and_clock"},
                  time_under_ns(2000.0));
    // A due frame pays for one conversion; the rest should not show.
    table.compare(group,
                  {"filter_video, frame due (BGRA 1920x1080 → 960x540)",
                   "filter_video/due_bgra_1920x1080_to_960x540"},
                  {"the conversion alone", "baseline/downscale_bgra_1920x1080_to_960x540"});
    return run_benchmarks(argc, argv, table,
                          {"--benchmark_repetitions=5",
                           "--benchmark_enable_random_interleaving=true",
                           "--benchmark_display_aggregates_only=true", "--benchmark_min_time=0.2"});
}

// The frame thread's cost per raw frame: a frame that is not due, and one that is.
#include "bench_instance.h"
#include "bench_table.h"
#include "intake/downscale_luma.h"

#include <limits>
#include <util/platform.h>

namespace {

std::vector<uint8_t> bgra_plane(1920 * 1080 * 4, 77);

obs_source_frame bgra_frame() {
    obs_source_frame frame{};
    frame.format = VIDEO_FORMAT_BGRA;
    frame.width = 1920;
    frame.height = 1080;
    frame.linesize[0] = 1920 * 4;
    frame.data[0] = bgra_plane.data();
    return frame;
}

// `due` 0: every frame early in its slot; 1: every frame due.
void filter_video_frames(benchmark::State &state) {
    filter_instance *instance = make_bench_instance();
    obs_source_frame frame = bgra_frame();
    const uint64_t next = state.range(0) ? 0 : std::numeric_limits<uint64_t>::max();
    for (auto _ : state) {
        instance->next_detect_ns = next;
        benchmark::DoNotOptimize(filter_video(instance, &frame));
    }
    filter_destroy(instance);
}

// What a frame that is not due must pay at least: a settings copy under its lock and a clock read.
void settings_copy_and_clock(benchmark::State &state) {
    filter_instance *instance = make_bench_instance();
    for (auto _ : state) {
        benchmark::DoNotOptimize(copy_settings(instance));
        benchmark::DoNotOptimize(os_gettime_ns());
    }
    filter_destroy(instance);
}

// The conversion alone, on the same frame and destination size.
void conversion_only(benchmark::State &state) {
    std::vector<uint8_t> out(960 * 540);
    for (auto _ : state) {
        benchmark::DoNotOptimize(downscale_luma(LUMA_BGRA, out.data(), 960, 540, 960,
                                                bgra_plane.data(), 1920, 1080, 1920 * 4, false));
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(filter_video_frames)->ArgName("due")->Arg(0)->Arg(1);
BENCHMARK(settings_copy_and_clock);
BENCHMARK(conversion_only);

int main(int argc, char **argv) {
    bench_table table;
    const std::string group = "Host callbacks";
    // Every callback on a host thread: each under 2 microseconds of its own work.
    table.compare(group, {"filter_video, frame not due", "filter_video_frames/due:0"},
                  {"settings copy + clock read", "settings_copy_and_clock"}, {0, 2000});
    // A due frame pays for one conversion; the rest should not show.
    table.compare(
        group, {"filter_video, frame due (BGRA 1920x1080 → 960x540)", "filter_video_frames/due:1"},
        {"the conversion alone", "conversion_only"});
    return run_benchmarks(argc, argv, table, 5, "0.2");
}

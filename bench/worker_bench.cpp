// The worker's own work around a detection (frame copy, selection, geometry,
// publication) against the bare detection on the same frame, and detection
// time by family, detection width and thread count.
#include "bench_instance.h"
#include "bench_table.h"
#include "detect/crop_geometry.h"
#include "detect/detector_pass.h"
#include "detect/detector_setup.h"
#include "detect/tag_detection.h"
#include "detect/tracking_status.h"
#include "detect/work_frame.h"
#include "platform/threads.h"
#include "tag_scenes.h"

#include <benchmark/benchmark.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>
#include <algorithm>
#include <util/platform.h>

namespace {

// The pictures are costly to draw; each is drawn once.
const gray_image &pair_picture(int32_t family_kind, int width) {
    static std::map<std::pair<int32_t, int>, gray_image> cache;
    const auto key = std::pair{family_kind, width};
    auto found = cache.find(key);
    if (found == cache.end()) {
        apriltag_family_t *family = create_tag_family(family_kind);
        scene_picture scene = make_tag_scene(family, tag_scene::pair, width, width * 9 / 16);
        destroy_tag_family(family, family_kind);
        found = cache.emplace(key, std::move(scene.image)).first;
    }
    return found->second;
}

// The benchmarks' plain record plus the detector: no graphics, no worker
// thread. The benchmark itself plays the worker.
class bench_instance {
public:
    bench_instance(int32_t family_kind, int32_t threads, const gray_image &picture) {
        settings_snapshot settings = default_settings_snapshot;
        settings.tag_family = family_kind;
        in_ = make_bench_instance(settings);
        in_->worker_running = true;
        in_->detector_mutex_ready = mutex_init(&in_->detector_mutex);
        in_->family = create_tag_family(family_kind);
        in_->detector = apriltag_detector_create();
        apriltag_detector_add_family(in_->detector, in_->family);
        in_->worker_threads = threads;
        configure_detector(in_->detector, threads);
        in_->canvas_width = 1920;
        in_->canvas_height = 1080;

        detection_frame &f = in_->input_frame;
        f.data = static_cast<uint8_t *>(bzalloc(picture.pixels.size()));
        std::memcpy(f.data, picture.pixels.data(), picture.pixels.size());
        f.width = f.stride = picture.width;
        f.height = picture.height;
        f.source_width = picture.width * 2;
        f.source_height = picture.height * 2;
        f.sequence = 1;
    }
    ~bench_instance() {
        bfree(in_->work_frame.data);
        apriltag_detector_destroy(in_->detector);
        destroy_tag_family(in_->family, in_->settings.tag_family);
        mutex_destroy(&in_->detector_mutex);
        free_bench_instance(in_);
    }
    bench_instance(const bench_instance &) = delete;
    bench_instance &operator=(const bench_instance &) = delete;

    filter_instance *get() { return in_; }

    // As the intake stamps each new frame: every pass copies a frame.
    void publish_next_frame() {
        mutex_lock lock(in_->frame_mutex);
        in_->input_frame.sequence += 1;
    }

    void set_diagnostics(bool on) {
        mutex_lock lock(in_->config_mutex);
        in_->settings.perf_diagnostics = on;
    }

private:
    filter_instance *in_;
};

constexpr int frame_width = 960;

void BM_BareDetect(benchmark::State &state) {
    const auto kind = static_cast<int32_t>(state.range(0));
    bench_instance b(kind, 2, pair_picture(kind, frame_width));
    const detection_frame &f = b.get()->input_frame;
    image_u8_t image{f.width, f.height, f.stride, f.data};
    for (auto _ : state) {
        zarray_t *detections = apriltag_detector_detect(b.get()->detector, &image);
        benchmark::DoNotOptimize(detections);
        apriltag_detections_destroy(detections);
    }
}

void BM_WorkerPass(benchmark::State &state) {
    const auto kind = static_cast<int32_t>(state.range(0));
    bench_instance b(kind, 2, pair_picture(kind, frame_width));
    b.set_diagnostics(state.range(1) != 0);
    for (auto _ : state) {
        b.publish_next_frame();
        if (run_detector_pass(b.get()) != pass_outcome::published)
            state.SkipWithError("the pass published nothing");
    }
    if (!b.get()->target_valid)
        state.SkipWithError("no crop target from the picture");
}

// Everything a pass does except the detection itself, on a stored result of
// the same frame: the worker's own share.
void BM_WorkerOwnWork(benchmark::State &state) {
    const auto kind = static_cast<int32_t>(state.range(0));
    bench_instance b(kind, 2, pair_picture(kind, frame_width));
    filter_instance *in = b.get();
    take_newest_frame(in);
    const detection_run run = detect_tags(in, in->work_frame, false);
    for (auto _ : state) {
        b.publish_next_frame();
        settings_snapshot settings;
        {
            mutex_lock lock(in->config_mutex);
            settings = in->settings;
        }
        take_newest_frame(in);
        const tag_pair_selection tags =
            select_detected_tags(run.detections, settings.tag_id_a, settings.tag_id_b);
        const bool both = tags.has_a && tags.has_b;
        const canvas_size canvas =
            publish_status(in, tags.has_a || tags.has_b, both, os_gettime_ns());
        const detection_frame &w = in->work_frame;
        const crop_target target =
            crop_target_from_pair(tags.a, tags.b, w.width, w.height, w.source_width,
                                  w.source_height, settings.padding, canvas.width, canvas.height);
        publish_target(in, target, w.source_width, w.source_height);
    }
    if (!in->target_valid)
        state.SkipWithError("no crop target from the picture");
    apriltag_detections_destroy(run.detections);
}

double median_ms(std::vector<uint64_t> times) {
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    if (n == 0)
        return 0.0;
    const double mid = n % 2 ? static_cast<double>(times[n / 2])
                             : (static_cast<double>(times[n / 2 - 1]) + times[n / 2]) * 0.5;
    return mid / 1e6;
}

// Bare detection and whole pass taken in turns on the same frame, each first
// every other time, so that load from elsewhere on the machine falls on both
// alike; medians keep the odd stall out.
void BM_PassAgainstBare(benchmark::State &state) {
    const auto kind = static_cast<int32_t>(state.range(0));
    bench_instance bare(kind, 2, pair_picture(kind, frame_width));
    bench_instance pass(kind, 2, pair_picture(kind, frame_width));
    const detection_frame &f = bare.get()->input_frame;
    image_u8_t image{f.width, f.height, f.stride, f.data};
    std::vector<uint64_t> bare_ns;
    std::vector<uint64_t> pass_ns;
    const auto time_bare = [&] {
        const uint64_t start = os_gettime_ns();
        apriltag_detections_destroy(apriltag_detector_detect(bare.get()->detector, &image));
        bare_ns.push_back(os_gettime_ns() - start);
    };
    const auto time_pass = [&] {
        pass.publish_next_frame();
        const uint64_t start = os_gettime_ns();
        run_detector_pass(pass.get());
        pass_ns.push_back(os_gettime_ns() - start);
    };
    bool bare_first = true;
    for (auto _ : state) {
        if (bare_first) {
            time_bare();
            time_pass();
        } else {
            time_pass();
            time_bare();
        }
        bare_first = !bare_first;
    }
    const double bare_ms = median_ms(bare_ns);
    const double pass_ms = median_ms(pass_ns);
    state.counters["bare_ms"] = bare_ms;
    state.counters["pass_ms"] = pass_ms;
    state.counters["overhead_pct"] = (pass_ms - bare_ms) * 100.0 / bare_ms;
}

void BM_Detect(benchmark::State &state) {
    const auto kind = static_cast<int32_t>(state.range(0));
    const int width = static_cast<int>(state.range(1));
    const auto threads = static_cast<int32_t>(state.range(2));
    bench_instance b(kind, threads, pair_picture(kind, width));
    const detection_frame &f = b.get()->input_frame;
    image_u8_t image{f.width, f.height, f.stride, f.data};
    for (auto _ : state) {
        zarray_t *detections = apriltag_detector_detect(b.get()->detector, &image);
        benchmark::DoNotOptimize(detections);
        apriltag_detections_destroy(detections);
    }
}

// Family 0 is tag16h5, 1 tagCircle21h7. Detection runs on the library's own
// threads too, so wall time is what counts.
BENCHMARK(BM_BareDetect)
    ->ArgName("family")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorkerPass)
    ->ArgNames({"family", "diagnostics"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorkerOwnWork)
    ->ArgName("family")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PassAgainstBare)
    ->ArgName("family")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(40)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Detect)
    ->ArgNames({"family", "width", "threads"})
    ->ArgsProduct({{0, 1}, {640, 960, 1920}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The diagnostics line would interleave with the table; failures still show.
void quiet_log(int level, const char *format, va_list args, void *) {
    if (level <= LOG_WARNING) {
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
    }
}

} // namespace

int main(int argc, char **argv) {
    base_set_log_handler(quiet_log, nullptr);

    bench_table table;
    const char *families[] = {"tag16h5", "tagCircle21h7"};
    const std::string worker = "Detector worker, 960x540 detection frame";
    for (int kind : {0, 1}) {
        const std::string family = families[kind];
        const std::string arg = "/family:" + std::to_string(kind);
        const std::string turns = "BM_PassAgainstBare" + arg + "/iterations:40/real_time";
        // The worker's own work should vanish next to the detection: under 2 %.
        table.compare(worker, {"worker pass, " + family, turns, "pass_ms", 1e6},
                      {"bare apriltag_detector_detect", turns, "bare_ms", 1e6},
                      ratio_at_most(1.02));
        table.compare(worker,
                      {"worker's own work (copy, selection, geometry, publication), " + family,
                       "BM_WorkerOwnWork" + arg + "/real_time"},
                      {"bare apriltag_detector_detect", "BM_BareDetect" + arg + "/real_time"},
                      ratio_at_most(0.02));
    }
    for (int kind : {0, 1}) {
        for (int width : {640, 960, 1920}) {
            const std::string run = "BM_Detect/family:" + std::to_string(kind) +
                                    "/width:" + std::to_string(width) + "/threads:";
            const std::string what =
                std::string(families[kind]) + " at " + std::to_string(width) + " px";
            table.compare("Detection time by family, width and threads",
                          {what + ", 2 threads", run + "2/real_time"},
                          {"1 thread", run + "1/real_time"});
        }
    }
    // Detections are long: fewer repetitions, still interleaved against load drift.
    return run_benchmarks(argc, argv, table,
                          {"--benchmark_repetitions=3",
                           "--benchmark_enable_random_interleaving=true",
                           "--benchmark_display_aggregates_only=true"});
}

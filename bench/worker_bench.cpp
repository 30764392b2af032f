// One worker pass against a bare detection on the same 960x540 frame, and
// detection time by family, detection width and thread count.
#include "bench_instance.h"
#include "bench_table.h"
#include "detect/detector_pass.h"

#include <util/platform.h>

namespace {

const char *const family_names[] = {"tag16h5", "tagCircle21h7"};

// Bare detection and a whole pass (on a record playing the worker's part,
// without its thread) taken in turns on the same frame, each first every
// other time, so that load from elsewhere falls on both alike.
void pass_against_bare(benchmark::State &state) {
    const auto family = static_cast<int32_t>(state.range(0));
    const gray_image &picture = tag_picture(family, 960);
    filter_instance *bare = make_bench_instance(family);
    filter_instance *in = make_bench_instance(family);
    detection_frame &f = in->input_frame;
    f.data = static_cast<uint8_t *>(bmemdup(picture.pixels.data(), picture.pixels.size()));
    f.width = f.stride = picture.width;
    f.height = picture.height;
    f.source_width = picture.width * 2;
    f.source_height = picture.height * 2;

    image_u8_t image = image_of(picture);
    std::vector<double> bare_ns, pass_ns;
    const auto time_bare = [&] {
        const uint64_t start = os_gettime_ns();
        apriltag_detections_destroy(apriltag_detector_detect(bare->detector, &image));
        bare_ns.push_back(static_cast<double>(os_gettime_ns() - start));
    };
    const auto time_pass = [&] {
        {
            // As the intake stamps each new frame: every pass copies a frame.
            mutex_lock lock(in->frame_mutex);
            f.sequence += 1;
        }
        const uint64_t start = os_gettime_ns();
        if (run_detector_pass(in) != pass_outcome::published)
            state.SkipWithError("the pass published nothing");
        pass_ns.push_back(static_cast<double>(os_gettime_ns() - start));
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
    if (!in->target_valid)
        state.SkipWithError("no crop target from the picture");
    state.counters["bare_ms"] = median(bare_ns) / 1e6;
    state.counters["pass_ms"] = median(pass_ns) / 1e6;
    filter_destroy(bare);
    filter_destroy(in);
}

// The library runs its own threads: wall time is what a frame waits for.
void detect(benchmark::State &state) {
    const auto family = static_cast<int32_t>(state.range(0));
    filter_instance *in = make_bench_instance(family, static_cast<int32_t>(state.range(2)));
    image_u8_t image = image_of(tag_picture(family, static_cast<int>(state.range(1))));
    for (auto _ : state)
        apriltag_detections_destroy(apriltag_detector_detect(in->detector, &image));
    filter_destroy(in);
}

} // namespace

// Family 0 is tag16h5, 1 tagCircle21h7.
BENCHMARK(pass_against_bare)->ArgName("family")->Arg(0)->Arg(1)->Iterations(40)->UseRealTime();
BENCHMARK(detect)
    ->ArgNames({"family", "width", "threads"})
    ->ArgsProduct({{0, 1}, {640, 960, 1920}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    base_set_log_handler(quiet_log, nullptr);
    bench_table table;
    for (int kind : {0, 1}) {
        const std::string turns =
            "pass_against_bare/family:" + std::to_string(kind) + "/iterations:40/real_time";
        // The worker's own work should vanish next to the detection: under 2 %.
        table.compare("Detector worker, 960x540 detection frame",
                      {std::string("worker pass, ") + family_names[kind], turns + "#pass_ms", 1e6},
                      {"bare apriltag_detector_detect", turns + "#bare_ms", 1e6}, {1.02});
    }
    for (int kind : {0, 1}) {
        for (int width : {640, 960, 1920}) {
            const std::string run = "detect/family:" + std::to_string(kind) +
                                    "/width:" + std::to_string(width) + "/threads:";
            table.compare("Detection time by family, width and threads",
                          {std::string(family_names[kind]) + " at " + std::to_string(width) +
                               " px, 2 threads",
                           run + "2/real_time"},
                          {"1 thread", run + "1/real_time"});
        }
    }
    // Detections are long: fewer repetitions, still interleaved.
    return run_benchmarks(argc, argv, table, 3);
}

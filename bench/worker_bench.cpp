// Detection: one worker pass against a bare detection on the same 960x540
// frame; a pass searching near the markers against one searching the whole
// picture; detection time by family, detection width and thread count; and,
// when OpenCV's aruco module is found, the same tag16h5 pictures through the
// outside reference a user would otherwise reach for.
#include "bench_host.h"
#include "bench_table.h"

#include <cstring>
#include <map>

namespace {

const std::string family_names[] = {"tag16h5", "tagCircle21h7"};

// Tags A (id 0) and B (id 1) and a distractor, 16:9; each picture is drawn once.
const grey_image &tag_picture(int64_t family, int width) {
    static std::map<std::pair<int64_t, int>, grey_image> cache;
    const auto [found, fresh] = cache.try_emplace({family, width});
    if (fresh)
        found->second =
            make_tag_scene(tag_family_kind(family), tag_scene::pair, width, width * 9 / 16).image;
    return found->second;
}

// Bare detection and a whole pass (the bench plays the worker thread) taken
// in turns on the same frame and detector, each first every other time. Timed
// in process CPU time: on a shared machine wall time swings by more than the
// 2 % being judged.
// An instance of the family with its thread stopped and the picture in its input slot, searching
// the whole picture every pass unless `window_search`.
instance_ptr worker_on_picture(int64_t family, const grey_image &picture, bool window_search) {
    instance_ptr instance = create_bench_instance([&](obs_data_t *settings) {
        obs_data_set_int(settings, key_tag_family, family);
        obs_data_set_bool(settings, key_window_search, window_search);
    });
    stop_worker(*instance);
    detection_frame &f = instance->tracking.input_frame;
    ensure_detection_frame(f, picture.width, picture.height);
    std::memcpy(f.data.get(), picture.pixels.data(), picture.pixels.size());
    f.source_width = picture.width;
    f.source_height = picture.height;
    return instance;
}

void pass_against_bare(benchmark::State &state) {
    const grey_image &picture = tag_picture(state.range(0), 960);
    const instance_ptr instance = worker_on_picture(state.range(0), picture, false);
    filter_instance *in = instance.get();
    detection_frame &f = in->tracking.input_frame;
    const image_u8_t image = image_header(picture);
    apriltag_detector_t *detector = in->detector.detector.get();
    std::vector<double> ns[2]; // bare, pass
    for (int turn = 0; auto _ : state) {
        for (int pass : {turn % 2, 1 - turn % 2}) {
            f.sequence += pass; // as the intake stamps each new frame: every pass copies one
            const double start = process_cpu_ns();
            if (!pass)
                run_detection(detector, image, nullptr);
            else
                run_detector_pass(*in);
            ns[pass].push_back(process_cpu_ns() - start);
        }
        ++turn;
    }
    if (!read_filter_state(*in).status.target_valid)
        state.SkipWithError("no crop target from the picture");
    state.counters["bare_ns"] = median(ns[0]);
    state.counters["pass_ns"] = median(ns[1]);
}

// Worker passes on two instances of the same frame, one searching near the
// markers and one the whole picture, in turns every 200 ms (5 detections a
// second: the windows are sized for the markers' motion over that time), in
// process CPU time. Passes near the markers that searched the whole picture
// (the first, the one every 2 s) are left out: the row is what a window pass
// costs.
void window_against_whole(benchmark::State &state) {
    const grey_image &picture = tag_picture(state.range(0), 960);
    const instance_ptr instances[2] = {worker_on_picture(state.range(0), picture, false),
                                       worker_on_picture(state.range(0), picture, true)};
    std::vector<double> ns[2]; // whole, windows
    uint64_t due = os_gettime_ns();
    for (int turn = 0; auto _ : state) {
        os_sleepto_ns(due += 200'000'000);
        for (int windows : {turn % 2, 1 - turn % 2}) {
            filter_instance &in = *instances[windows];
            in.tracking.input_frame.sequence += 1;
            const uint64_t whole_searched = in.worker.search.whole_ns;
            const double start = process_cpu_ns();
            run_detector_pass(in);
            const double elapsed = process_cpu_ns() - start;
            if (!windows || in.worker.search.whole_ns == whole_searched)
                ns[windows].push_back(elapsed);
        }
        ++turn;
    }
    for (const instance_ptr &in : instances)
        if (!read_filter_state(*in).status.both_tags_seen)
            state.SkipWithError("tag A or B missed");
    if (ns[1].empty())
        state.SkipWithError("no pass searched near the markers");
    state.counters["whole_ns"] = median(ns[0]);
    state.counters["window_ns"] = median(ns[1]);
}

// The library runs its own threads: wall time is what a frame waits for.
void detect(benchmark::State &state) {
    const tag_detector tags(tag_family_kind(state.range(0)), static_cast<int32_t>(state.range(2)));
    const image_u8_t image =
        image_header(tag_picture(state.range(0), static_cast<int>(state.range(1))));
    bool found = false;
    for (auto _ : state) {
        const detection_run run = run_detection(tags.detector.get(), image, nullptr);
        const tag_pair_selection pair = select_detected_tags(run.detections.get(), 0, 1);
        found = pair.has_a && pair.has_b;
    }
    if (!found) // the time is for a detection that did its job
        state.SkipWithError("tag A or B missed");
}

} // namespace

// Family 0 is tag16h5, 1 tagCircle21h7; ArUco has tag16h5 only.
BENCHMARK(pass_against_bare)->ArgName("family")->Arg(0)->Arg(1)->Iterations(40)->UseRealTime();
BENCHMARK(window_against_whole)->ArgName("family")->Arg(0)->Arg(1)->Iterations(24)->UseRealTime();
BENCHMARK(detect)
    ->ArgNames({"family", "width", "threads"})
    ->ArgsProduct({{0, 1}, {640, 960, 1920}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// ArUco with its documented defaults (OpenCV 4.6 API); OpenCV's threads set as asked.
#ifdef PINVALER_HAVE_ARUCO
#include <opencv2/aruco.hpp>

static void aruco_detect(benchmark::State &state) {
    const grey_image &picture = tag_picture(0, static_cast<int>(state.range(1)));
    const cv::Mat image(picture.height, picture.width, CV_8UC1,
                        const_cast<uint8_t *>(picture.pixels.data()));
    const auto dictionary = cv::aruco::getPredefinedDictionary(cv::aruco::DICT_APRILTAG_16h5);
    const auto parameters = cv::aruco::DetectorParameters::create();
    cv::setNumThreads(state.range(2));
    std::vector<std::vector<cv::Point2f>> corners;
    std::vector<int> ids;
    for (auto _ : state)
        cv::aruco::detectMarkers(image, dictionary, corners, ids, parameters);
    if (std::ranges::count(ids, 0) == 0 || std::ranges::count(ids, 1) == 0)
        state.SkipWithError("tag A or B missed");
}

BENCHMARK(aruco_detect)
    ->ArgNames({"family", "width", "threads"})
    ->ArgsProduct({{0}, {640, 960, 1920}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char **argv) {
    bench_table table;
    std::string error;
    if (!start_bench_host(error)) {
        table.add_failure("Detector worker, 960x540 detection frame", "worker pass",
                          error + " (run under xvfb-run -a)");
        table.finish();
        return 1;
    }
    const auto run = [](const char *name, int kind, int width, int threads) {
        return name + ("/family:" + std::to_string(kind)) + "/width:" + std::to_string(width) +
               "/threads:" + std::to_string(threads) + "/real_time";
    };
    for (int kind : {0, 1}) {
        const std::string turns =
            "pass_against_bare/family:" + std::to_string(kind) + "/iterations:40/real_time#";
        // The worker's own work should vanish next to the detection: under 2 %.
        table.compare("Detector worker, 960x540 detection frame",
                      "worker pass, " + family_names[kind], turns + "pass_ns",
                      "bare apriltag_detector_detect", turns + "bare_ns", {1.02});
        // Near the markers, a pass should cost at most a quarter of the whole picture's.
        const std::string windows =
            "window_against_whole/family:" + std::to_string(kind) + "/iterations:24/real_time#";
        table.compare("Search near the markers, 960x540 detection frame, 5 detections/s",
                      "window pass, " + family_names[kind], windows + "window_ns",
                      "whole-picture pass (window_search off)", windows + "whole_ns", {0.25});
        for (int width : {640, 960, 1920})
            table.compare("Detection time by family, width and threads",
                          family_names[kind] + " at " + std::to_string(width) + " px, 2 threads",
                          run("detect", kind, width, 2), "1 thread", run("detect", kind, width, 1));
    }
    // Rows without an ArUco run (OpenCV not found) drop out.
    for (int threads : {1, 2}) {
        const std::string count = threads == 1 ? "1 thread" : "2 threads";
        for (int width : {640, 960, 1920})
            table.compare("Detection against OpenCV ArUco (tag16h5 pictures)",
                          "tag16h5 at " + std::to_string(width) + " px, " + count,
                          run("detect", 0, width, threads), "ArUco DICT_APRILTAG_16h5, " + count,
                          run("aruco_detect", 0, width, threads));
    }
    // Detections are long: fewer repetitions, still interleaved.
    const int status = run_benchmarks(argc, argv, table, 3);
    stop_host();
    return status;
}

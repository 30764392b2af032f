// Detection: one worker pass against a bare detection on the same 960x540
// frame; detection time by family, detection width and thread count; and,
// when OpenCV's aruco module is found, the same tag16h5 pictures through the
// outside reference a user would otherwise reach for.
#include "bench_instance.h"
#include "bench_table.h"
#include "detect/detector_pass.h"

#include <ctime>
#include "detect/tag_detection.h"

#include <util/platform.h>

namespace {

const char *const family_names[] = {"tag16h5", "tagCircle21h7"};

// Bare detection and a whole pass (the bench plays the worker thread) taken
// in turns on the same frame and detector, each first every other time. Timed
// in process CPU time, which load from other processes barely moves: on a
// shared machine wall time swings by more than the 2 % being judged.
uint64_t process_cpu_ns() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

void pass_against_bare(benchmark::State &state) {
    const auto family = static_cast<int32_t>(state.range(0));
    const gray_image &picture = tag_picture(family, 960);
    filter_instance *in = make_bench_instance(family);
    detection_frame &f = in->input_frame;
    f.data = static_cast<uint8_t *>(bmemdup(picture.pixels.data(), picture.pixels.size()));
    f.width = f.stride = f.source_width = picture.width;
    f.height = f.source_height = picture.height;
    image_u8_t image = image_of(picture);
    std::vector<double> bare_ns, pass_ns;
    const auto time_bare = [&] {
        const uint64_t start = process_cpu_ns();
        apriltag_detections_destroy(apriltag_detector_detect(in->detector, &image));
        bare_ns.push_back(static_cast<double>(process_cpu_ns() - start));
    };
    const auto time_pass = [&] {
        {
            // As the intake stamps each new frame: every pass copies a frame.
            mutex_lock lock(in->frame_mutex);
            f.sequence += 1;
        }
        const uint64_t start = process_cpu_ns();
        if (run_detector_pass(in) != pass_outcome::published)
            state.SkipWithError("the pass published nothing");
        pass_ns.push_back(static_cast<double>(process_cpu_ns() - start));
    };
    bool bare_first = false;
    for (auto _ : state) {
        bare_first = !bare_first;
        for (bool bare : {bare_first, !bare_first})
            bare ? time_bare() : time_pass();
    }
    if (!in->target_valid)
        state.SkipWithError("no crop target from the picture");
    state.counters["bare_ns"] = median(bare_ns);
    state.counters["pass_ns"] = median(pass_ns);
    filter_destroy(in);
}

// The library runs its own threads: wall time is what a frame waits for.
void detect(benchmark::State &state) {
    const auto family = static_cast<int32_t>(state.range(0));
    filter_instance *in = make_bench_instance(family, static_cast<int32_t>(state.range(2)));
    image_u8_t image = image_of(tag_picture(family, static_cast<int>(state.range(1))));
    bool found = false;
    for (auto _ : state) {
        zarray_t *detections = apriltag_detector_detect(in->detector, &image);
        const tag_pair_selection tags = select_detected_tags(detections, 0, 1);
        found = tags.has_a && tags.has_b;
        apriltag_detections_destroy(detections);
    }
    filter_destroy(in);
    if (!found) // the time is for a detection that did its job
        state.SkipWithError("tag A or B missed");
}

} // namespace

// Family 0 is tag16h5, 1 tagCircle21h7.
BENCHMARK(pass_against_bare)->ArgName("family")->Arg(0)->Arg(1)->Iterations(40)->UseRealTime();
BENCHMARK(detect)
    ->ArgNames({"family", "width", "threads"})
    ->ArgsProduct({{0, 1}, {640, 960, 1920}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// ArUco with its documented defaults (OpenCV 4.6 API); OpenCV's threads set as asked.
#ifdef PINVALER_HAVE_ARUCO
#include <opencv2/aruco.hpp>

static void aruco_detect(benchmark::State &state) {
    const gray_image &picture = tag_picture(tag_family_tag16h5, static_cast<int>(state.range(0)));
    const cv::Mat image(picture.height, picture.width, CV_8UC1,
                        const_cast<uint8_t *>(picture.pixels.data()));
    const auto dictionary = cv::aruco::getPredefinedDictionary(cv::aruco::DICT_APRILTAG_16h5);
    const auto parameters = cv::aruco::DetectorParameters::create();
    const int previous_threads = cv::getNumThreads();
    cv::setNumThreads(static_cast<int>(state.range(1)));
    std::vector<std::vector<cv::Point2f>> corners;
    std::vector<int> ids;
    for (auto _ : state)
        cv::aruco::detectMarkers(image, dictionary, corners, ids, parameters);
    cv::setNumThreads(previous_threads);
    if (!std::count(ids.begin(), ids.end(), 0) || !std::count(ids.begin(), ids.end(), 1))
        state.SkipWithError("tag A or B missed");
}

BENCHMARK(aruco_detect)
    ->ArgNames({"width", "threads"})
    ->ArgsProduct({{640, 960, 1920}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char **argv) {
    bench_table table;
    for (int kind : {0, 1}) {
        const std::string turns =
            "pass_against_bare/family:" + std::to_string(kind) + "/iterations:40/real_time#";
        // The worker's own work should vanish next to the detection: under 2 %.
        table.compare("Detector worker, 960x540 detection frame",
                      std::string("worker pass, ") + family_names[kind], turns + "pass_ns",
                      "bare apriltag_detector_detect", turns + "bare_ns", {1.02});
    }
    const auto detect_run = [](int kind, int width, char threads) {
        return "detect/family:" + std::to_string(kind) + "/width:" + std::to_string(width) +
               "/threads:" + threads + "/real_time";
    };
    for (int kind : {0, 1})
        for (int width : {640, 960, 1920})
            table.compare("Detection time by family, width and threads",
                          std::string(family_names[kind]) + " at " + std::to_string(width) +
                              " px, 2 threads",
                          detect_run(kind, width, '2'), "1 thread", detect_run(kind, width, '1'));
    // Rows without an ArUco run (OpenCV not found) drop out.
    for (const std::string threads : {"1 thread", "2 threads"})
        for (int width : {640, 960, 1920})
            table.compare("Detection against OpenCV ArUco (tag16h5 pictures)",
                          "tag16h5 at " + std::to_string(width) + " px, " + threads,
                          detect_run(0, width, threads[0]), "ArUco DICT_APRILTAG_16h5, " + threads,
                          "aruco_detect/width:" + std::to_string(width) + "/threads:" + threads[0] +
                              "/real_time");
    // Detections are long: fewer repetitions, still interleaved.
    return run_benchmarks(argc, argv, table, 3);
}

// Detection: one worker pass against a bare detection on the same 960x540
// frame; detection time by family, detection width and thread count; and,
// when OpenCV's aruco module is found, the same tag16h5 pictures through the
// outside reference a user would otherwise reach for.
#include "bench_instance.h"
#include "bench_table.h"
#include "detect/detector_pass.h"
#include "detect/tag_detection.h"

namespace {

const std::string family_names[] = {"tag16h5", "tagCircle21h7"};

// Bare detection and a whole pass (the bench plays the worker thread) taken
// in turns on the same frame and detector, each first every other time. Timed
// in process CPU time: on a shared machine wall time swings by more than the
// 2 % being judged.
void pass_against_bare(benchmark::State &state) {
    const gray_image &picture = tag_picture(state.range(0), 960);
    filter_instance *in = make_bench_instance(state.range(0));
    detection_frame &f = in->input_frame;
    f.data = static_cast<uint8_t *>(bmemdup(picture.pixels.data(), picture.pixels.size()));
    f.width = f.stride = f.source_width = picture.width;
    f.height = f.source_height = picture.height;
    image_u8_t image = image_of(picture);
    std::vector<double> ns[2]; // bare, pass
    for (int turn = 0; auto _ : state) {
        for (int pass : {turn % 2, 1 - turn % 2}) {
            f.sequence += pass; // as the intake stamps each new frame: every pass copies one
            const double start = process_cpu_ns();
            if (!pass)
                apriltag_detections_destroy(apriltag_detector_detect(in->detector, &image));
            else if (run_detector_pass(in) != pass_outcome::published)
                state.SkipWithError("the pass published nothing");
            ns[pass].push_back(process_cpu_ns() - start);
        }
        ++turn;
    }
    if (!in->target_valid)
        state.SkipWithError("no crop target from the picture");
    state.counters["bare_ns"] = median(ns[0]);
    state.counters["pass_ns"] = median(ns[1]);
    filter_destroy(in);
}

// The library runs its own threads: wall time is what a frame waits for.
void detect(benchmark::State &state) {
    filter_instance *in = make_bench_instance(state.range(0), state.range(2));
    image_u8_t image = image_of(tag_picture(state.range(0), state.range(1)));
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

// Family 0 is tag16h5, 1 tagCircle21h7; ArUco has tag16h5 only.
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
    const gray_image &picture = tag_picture(tag_family_tag16h5, state.range(1));
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
    return run_benchmarks(argc, argv, table, 3);
}

// Detection against the outside reference a user would otherwise reach for:
// OpenCV's ArUco detector with its AprilTag 16h5 dictionary and documented
// defaults (OpenCV 4.6 API), on the same pictures, widths and thread counts.
#include "bench_instance.h"
#include "bench_table.h"

#include <opencv2/aruco.hpp>
#include <opencv2/core.hpp>

namespace {

// Both pictures hold tag A (id 0) and tag B (id 1); a detector that misses
// either has not done the job the time is for.
template <typename Ids>
bool found_pair(const Ids &ids) {
    return std::count(ids.begin(), ids.end(), 0) && std::count(ids.begin(), ids.end(), 1);
}

void apriltag_detect(benchmark::State &state) {
    filter_instance *in =
        make_bench_instance(tag_family_tag16h5, static_cast<int32_t>(state.range(1)));
    image_u8_t image = image_of(tag_picture(tag_family_tag16h5, static_cast<int>(state.range(0))));
    std::vector<int> ids;
    for (auto _ : state) {
        zarray_t *detections = apriltag_detector_detect(in->detector, &image);
        ids.clear();
        for (int i = 0; i < zarray_size(detections); ++i) {
            apriltag_detection_t *detection;
            zarray_get(detections, i, &detection);
            ids.push_back(detection->id);
        }
        apriltag_detections_destroy(detections);
    }
    filter_destroy(in);
    if (!found_pair(ids))
        state.SkipWithError("the AprilTag detector missed tag A or B");
}

void aruco_detect(benchmark::State &state) {
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
    if (!found_pair(ids))
        state.SkipWithError("ArUco missed tag A or B");
}

} // namespace

// Both use worker threads of their own: wall time is what a frame waits for.
BENCHMARK(apriltag_detect)
    ->ArgNames({"width", "threads"})
    ->ArgsProduct({{640, 960, 1920}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(aruco_detect)
    ->ArgNames({"width", "threads"})
    ->ArgsProduct({{640, 960, 1920}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    bench_table table;
    for (const char *threads : {"1 thread", "2 threads"}) {
        for (int width : {640, 960, 1920}) {
            const std::string run =
                "/width:" + std::to_string(width) + "/threads:" + threads[0] + "/real_time";
            table.compare(
                "Detection against OpenCV ArUco (tag16h5 pictures)",
                {"tag16h5 at " + std::to_string(width) + " px, " + threads,
                 "apriltag_detect" + run},
                {std::string("ArUco DICT_APRILTAG_16h5, ") + threads, "aruco_detect" + run});
        }
    }
    return run_benchmarks(argc, argv, table, 3);
}

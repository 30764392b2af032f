// Detection against the outside reference a user would otherwise reach for:
// OpenCV's ArUco detector with its AprilTag 16h5 dictionary, on the same
// pictures, at the same widths and thread counts, measured in one run.
#include "bench_table.h"
#include "detect/detector_setup.h"
#include "filter/settings.h"
#include "tag_scenes.h"

#include <benchmark/benchmark.h>
#include <map>
#include <opencv2/aruco.hpp>
#include <opencv2/core.hpp>
#include <set>
#include <string>
#include <vector>

namespace {

const gray_image &tag16h5_picture(int width) {
    static std::map<int, gray_image> cache;
    auto found = cache.find(width);
    if (found == cache.end()) {
        apriltag_family_t *family = create_tag_family(tag_family_tag16h5);
        scene_picture scene = make_tag_scene(family, tag_scene::pair, width, width * 9 / 16);
        destroy_tag_family(family, tag_family_tag16h5);
        found = cache.emplace(width, std::move(scene.image)).first;
    }
    return found->second;
}

// Both pictures hold tag A (id 0) and tag B (id 1); a detector that misses
// either has not done the job the time is for.
bool found_pair(const std::set<int> &ids) {
    return ids.count(0) && ids.count(1);
}

void apriltag_detect(benchmark::State &state) {
    const int width = static_cast<int>(state.range(0));
    const auto threads = static_cast<int32_t>(state.range(1));
    const gray_image &picture = tag16h5_picture(width);
    apriltag_family_t *family = create_tag_family(tag_family_tag16h5);
    apriltag_detector_t *detector = apriltag_detector_create();
    apriltag_detector_add_family(detector, family);
    configure_detector(detector, threads);
    image_u8_t image{picture.width, picture.height, picture.width,
                     const_cast<uint8_t *>(picture.pixels.data())};
    std::set<int> ids;
    for (auto _ : state) {
        zarray_t *detections = apriltag_detector_detect(detector, &image);
        ids.clear();
        for (int i = 0; i < zarray_size(detections); ++i) {
            apriltag_detection_t *detection;
            zarray_get(detections, i, &detection);
            ids.insert(detection->id);
        }
        apriltag_detections_destroy(detections);
    }
    apriltag_detector_destroy(detector);
    destroy_tag_family(family, tag_family_tag16h5);
    if (!found_pair(ids))
        state.SkipWithError("the AprilTag detector missed tag A or B");
}

// The reference with its documented defaults (OpenCV 4.6 API).
void aruco_detect(benchmark::State &state) {
    const int width = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    const gray_image &picture = tag16h5_picture(width);
    const cv::Mat image(picture.height, picture.width, CV_8UC1,
                        const_cast<uint8_t *>(picture.pixels.data()));
    const cv::Ptr<cv::aruco::Dictionary> dictionary =
        cv::aruco::getPredefinedDictionary(cv::aruco::DICT_APRILTAG_16h5);
    const cv::Ptr<cv::aruco::DetectorParameters> parameters =
        cv::aruco::DetectorParameters::create();
    const int previous_threads = cv::getNumThreads();
    cv::setNumThreads(threads);
    std::vector<std::vector<cv::Point2f>> corners;
    std::vector<int> ids;
    for (auto _ : state) {
        cv::aruco::detectMarkers(image, dictionary, corners, ids, parameters);
        benchmark::DoNotOptimize(ids.data());
    }
    cv::setNumThreads(previous_threads);
    if (!found_pair(std::set<int>(ids.begin(), ids.end())))
        state.SkipWithError("ArUco missed tag A or B");
}

std::string run_name(const char *function, int width, int threads) {
    return std::string(function) + "/width:" + std::to_string(width) +
           "/threads:" + std::to_string(threads) + "/real_time";
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
    for (int threads : {1, 2}) {
        for (int width : {640, 960, 1920}) {
            const std::string threads_text =
                std::to_string(threads) + (threads == 1 ? " thread" : " threads");
            table.compare("Detection against OpenCV ArUco (tag16h5 pictures)",
                          {"tag16h5 at " + std::to_string(width) + " px, " + threads_text,
                           run_name("apriltag_detect", width, threads)},
                          {"ArUco DICT_APRILTAG_16h5, " + threads_text,
                           run_name("aruco_detect", width, threads)});
        }
    }
    return run_benchmarks(argc, argv, table,
                          {"--benchmark_repetitions=3",
                           "--benchmark_enable_random_interleaving=true",
                           "--benchmark_display_aggregates_only=true"});
}

// The filter in the real host: the host runs headless (under xvfb-run), the
// built module is loaded from the build tree as the desktop application loads
// it, and test sources push 1080p30 NV12 frames with two markers, each from a
// thread of its own as a camera's capture thread would.
//
// - CPU time per second of video: the process's CPU time (getrusage) over a few
//   seconds with the filter on every source, minus the same sources without
//   it; for one source and for four at once.
// - Latency: from the first frame with the markers moved to the published crop
//   starting to move, at 5 and 30 detections per second.
//
// The instance's counters and crop are read through the host's data pointer:
// the module is built from the same objects as this binary, so the record is
// the same.
#include "bench_table.h"
#include "detect/detector_setup.h"
#include "filter/filter_instance.h"
#include "filter/settings_keys.h"
#include "intake/downscale_luma.h"
#include "platform/threads.h"
#include "tag_scenes.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <obs.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <util/platform.h>
#include <vector>

namespace {

constexpr uint32_t frame_width = 1920;
constexpr uint32_t frame_height = 1080;
constexpr uint64_t frame_interval_ns = 1'000'000'000ull / 30;
// Where the markers go in the second picture; the crop follows by as much.
constexpr int shift_x = 96;
constexpr int shift_y = 54;

const char *const group_cpu = "Host level: CPU time per second of 1080p30 video";
const char *const group_latency = "Host level: marker moved → crop starts to move";

// One NV12 picture: the markers in the luma plane, neutral chroma.
struct nv12_picture {
    std::vector<uint8_t> luma;
    std::vector<uint8_t> chroma;
    obs_source_frame frame{};

    explicit nv12_picture(std::vector<uint8_t> y)
        : luma(std::move(y)), chroma(static_cast<size_t>(frame_width) * frame_height / 2, 128) {
        frame.format = VIDEO_FORMAT_NV12;
        frame.width = frame_width;
        frame.height = frame_height;
        frame.data[0] = luma.data();
        frame.data[1] = chroma.data();
        frame.linesize[0] = frame_width;
        frame.linesize[1] = frame_width;
        video_format_get_parameters(VIDEO_CS_709, VIDEO_RANGE_PARTIAL, frame.color_matrix,
                                    frame.color_range_min, frame.color_range_max);
    }
};

// The picture moved by (dx, dy), its edges repeated into the uncovered band.
std::vector<uint8_t> shifted(const std::vector<uint8_t> &y, int dx, int dy) {
    std::vector<uint8_t> out(y.size());
    const int w = static_cast<int>(frame_width);
    const int h = static_cast<int>(frame_height);
    for (int row = 0; row < h; ++row) {
        const int from_row = std::clamp(row - dy, 0, h - 1);
        for (int col = 0; col < w; ++col) {
            const int from_col = std::clamp(col - dx, 0, w - 1);
            out[static_cast<size_t>(row) * w + col] =
                y[static_cast<size_t>(from_row) * w + from_col];
        }
    }
    return out;
}

std::vector<nv12_picture> make_pictures() {
    apriltag_family_t *family = create_tag_family(tag_family_tag16h5);
    scene_picture scene = make_tag_scene(family, tag_scene::pair, frame_width, frame_height);
    destroy_tag_family(family, tag_family_tag16h5);
    std::vector<nv12_picture> pictures;
    pictures.reserve(2);
    pictures.emplace_back(scene.image.pixels);
    pictures.emplace_back(shifted(scene.image.pixels, shift_x, shift_y));
    return pictures;
}

double process_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> values) {
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// What one detection costs on the picture the worker sees, before the host
// starts so that nothing else in the process runs: CPU time and wall time.
struct detection_cost {
    double cpu_ns;
    double wall_ns;
};

detection_cost measure_bare_detection(const nv12_picture &picture, int32_t threads) {
    const int32_t w = 960;
    const int32_t h = 540;
    std::vector<uint8_t> small(static_cast<size_t>(w) * h);
    downscale_luma(LUMA_PLANE8, small.data(), w, h, w, picture.luma.data(), frame_width,
                   frame_height, frame_width, false);
    apriltag_family_t *family = create_tag_family(tag_family_tag16h5);
    apriltag_detector_t *detector = apriltag_detector_create();
    apriltag_detector_add_family(detector, family);
    configure_detector(detector, threads);
    image_u8_t image{w, h, w, small.data()};
    const auto detect = [&] {
        apriltag_detections_destroy(apriltag_detector_detect(detector, &image));
    };
    detect();
    detect();
    constexpr int runs = 15;
    std::vector<double> walls;
    const double cpu_start = process_cpu_seconds();
    for (int i = 0; i < runs; ++i) {
        const uint64_t start = os_gettime_ns();
        detect();
        walls.push_back(static_cast<double>(os_gettime_ns() - start));
    }
    const double cpu = (process_cpu_seconds() - cpu_start) * 1e9 / runs;
    apriltag_detector_destroy(detector);
    destroy_tag_family(family, tag_family_tag16h5);
    return {cpu, median(walls)};
}

// A source that only takes pushed frames.
void register_frame_source() {
    static obs_source_info info{};
    info.id = "pinvaler_bench_frames";
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_ASYNC_VIDEO;
    info.get_name = [](void *) { return "Bench frames"; };
    info.create = [](obs_data_t *, obs_source_t *source) -> void * { return source; };
    info.destroy = [](void *) {};
    obs_register_source(&info);
}

// Pushes one of the pictures at 30 frames per second on its own thread; the
// frame that first shows a newly chosen picture stamps the time it was pushed.
class frame_pusher {
public:
    explicit frame_pusher(const std::vector<nv12_picture> &pictures)
        : pictures_(pictures),
          source_(obs_source_create_private("pinvaler_bench_frames", "bench frames", nullptr)) {
        thread_ = std::thread([this] { push(); });
    }
    ~frame_pusher() {
        running_ = false;
        thread_.join();
        obs_source_release(source_);
    }
    frame_pusher(const frame_pusher &) = delete;
    frame_pusher &operator=(const frame_pusher &) = delete;

    obs_source_t *source() const { return source_; }
    void show(int picture) { picture_ = picture; }
    int showing() const { return picture_; }
    // 0 until the chosen picture has been pushed once.
    uint64_t shown_since_ns() const { return shown_since_ns_; }

private:
    void push() {
        int last = -1;
        uint64_t next = os_gettime_ns();
        while (running_) {
            const int chosen = picture_;
            obs_source_frame frame = pictures_[static_cast<size_t>(chosen)].frame;
            frame.timestamp = os_gettime_ns();
            if (chosen != last)
                shown_since_ns_ = 0;
            obs_source_output_video(source_, &frame);
            if (chosen != last) {
                shown_since_ns_ = frame.timestamp;
                last = chosen;
            }
            next += frame_interval_ns;
            os_sleepto_ns(next);
        }
    }

    const std::vector<nv12_picture> &pictures_;
    obs_source_t *source_;
    std::atomic<bool> running_{true};
    std::atomic<int> picture_{0};
    std::atomic<uint64_t> shown_since_ns_{0};
    std::thread thread_;
};

// The filter on a source, made and attached as the host's user interface does.
class attached_filter {
public:
    attached_filter(obs_source_t *parent, double detect_fps) : parent_(parent) {
        obs_data_t *settings = obs_data_create();
        obs_data_set_double(settings, key_detect_fps, detect_fps);
        filter_ = obs_source_create_private("pinvaler_filter", "pinvale", settings);
        obs_data_release(settings);
        if (filter_)
            obs_source_filter_add(parent_, filter_);
    }
    ~attached_filter() {
        if (!filter_)
            return;
        obs_source_filter_remove(parent_, filter_);
        obs_source_release(filter_);
    }
    attached_filter(const attached_filter &) = delete;
    attached_filter &operator=(const attached_filter &) = delete;

    filter_instance *instance() const {
        return filter_ ? static_cast<filter_instance *>(obs_obj_get_data(filter_)) : nullptr;
    }

    // Turning diagnostics on opens a counting window. The host applies the
    // change on its next tick; the window then runs five seconds before the
    // report line restarts it.
    void start_counting_detections() {
        obs_data_t *settings = obs_source_get_settings(filter_);
        obs_data_set_bool(settings, key_perf_diagnostics, true);
        obs_source_update(filter_, settings);
        obs_data_release(settings);
    }

    uint64_t detections() const {
        mutex_lock lock(instance()->perf_mutex);
        return instance()->perf_detections;
    }

    crop_parameters crop() const {
        mutex_lock lock(instance()->render_mutex);
        return instance()->crop;
    }

private:
    obs_source_t *parent_;
    obs_source_t *filter_ = nullptr;
};

struct cpu_run {
    double cpu_per_second = 0.0;
    double detections_per_second = 0.0;
};

// Filtered and bare runs alternate on the same pushing sources, so that other
// load on the machine falls on both alike; medians keep the odd stall out.
struct cpu_figures {
    double cost_per_second; // filtered minus bare, CPU seconds per second
    double detections_per_second;
    double cost_per_detection_ns; // of each round's own figures
    bool ok;
};

cpu_figures measure_cpu(const std::vector<nv12_picture> &pictures, int sources, int rounds,
                        double seconds) {
    std::vector<std::unique_ptr<frame_pusher>> pushers;
    for (int i = 0; i < sources; ++i)
        pushers.push_back(std::make_unique<frame_pusher>(pictures));
    os_sleep_ms(500);

    const auto sample = [&](std::vector<std::unique_ptr<attached_filter>> *filters) {
        std::vector<uint64_t> counted;
        if (filters) {
            for (auto &f : *filters)
                f->start_counting_detections();
            os_sleep_ms(100);
            for (auto &f : *filters)
                counted.push_back(f->detections());
        }
        const double cpu_start = process_cpu_seconds();
        const uint64_t start = os_gettime_ns();
        os_sleep_ms(static_cast<uint32_t>(seconds * 1000));
        const double cpu = process_cpu_seconds() - cpu_start;
        const double wall = static_cast<double>(os_gettime_ns() - start) / 1e9;
        cpu_run run{cpu / wall, 0.0};
        if (filters)
            for (size_t i = 0; i < filters->size(); ++i)
                run.detections_per_second +=
                    static_cast<double>((*filters)[i]->detections() - counted[i]) / wall;
        return run;
    };

    std::vector<double> costs;
    std::vector<double> rates;
    std::vector<double> per_detection;
    bool ok = true;
    for (int round = 0; round < rounds && ok; ++round) {
        const cpu_run bare = sample(nullptr);
        std::vector<std::unique_ptr<attached_filter>> filters;
        for (auto &p : pushers) {
            filters.push_back(std::make_unique<attached_filter>(p->source(), 5.0));
            ok = ok && filters.back()->instance();
        }
        if (!ok)
            break;
        os_sleep_ms(1500); // first detections, buffers sized
        const cpu_run filtered = sample(&filters);
        filters.clear();
        obs_wait_for_destroy_queue();
        costs.push_back(filtered.cpu_per_second - bare.cpu_per_second);
        rates.push_back(filtered.detections_per_second);
        per_detection.push_back(costs.back() / rates.back() * 1e9);
        std::printf(
            "  %d source(s), round %d: %.3f CPU s/s bare, %.3f filtered, %.1f detections/s\n",
            sources, round + 1, bare.cpu_per_second, filtered.cpu_per_second,
            filtered.detections_per_second);
        std::fflush(stdout);
    }
    pushers.clear();
    return {median(costs), median(rates), median(per_detection), ok};
}

std::string cpu_text(double seconds_per_second) {
    return format_fixed(seconds_per_second * 1e3, 1, " ms/s");
}

void add_cpu_rows(bench_table &table, const std::vector<nv12_picture> &pictures,
                  const detection_cost &detection) {
    constexpr int rounds = 3;
    constexpr double seconds = 4.0;
    const cpu_figures one = measure_cpu(pictures, 1, rounds, seconds);
    const cpu_figures four = measure_cpu(pictures, 4, rounds, seconds);
    if (!one.ok || !four.ok) {
        table.add({group_cpu, "filter instances", "failed: the filter was not created", "", "",
                   std::nan(""), "", ""});
        return;
    }

    // One instance against the detections it ran: what the rest of the filter adds.
    table_row single;
    single.group = group_cpu;
    single.measurement = "one instance, 5 detections/s requested (" +
                         format_fixed(one.detections_per_second, 1) + " run)";
    single.value = cpu_text(one.cost_per_second);
    single.baseline =
        "its detections alone (" + format_duration_ns(detection.cpu_ns) + " CPU each)";
    const double detections_only = one.detections_per_second * detection.cpu_ns / 1e9;
    single.baseline_value = cpu_text(detections_only);
    single.ratio = one.cost_per_second / detections_only;
    table.add(single);

    table_row several;
    several.group = group_cpu;
    several.measurement = "four instances at once (" + format_fixed(four.detections_per_second, 1) +
                          " detections/s run)";
    several.value = cpu_text(four.cost_per_second);
    several.baseline = "four times one instance";
    several.baseline_value = cpu_text(4.0 * one.cost_per_second);
    judge_row(several, four.cost_per_second, 4.0 * one.cost_per_second, ratio_at_most(1.0));
    table.add(several);

    // When the machine cannot keep four workers fed, fewer detections run and
    // the line above flatters; per detection run, the growth shows either way.
    table_row per_detection;
    per_detection.group = group_cpu;
    per_detection.measurement = "four instances, per detection run";
    const double four_each = four.cost_per_detection_ns;
    const double one_each = one.cost_per_detection_ns;
    per_detection.value = format_duration_ns(four_each) + " CPU";
    per_detection.baseline = "one instance, per detection run";
    per_detection.baseline_value = format_duration_ns(one_each) + " CPU";
    judge_row(per_detection, four_each, one_each, ratio_at_most(1.0));
    table.add(per_detection);
}

bool moved(const crop_parameters &a, const crop_parameters &b) {
    // About four source pixels: far above the drift of a settled crop, below
    // the first tick's step toward a target 96 pixels away.
    constexpr float threshold = 0.002f;
    return std::fabs(a.crop_offset_x - b.crop_offset_x) > threshold ||
           std::fabs(a.crop_offset_y - b.crop_offset_y) > threshold;
}

// Median latency in ns over `moves` moves; NaN when the crop never moved.
std::vector<double> measure_latency(const std::vector<nv12_picture> &pictures, double detect_fps,
                                    int moves) {
    frame_pusher pusher(pictures);
    attached_filter filter(pusher.source(), detect_fps);
    std::vector<double> latencies;
    if (!filter.instance())
        return latencies;
    std::mt19937 random(5);
    const auto interval_ms = static_cast<uint32_t>(1000.0 / detect_fps);
    os_sleep_ms(3000);
    for (int move = 0; move < moves; ++move) {
        // Settled for eight half-lives, then a moment at random on the detection grid.
        os_sleep_ms(2000 + random() % (interval_ms + 1));
        const crop_parameters settled = filter.crop();
        pusher.show(1 - pusher.showing());
        const uint64_t deadline = os_gettime_ns() + 3'000'000'000ull;
        uint64_t moved_ns = 0;
        while (os_gettime_ns() < deadline) {
            if (moved(filter.crop(), settled)) {
                moved_ns = os_gettime_ns();
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
        const uint64_t pushed_ns = pusher.shown_since_ns();
        if (moved_ns && pushed_ns && moved_ns > pushed_ns)
            latencies.push_back(static_cast<double>(moved_ns - pushed_ns));
    }
    return latencies;
}

void add_latency_rows(bench_table &table, const std::vector<nv12_picture> &pictures,
                      const detection_cost &detection) {
    constexpr int moves = 9;
    for (double fps : {5.0, 30.0}) {
        const std::vector<double> latencies = measure_latency(pictures, fps, moves);
        table_row row;
        row.group = group_latency;
        const std::string rate = format_fixed(fps, 0) + " detections/s";
        if (latencies.size() < moves / 2 + 1) {
            row.measurement = rate;
            row.value = "failed: the crop did not follow";
            table.add(row);
            continue;
        }
        const auto [low, high] = std::minmax_element(latencies.begin(), latencies.end());
        row.measurement = rate + ", median of " + std::to_string(latencies.size()) + " moves (" +
                          format_duration_ns(*low) + " to " + format_duration_ns(*high) + ")";
        const double value = median(latencies);
        const double floor = 1e9 / fps + detection.wall_ns;
        row.value = format_duration_ns(value);
        row.baseline = "floor: one interval + one detection";
        row.baseline_value = format_duration_ns(floor);
        row.ratio = value / floor;
        table.add(row);
        std::printf("  latency at %.0f detections/s: median %.1f ms\n", fps, value / 1e6);
        std::fflush(stdout);
    }
}

bool start_host() {
    if (!std::getenv("DISPLAY") || !obs_startup("en-US", nullptr, nullptr))
        return false;
    obs_video_info video{};
    video.graphics_module = "libobs-opengl";
    video.fps_num = 30;
    video.fps_den = 1;
    video.base_width = video.output_width = frame_width;
    video.base_height = video.output_height = frame_height;
    video.output_format = VIDEO_FORMAT_NV12;
    video.gpu_conversion = true;
    video.colorspace = VIDEO_CS_709;
    video.range = VIDEO_RANGE_PARTIAL;
    video.scale_type = OBS_SCALE_BICUBIC;
    if (obs_reset_video(&video) != OBS_VIDEO_SUCCESS)
        return false;
    obs_module_t *module = nullptr;
    if (obs_open_module(&module, PINVALER_MODULE_PATH, PINVALER_DATA_DIR) != MODULE_SUCCESS)
        return false;
    return obs_init_module(module);
}

// Warnings and errors only: the host's start-up chatter would bury the table.
void quiet_log(int level, const char *format, va_list args, void *) {
    if (level <= LOG_WARNING) {
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
    }
}

} // namespace

int main() {
    base_set_log_handler(quiet_log, nullptr);
    bench_table table;
    const std::vector<nv12_picture> pictures = make_pictures();
    // The filter sizes its detector the same way at create.
    const int32_t threads = detector_thread_count(os_get_physical_cores(), os_get_logical_cores());
    const detection_cost detection = measure_bare_detection(pictures[0], threads);
    std::printf("bare detection, 960x540, %d thread(s): %.1f ms CPU, %.1f ms wall\n", threads,
                detection.cpu_ns / 1e6, detection.wall_ns / 1e6);

    if (!start_host()) {
        const char *why = "not measured: the host did not start (run under xvfb-run -a)";
        table.add({group_cpu, "one and four instances", why, "", "", std::nan(""), "", ""});
        table.add({group_latency, "5 and 30 detections/s", why, "", "", std::nan(""), "", ""});
        table.finish();
        return 1;
    }
    register_frame_source();
    std::printf("CPU time per second of video:\n");
    std::fflush(stdout);
    add_cpu_rows(table, pictures, detection);
    std::printf("Latency:\n");
    std::fflush(stdout);
    add_latency_rows(table, pictures, detection);
    obs_shutdown();
    base_set_log_handler(nullptr, nullptr);
    table.finish();
    return 0;
}

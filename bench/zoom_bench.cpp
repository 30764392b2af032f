// The graphics thread's cost per frame: the tick with a valid target and the
// render's own work apart from the host's draw. The tick reads the canvas size
// from the host, so the host is started (run under xvfb-run -a); without a
// display only the smoothing step is measured.
#include "bench_instance.h"
#include "bench_table.h"
#include "filter/filter_callbacks.h"
#include "zoom/zoom_smoothing.h"

#include <benchmark/benchmark.h>
#include <cstdarg>
#include <cstdio>
#include <graphics/vec2.h>
#include <obs.h>

namespace {

constexpr float tick_seconds = 1.0f / 30.0f;

// A 640x360 target in a 1920x1080 frame, both markers seen: the tick smooths
// toward it every time, as while following.
void publish_target(filter_instance *instance) {
    mutex_lock lock(instance->frame_mutex);
    instance->frame_width = 1920;
    instance->frame_height = 1080;
    instance->target_valid = true;
    instance->target_rect = {900.0f, 500.0f, 640.0f, 360.0f};
    instance->target_frame_width = 1920;
    instance->target_frame_height = 1080;
    instance->both_tags_seen = true;
}

void video_tick_following(benchmark::State &state) {
    filter_instance *instance = make_bench_instance(default_settings_snapshot);
    publish_target(instance);
    for (auto _ : state) {
        video_tick(instance, tick_seconds);
        // Keep it following rather than settled on the target.
        instance->zoom.zoom_center_x = 960.0f;
        benchmark::ClobberMemory();
    }
    free_bench_instance(instance);
}

// The arithmetic the tick exists for, on the inputs it would copy.
void zoom_step_alone(benchmark::State &state) {
    zoom_inputs in{};
    in.follow_half_life_ms = default_settings_snapshot.follow_half_life_ms;
    in.seconds = tick_seconds;
    in.now_ns = 1'000'000'000;
    in.was_visible = true;
    in.target_valid = true;
    in.target_center_x = 900.0f;
    in.target_center_y = 500.0f;
    in.target_width = 640.0f;
    in.target_height = 360.0f;
    in.target_frame_width = 1920;
    in.target_frame_height = 1080;
    in.both_tags_seen = true;
    in.frame_width = 1920;
    in.frame_height = 1080;
    zoom_state zoom{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(zoom_step(zoom, in));
        zoom.zoom_center_x = 960.0f;
        benchmark::ClobberMemory();
    }
}

// The instance with the shipped crop effect and its parameter handles.
struct effect_instance {
    effect_instance() : instance(make_bench_instance(default_settings_snapshot)) {
        obs_enter_graphics();
        instance->crop_effect =
            gs_effect_create_from_file(PINVALER_DATA_DIR "/effects/pinvaler.effect", nullptr);
        if (instance->crop_effect) {
            instance->param_mul_val = gs_effect_get_param_by_name(instance->crop_effect, "mul_val");
            instance->param_add_val = gs_effect_get_param_by_name(instance->crop_effect, "add_val");
            instance->param_visibility =
                gs_effect_get_param_by_name(instance->crop_effect, "visibility");
        }
        obs_leave_graphics();
        instance->crop = {0.33f, 0.33f, 0.3f, 0.3f, 1.0f};
    }
    ~effect_instance() {
        obs_enter_graphics();
        gs_effect_destroy(instance->crop_effect);
        obs_leave_graphics();
        free_bench_instance(instance);
    }
    effect_instance(const effect_instance &) = delete;
    effect_instance &operator=(const effect_instance &) = delete;
    filter_instance *instance;
};

// The render's steps between the host's begin and end, which draw the source:
// the copy under the render mutex and the three parameter sets.
void render_own_steps(benchmark::State &state) {
    effect_instance e;
    filter_instance *instance = e.instance;
    if (!instance->crop_effect) {
        state.SkipWithError("the crop effect did not load");
        return;
    }
    obs_enter_graphics();
    for (auto _ : state) {
        crop_parameters crop;
        {
            mutex_lock lock(instance->render_mutex);
            crop = instance->crop;
        }
        vec2 mul;
        vec2 add;
        vec2_set(&mul, crop.crop_scale_x, crop.crop_scale_y);
        vec2_set(&add, crop.crop_offset_x, crop.crop_offset_y);
        gs_effect_set_vec2(instance->param_mul_val, &mul);
        gs_effect_set_vec2(instance->param_add_val, &add);
        gs_effect_set_float(instance->param_visibility, crop.crop_visibility);
        benchmark::ClobberMemory();
    }
    obs_leave_graphics();
}

// The real callback where the host declines to begin the filter (no source):
// the copy, the refused begin and the skip.
void video_render_declined(benchmark::State &state) {
    effect_instance e;
    obs_enter_graphics();
    for (auto _ : state) {
        video_render(e.instance, nullptr);
        benchmark::ClobberMemory();
    }
    obs_leave_graphics();
}

void one_lock(benchmark::State &state) {
    filter_instance *instance = make_bench_instance(default_settings_snapshot);
    for (auto _ : state) {
        mutex_lock lock(instance->render_mutex);
        benchmark::ClobberMemory();
    }
    free_bench_instance(instance);
}

void quiet_log(int level, const char *format, va_list args, void *) {
    if (level <= LOG_WARNING) {
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
    }
}

bool start_host() {
    if (!std::getenv("DISPLAY") || !obs_startup("en-US", nullptr, nullptr))
        return false;
    obs_video_info video{};
    video.graphics_module = "libobs-opengl";
    video.fps_num = 30;
    video.fps_den = 1;
    video.base_width = video.output_width = 1920;
    video.base_height = video.output_height = 1080;
    video.output_format = VIDEO_FORMAT_NV12;
    video.gpu_conversion = true;
    video.colorspace = VIDEO_CS_709;
    video.range = VIDEO_RANGE_PARTIAL;
    video.scale_type = OBS_SCALE_BICUBIC;
    return obs_reset_video(&video) == OBS_VIDEO_SUCCESS;
}

} // namespace

int main(int argc, char **argv) {
    base_set_log_handler(quiet_log, nullptr);
    const bool host = start_host();

    bench_table table;
    const std::string group = "Host callbacks";
    benchmark::RegisterBenchmark("zoom_step", zoom_step_alone);
    benchmark::RegisterBenchmark("one_lock", one_lock);
    if (host) {
        benchmark::RegisterBenchmark("video_tick/following", video_tick_following);
        benchmark::RegisterBenchmark("video_render/own_steps", render_own_steps);
        benchmark::RegisterBenchmark("video_render/declined", video_render_declined);
        table.compare(group, {"video_tick, following a target", "video_tick/following"},
                      {"the smoothing step alone", "zoom_step"}, time_under_ns(2000.0));
        table.compare(
            group, {"video_render's own work (copy + 3 parameter sets)", "video_render/own_steps"},
            {"one lock and unlock", "one_lock"}, time_under_ns(2000.0));
        table.compare(group, {"video_render, host declines to begin", "video_render/declined"},
                      {"one lock and unlock", "one_lock"}, time_under_ns(2000.0));
    } else {
        std::fprintf(stderr, "no host (needs an X display, e.g. xvfb-run -a): only the "
                             "smoothing step is measured\n");
        table.add({group, "video_tick and video_render",
                   "not measured: the host did not start (run under xvfb-run -a)", "", "",
                   std::nan(""), "", ""});
    }
    const int status =
        run_benchmarks(argc, argv, table,
                       {"--benchmark_repetitions=5", "--benchmark_enable_random_interleaving=true",
                        "--benchmark_display_aggregates_only=true", "--benchmark_min_time=0.2"});
    if (host)
        obs_shutdown();
    base_set_log_handler(nullptr, nullptr);
    return status;
}

// The graphics thread's per-frame cost of the filter: the tick with a valid
// target and the render's own work apart from the host's draw, each against
// the floor its design sets (the locks it must take), measured in one run.
//
// The tick asks the host for the canvas size, which needs a started host, and
// the host needs an X display: run as `xvfb-run -a zoom_bench`. Without one
// only the pure smoothing step is measured. The rows of the performance table
// follow the usual benchmark output.
#include "bench_instance.h"
#include "bench_table.h"
#include "filter/filter_callbacks.h"
#include "zoom/zoom_smoothing.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <graphics/vec2.h>
#include <obs.h>
#include <string>
#include <util/platform.h>

namespace {

constexpr float tick_seconds = 1.0f / 30.0f;

// A target in the middle of a 1920x1080 frame, as the worker publishes it.
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

zoom_inputs step_inputs() {
    zoom_inputs in{};
    in.follow_half_life_ms = 250.0f;
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
    return in;
}

void zoom_step_only(benchmark::State &state) {
    const zoom_inputs in = step_inputs();
    zoom_state zoom{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(zoom_step(zoom, in));
        benchmark::ClobberMemory();
    }
}

// What any tick must pay: four short locks (settings, previous visibility,
// tracking inputs, publication) and one expf.
void baseline_four_locks_and_expf(benchmark::State &state) {
    filter_instance *instance = make_bench_instance(default_settings_snapshot);
    float seconds = tick_seconds;
    for (auto _ : state) {
        for (pthread_mutex_t *m : {&instance->config_mutex, &instance->render_mutex,
                                   &instance->frame_mutex, &instance->render_mutex}) {
            pthread_mutex_lock(m);
            pthread_mutex_unlock(m);
        }
        benchmark::DoNotOptimize(seconds);
        benchmark::DoNotOptimize(expf(seconds * -2.7725887f));
    }
    free_bench_instance(instance);
}

void video_tick_valid_target(benchmark::State &state) {
    filter_instance *instance = make_bench_instance(default_settings_snapshot);
    publish_target(instance);
    for (auto _ : state) {
        video_tick(instance, tick_seconds);
        benchmark::ClobberMemory();
    }
    free_bench_instance(instance);
}

// The instance with the shipped crop effect and its handles, as create makes them.
struct effect_instance {
    effect_instance() : instance(make_bench_instance(default_settings_snapshot)) {
        obs_enter_graphics();
        instance->crop_effect = gs_effect_create_from_file(
            PINVALER_SOURCE_DIR "/data/effects/pinvaler.effect", nullptr);
        if (instance->crop_effect) {
            instance->param_mul_val = gs_effect_get_param_by_name(instance->crop_effect, "mul_val");
            instance->param_add_val = gs_effect_get_param_by_name(instance->crop_effect, "add_val");
            instance->param_visibility =
                gs_effect_get_param_by_name(instance->crop_effect, "visibility");
        }
        obs_leave_graphics();
        instance->crop = {0.5f, 0.5f, 0.25f, 0.25f, 1.0f};
    }
    ~effect_instance() {
        obs_enter_graphics();
        gs_effect_destroy(instance->crop_effect);
        obs_leave_graphics();
        free_bench_instance(instance);
    }
    filter_instance *instance;
};

// The render's own work, steps it takes around the host's draw: the copy under
// the render mutex and the three parameter sets on the effect's handles. The
// host's begin and end (which draw the source) are left out.
void render_copy_and_parameters(benchmark::State &state) {
    effect_instance e;
    filter_instance *instance = e.instance;
    if (!instance->crop_effect) {
        state.SkipWithError("crop effect did not load");
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

// The real callback where the host refuses to begin the filter (no source):
// the copy, the refused begin and the skip, with no draw.
void video_render_refused(benchmark::State &state) {
    effect_instance e;
    obs_enter_graphics();
    for (auto _ : state) {
        video_render(e.instance, nullptr);
        benchmark::ClobberMemory();
    }
    obs_leave_graphics();
}

void baseline_one_lock(benchmark::State &state) {
    filter_instance *instance = make_bench_instance(default_settings_snapshot);
    for (auto _ : state) {
        pthread_mutex_lock(&instance->render_mutex);
        pthread_mutex_unlock(&instance->render_mutex);
        benchmark::ClobberMemory();
    }
    free_bench_instance(instance);
}

// Nothing of the host's log in the table; a refused render logs at debug level.
void drop_log(int, const char *, va_list, void *) {}

bool start_host() {
    if (!obs_startup("en-US", nullptr, nullptr))
        return false;
    obs_video_info video{};
    video.graphics_module = "libobs-opengl";
    video.fps_num = 30;
    video.fps_den = 1;
    video.base_width = video.output_width = 1280;
    video.base_height = video.output_height = 720;
    video.output_format = VIDEO_FORMAT_NV12;
    video.gpu_conversion = true;
    video.colorspace = VIDEO_CS_709;
    video.range = VIDEO_RANGE_PARTIAL;
    video.scale_type = OBS_SCALE_BICUBIC;
    return obs_reset_video(&video) == OBS_VIDEO_SUCCESS;
}

} // namespace

int main(int argc, char **argv) {
    base_set_log_handler(drop_log, nullptr);
    const bool host = std::getenv("DISPLAY") && start_host();

    bench_table table;
    const std::string group = "Host callbacks";
    const measured locks_and_expf{"four locks + expf (what any tick pays)",
                                  "baseline/four_locks_and_expf"};
    const measured lock{"one lock and unlock", "baseline/one_lock"};
    benchmark::RegisterBenchmark("zoom_step", zoom_step_only);
    benchmark::RegisterBenchmark("baseline/four_locks_and_expf", baseline_four_locks_and_expf);
    table.compare(group, {"zoom_step alone (the tick's arithmetic)", "zoom_step"}, locks_and_expf);
    if (host) {
        benchmark::RegisterBenchmark("video_tick/valid_target", video_tick_valid_target);
        benchmark::RegisterBenchmark("video_render/copy_and_parameters",
                                     render_copy_and_parameters);
        benchmark::RegisterBenchmark("video_render/host_refuses", video_render_refused);
        benchmark::RegisterBenchmark("baseline/one_lock", baseline_one_lock);
        // Every callback on a host thread: each under 2 microseconds of its own work.
        table.compare(group, {"video_tick, valid target", "video_tick/valid_target"},
                      locks_and_expf, time_under_ns(2000.0));
        table.compare(group,
                      {"video_render's own work (copy + 3 parameter sets)",
                       "video_render/copy_and_parameters"},
                      lock, time_under_ns(2000.0));
        table.compare(group, {"video_render, host refuses to begin", "video_render/host_refuses"},
                      lock, time_under_ns(2000.0));
    } else {
        std::fprintf(stderr, "no host (needs an X display, e.g. xvfb-run -a): "
                             "measuring the pure smoothing step only\n");
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

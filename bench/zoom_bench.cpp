// The graphics thread's per-frame cost of the filter: the tick with a valid
// target and the render's own work apart from the host's draw, each against
// the locks its design must take. The tick asks the host for the canvas size,
// so the host must run: `xvfb-run -a zoom_bench`.
#include "bench_instance.h"
#include "bench_table.h"

#include <graphics/vec2.h>

namespace {

constexpr float tick_seconds = 1.0f / 30.0f;

void video_tick_valid_target(benchmark::State &state) {
    filter_instance *instance = make_bench_instance();
    {
        // A target in the middle of a 1920x1080 frame, as the worker publishes it.
        mutex_lock lock(instance->frame_mutex);
        instance->frame_width = instance->target_frame_width = 1920;
        instance->frame_height = instance->target_frame_height = 1080;
        instance->target_valid = instance->both_tags_seen = true;
        instance->target_rect = {900.0f, 500.0f, 640.0f, 360.0f};
    }
    for (auto _ : state) {
        video_tick(instance, tick_seconds);
        benchmark::ClobberMemory();
    }
    filter_destroy(instance);
}

// What any tick must pay: four short locks (settings, previous visibility,
// tracking inputs, publication) and one expf.
void four_locks_and_expf(benchmark::State &state) {
    filter_instance *instance = make_bench_instance();
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
    filter_destroy(instance);
}

// The render's own work around the host's draw: the copy under the render
// mutex and the three parameter sets on the shipped effect's handles. The
// host's begin and end (which draw the source) are left out.
void render_copy_and_parameters(benchmark::State &state) {
    filter_instance *instance = make_bench_instance();
    instance->crop = {0.5f, 0.5f, 0.25f, 0.25f, 1.0f};
    obs_enter_graphics();
    gs_effect_t *effect =
        gs_effect_create_from_file(PINVALER_SOURCE_DIR "/data/effects/pinvaler.effect", nullptr);
    gs_eparam_t *mul_val = gs_effect_get_param_by_name(effect, "mul_val");
    gs_eparam_t *add_val = gs_effect_get_param_by_name(effect, "add_val");
    gs_eparam_t *visibility = gs_effect_get_param_by_name(effect, "visibility");
    if (!effect)
        state.SkipWithError("crop effect did not load");
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
        gs_effect_set_vec2(mul_val, &mul);
        gs_effect_set_vec2(add_val, &add);
        gs_effect_set_float(visibility, crop.crop_visibility);
        benchmark::ClobberMemory();
    }
    gs_effect_destroy(effect);
    obs_leave_graphics();
    filter_destroy(instance);
}

void one_lock(benchmark::State &state) {
    filter_instance *instance = make_bench_instance();
    for (auto _ : state) {
        pthread_mutex_lock(&instance->render_mutex);
        pthread_mutex_unlock(&instance->render_mutex);
        benchmark::ClobberMemory();
    }
    filter_destroy(instance);
}

} // namespace

BENCHMARK(video_tick_valid_target);
BENCHMARK(four_locks_and_expf);
BENCHMARK(render_copy_and_parameters);
BENCHMARK(one_lock);

int main(int argc, char **argv) {
    base_set_log_handler(quiet_log, nullptr);
    bench_table table;
    const std::string group = "Host callbacks";
    if (!start_host()) {
        table.add_failure(group, "video_tick and video_render",
                          "the host did not start (run under xvfb-run -a)");
        table.finish();
        return 1;
    }
    // Every callback on a host thread: each under 2 microseconds of its own work.
    table.compare(group, {"video_tick, valid target", "video_tick_valid_target"},
                  {"four locks + expf (what any tick pays)", "four_locks_and_expf"}, {0, 2000});
    table.compare(
        group, {"video_render's own work (copy + 3 parameter sets)", "render_copy_and_parameters"},
        {"one lock and unlock", "one_lock"}, {0, 2000});
    const int status = run_benchmarks(argc, argv, table, 5, "0.2");
    obs_shutdown();
    base_set_log_handler(nullptr, nullptr);
    return status;
}

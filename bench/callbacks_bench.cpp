// The host callbacks' own cost per call, each against what its design must
// pay at least: filter_video on the frame thread (a frame not due, one due),
// and on the graphics thread the tick with a valid target, the render's own
// work apart from the host's draw, and update while a long detection runs;
// and what the setup view adds to the tick and to the render's draw.
// The tick asks the host for the canvas size, so the host must run:
// `xvfb-run -a callbacks_bench`.
#include "bench_host.h"
#include "bench_table.h"
#include "intake/luma.h"

#include <array>
#include <atomic>
#include <cstring>
#include <graphics/vec2.h>
#include <thread>
#include <util/platform.h>

namespace {

// update on an instance whose worker detects a 1920x1080 picture over and over (a third of a
// second each here), edits alternating: the family switched, or only the padding.
void update_during_detection(benchmark::State &state, filter_instance *busy, bool family) {
    std::atomic<bool> kicking{true};
    std::thread kicker([&] {
        for (; kicking; std::this_thread::sleep_for(std::chrono::milliseconds(1)))
            busy->detect_event.signal();
    });
    wait_until([&] { return read_filter_state(*busy).last_pass_ns != 0; },
               std::chrono::seconds(30));
    const data_ptr settings(obs_data_create());
    filter_get_defaults(settings.get());
    obs_data_set_int(settings.get(), key_detect_width, 1920);
    for (int flip = 0; auto _ : state) {
        if (family)
            obs_data_set_int(settings.get(), key_tag_family, flip ^= 1);
        else
            obs_data_set_double(settings.get(), key_padding, (flip ^= 1) ? 4.0 : 0.0);
        filter_update(busy, settings.get());
    }
    kicking = false;
    kicker.join();
}

// The tracking a pass of a 1920x1080 frame leaves: a target in the middle and, for the setup
// view, tags A and B on either side of it and a marker of another id.
void publish_pass(filter_instance &in) {
    std::lock_guard lock(in.tracking.mutex);
    in.tracking.frame_width = in.tracking.status.target_frame_width = 1920;
    in.tracking.frame_height = in.tracking.status.target_frame_height = 1080;
    in.tracking.status.target_valid = in.tracking.status.both_tags_seen = true;
    in.tracking.status.target_rect = {900.0f, 500.0f, 640.0f, 360.0f};
    pass_markers &m = in.tracking.markers;
    m = {};
    m.tag_a_seen = m.tag_b_seen = true;
    m.source_width = 1920;
    m.source_height = 1080;
    const std::array<std::pair<float, marker_role>, 3> placed{
        {{480.0f, marker_role::a}, {1320.0f, marker_role::b}, {900.0f, marker_role::other}}};
    for (const auto &[x, role] : placed) {
        const float y = role == marker_role::other ? 150.0f : 500.0f;
        const auto id = static_cast<int32_t>(m.count);
        m.markers[m.count++] = {
            id,
            role,
            {x, y, {{x - 60, y + 60}, {x + 60, y + 60}, {x + 60, y - 60}, {x - 60, y - 60}}}};
    }
}

using texture_ptr =
    std::unique_ptr<gs_texture_t, graphics_release<gs_texture_t, gs_texture_destroy>>;

} // namespace

int main(int argc, char **argv) {
    bench_table table;
    const std::string group = "Host callbacks";
    std::string error;
    instance_ptr instance;
    if (start_bench_host(error))
        instance = create_bench_instance([](obs_data_t *) {});
    if (!instance) {
        table.add_failure(group, "all callbacks",
                          "no host or no filter (" + error + "; run under xvfb-run -a)");
        table.finish();
        return 1;
    }
    // The runs share one instance holding a target in the middle of a 1920x1080 frame, as the
    // worker publishes it; its worker is stopped, so that due frames detect nothing meanwhile.
    filter_instance *in = instance.get();
    stop_worker(*in);
    publish_pass(*in);
    std::vector<uint8_t> bgra(1920 * 1080 * 4, 77);
    std::vector<uint8_t> luma(960 * 540);
    obs_source_frame frame{};
    frame.format = VIDEO_FORMAT_BGRA;
    frame.width = 1920;
    frame.height = 1080;
    frame.linesize[0] = 1920 * 4;
    frame.data[0] = bgra.data();

    for (uint64_t next : {UINT64_MAX, uint64_t{0}}) // early in its slot, or due
        add_run(next ? "filter_video/not_due" : "filter_video/due", [&frame, in, next] {
            in->intake.gate.next_detect_ns = next;
            benchmark::DoNotOptimize(filter_video(in, &frame));
        });
    add_run("settings_copy_and_clock", [in] {
        benchmark::DoNotOptimize(copy_settings(*in));
        benchmark::DoNotOptimize(os_gettime_ns());
    });
    add_run("conversion_only", [&] {
        downscale_luma(LUMA_BGRA, luma.data(), 960, 540, 960, bgra.data(), 1920, 1080, 1920 * 4,
                       false);
    });
    add_run("video_tick", [in] { video_tick(in, 1.0f / 30.0f); });
    // What any tick must pay: four short locks (settings, previous visibility,
    // tracking inputs, publication) and one expf.
    add_run("four_locks_and_expf", [in, seconds = 1.0f / 30.0f]() mutable {
        for (host_mutex *m :
             {&in->config.mutex, &in->render.mutex, &in->tracking.mutex, &in->render.mutex}) {
            m->lock();
            m->unlock();
        }
        benchmark::DoNotOptimize(seconds);
        benchmark::DoNotOptimize(expf(seconds * -2.7725887f));
    });
    // The render's own work around the host's draw: the copy under the render
    // mutex and the three parameter sets on the shipped effect's handles. The
    // host's begin and end (which draw the source) are left out.
    add_run("render_copy_and_parameters",
            [in, mul_val = in->graphics.param_mul_val, add_val = in->graphics.param_add_val,
             visibility = in->graphics.param_visibility] {
                crop_parameters crop;
                {
                    std::lock_guard lock(in->render.mutex);
                    crop = in->render.crop;
                }
                vec2 mul;
                vec2_set(&mul, crop.crop_scale_x, crop.crop_scale_y);
                vec2 add;
                vec2_set(&add, crop.crop_offset_x, crop.crop_offset_y);
                gs_effect_set_vec2(mul_val, &mul);
                gs_effect_set_vec2(add_val, &add);
                gs_effect_set_float(visibility, crop.crop_visibility);
            });
    add_run("one_lock", [in] {
        in->render.mutex.lock();
        in->render.mutex.unlock();
    });

    // The same with the setup view on, on an instance of its own.
    instance_ptr viewing = create_bench_instance(
        [](obs_data_t *settings) { obs_data_set_bool(settings, key_show_setup_view, true); });
    filter_instance *view_in = viewing.get();
    stop_worker(*view_in);
    publish_pass(*view_in);
    video_tick(view_in, 1.0f / 30.0f); // hands the view to the render before any run
    add_run("video_tick/setup_view", [view_in] { video_tick(view_in, 1.0f / 30.0f); });
    // The render's draw into a 1920x1080 texture as the host makes it, the picture through the
    // host's default effect, with and without the view's copy under the render mutex and its
    // lines. Mesa's software renderer defers its work, so these are mostly the calls' own cost.
    obs_enter_graphics();
    const uint8_t *rows = bgra.data();
    texture_ptr frame_texture(gs_texture_create(1920, 1080, GS_BGRA, 1, &rows, 0));
    texrender_ptr target(gs_texrender_create(GS_RGBA, GS_ZS_NONE));
    obs_leave_graphics();
    auto drawer = std::make_unique<setup_view_drawer>();
    gs_effect_t *default_effect = obs_get_base_effect(OBS_EFFECT_DEFAULT);
    gs_eparam_t *image = gs_effect_get_param_by_name(default_effect, "image");
    for (const bool view : {false, true})
        add_run(view ? "render_draw/setup_view" : "render_draw/picture", [&, view] {
            obs_enter_graphics();
            gs_texrender_reset(target.get());
            if (gs_texrender_begin(target.get(), 1920, 1080)) {
                gs_ortho(0.0f, 1920.0f, 0.0f, 1080.0f, -100.0f, 100.0f);
                gs_effect_set_texture(image, frame_texture.get());
                while (gs_effect_loop(default_effect, "Draw"))
                    gs_draw_sprite(frame_texture.get(), 0, 0, 0);
                if (view) {
                    {
                        std::lock_guard lock(view_in->render.mutex);
                        view_in->graphics.setup_view_data = view_in->render.overlay;
                    }
                    drawer->draw(view_in->graphics.setup_view_data, 1920, 1080);
                }
                gs_texrender_end(target.get());
            }
            obs_leave_graphics();
        });

    // Each under 2 microseconds of its own work; a due frame pays for one
    // conversion, and the rest should not show.
    const row_goal under_2us{0, 2000};
    table.compare(group, "filter_video, frame not due", "filter_video/not_due",
                  "settings copy + clock read", "settings_copy_and_clock", under_2us);
    table.compare(group, "filter_video, frame due (BGRA 1920x1080 → 960x540)", "filter_video/due",
                  "the conversion alone", "conversion_only");
    table.compare(group, "video_tick, valid target", "video_tick",
                  "four locks + expf (what any tick pays)", "four_locks_and_expf", under_2us);
    table.compare(group, "video_render's own work (copy + 3 parameter sets)",
                  "render_copy_and_parameters", "one lock and unlock", "one_lock", under_2us);
    table.compare(group, "video_tick with the setup view (3 markers)", "video_tick/setup_view",
                  "video_tick without it", "video_tick", under_2us);
    table.compare(group, "draw of a 1920x1080 picture with the setup view's lines",
                  "render_draw/setup_view", "the same draw without them", "render_draw/picture");
    // A second instance with its worker running, fed a large picture directly.
    instance_ptr busy = create_bench_instance(
        [](obs_data_t *settings) { obs_data_set_int(settings, key_detect_width, 1920); });
    {
        const grey_image picture =
            make_tag_scene(tag_family_kind::tag16h5, tag_scene::pair, 1920, 1080).image;
        std::lock_guard lock(busy->tracking.mutex);
        detection_frame &f = busy->tracking.input_frame;
        ensure_detection_frame(f, picture.width, picture.height);
        std::memcpy(f.data.get(), picture.pixels.data(), picture.pixels.size());
        f.source_width = picture.width, f.source_height = picture.height, f.sequence = 1;
    }
    for (const bool family : {true, false})
        benchmark::RegisterBenchmark(family ? "update/family" : "update/padding",
                                     update_during_detection, busy.get(), family);
    table.compare(group, "filter_update, family switched during a detection", "update/family",
                  "filter_update, padding changed", "update/padding", {0, 100000});

    const int status = run_benchmarks(argc, argv, table, 5, "0.2");
    // Graphics objects go while the host still runs.
    drawer.reset();
    frame_texture.reset();
    target.reset();
    viewing.reset();
    busy.reset();
    instance.reset();
    stop_host();
    return status;
}

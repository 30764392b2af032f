// What scripts and tools see of the filter and how a user steers it, through the real host.
#include "filter/controls.h"
#include "host_harness.h"
#include "module/module.h"

#include <algorithm>
#include <callback/decl.h>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <tuple>

namespace {

using namespace std::chrono_literals;

// The target the procedure reports, as a region of its frame.
crop_parameters region_of(const procedure_state &s) {
    return region_of(
        crop_rect{static_cast<float>(s.target_center_x), static_cast<float>(s.target_center_y),
                  static_cast<float>(s.target_width), static_cast<float>(s.target_height)},
        static_cast<int32_t>(s.target_frame_width), static_cast<int32_t>(s.target_frame_height));
}

crop_parameters crop_of(const procedure_state &s) {
    return {static_cast<float>(s.crop_scale_x), static_cast<float>(s.crop_scale_y),
            static_cast<float>(s.crop_offset_x), static_cast<float>(s.crop_offset_y),
            s.visible ? 1.0f : 0.0f};
}

constexpr obs_key_combination_t ctrl_f5{INTERACT_CONTROL_KEY, OBS_KEY_F5};
constexpr obs_key_combination_t ctrl_f6{INTERACT_CONTROL_KEY, OBS_KEY_F6};
constexpr obs_key_combination_t shift_f7{INTERACT_SHIFT_KEY, OBS_KEY_F7};
constexpr obs_key_combination_t shift_f8{INTERACT_SHIFT_KEY, OBS_KEY_F8};

class Controls : public shown_filter {
protected:
    procedure_state proc() const {
        procedure_state s;
        EXPECT_TRUE(call_state_procedure(filter, s));
        return s;
    }
    // Until the procedure reports these markers seen: what it says then.
    procedure_state once_seen(bool a, bool b) {
        procedure_state s;
        EXPECT_TRUE(wait_until([&] {
            s = proc();
            return s.tag_a_seen == a && s.tag_b_seen == b;
        })) << "no pass saw A "
            << a << " and B " << b;
        return s;
    }
    // Until the crop shows the published target, within float rounding.
    bool settles_on_target() {
        return wait_until([&] {
            const procedure_state s = proc();
            return s.target_valid && crop_distance(crop_of(s), region_of(s)) < 1e-5f;
        });
    }
};

// Each output is set with its declared type: the host's getters match by name and byte size
// only, so an int set for a float output would reach a script as garbage.
TEST_F(Controls, TheProcedureSetsEveryDeclaredOutputWithItsType) {
    ASSERT_NO_FATAL_FAILURE(add_filter());
    show(shifted_scene(tag_scene::pair, 640, 360));
    ASSERT_TRUE(settles_on_target());
    decl_info info{};
    ASSERT_TRUE(parse_decl_string(&info, state_procedure_decl));
    EXPECT_STREQ(info.name, state_procedure_name);
    calldata_t cd;
    calldata_init(&cd);
    ASSERT_TRUE(proc_handler_call(obs_source_get_proc_handler(filter), state_procedure_name, &cd));
    for (size_t i = 0; i < info.params.num; ++i) {
        const decl_param &p = info.params.array[i];
        SCOPED_TRACE(p.name);
        EXPECT_EQ(p.flags, static_cast<uint32_t>(CALL_PARAM_OUT));
        bool b = false;
        long long n = 0;
        double x = 0;
        switch (p.type) {
        case CALL_PARAM_TYPE_BOOL:
            EXPECT_TRUE(calldata_get_bool(&cd, p.name, &b));
            break;
        case CALL_PARAM_TYPE_INT:
            // Read as a float too: a whole number set as a float would read back as its bits.
            EXPECT_TRUE(calldata_get_int(&cd, p.name, &n));
            EXPECT_TRUE(n >= 0 && n < (1ll << 62)) << n;
            break;
        case CALL_PARAM_TYPE_FLOAT:
            EXPECT_TRUE(calldata_get_float(&cd, p.name, &x));
            EXPECT_TRUE(std::isfinite(x) && x >= 0.0 && x < 1e5) << x;
            break;
        default:
            ADD_FAILURE() << "a type scripts cannot read";
        }
    }
    EXPECT_EQ(info.params.num, 20u);
    calldata_free(&cd);
    decl_info_free(&info);
    calldata_init(&cd);
    EXPECT_FALSE(proc_handler_call(obs_source_get_proc_handler(parent), state_procedure_name, &cd))
        << "the procedure is the filter's, not its parent's";
    calldata_free(&cd);
}

// While it lives, records the filter's markers signals (what came, on which thread, for which
// source) and the host's graphics thread.
struct signal_record {
    std::mutex mutex;
    std::vector<std::string> names;
    std::vector<std::thread::id> threads;
    std::vector<void *> sources;
    std::thread::id graphics;
    signal_handler_t *handler;

    explicit signal_record(obs_source_t *filter) : handler(obs_source_get_signal_handler(filter)) {
        obs_add_tick_callback(on_tick, this);
        signal_handler_connect(handler, "markers_found", found, this);
        signal_handler_connect(handler, "markers_lost", lost, this);
    }
    ~signal_record() {
        signal_handler_disconnect(handler, "markers_found", found, this);
        signal_handler_disconnect(handler, "markers_lost", lost, this);
        obs_remove_tick_callback(on_tick, this);
    }
    static void on_tick(void *data, float) {
        auto *self = static_cast<signal_record *>(data);
        std::lock_guard lock(self->mutex);
        self->graphics = std::this_thread::get_id();
    }
    static void found(void *data, calldata_t *cd) {
        static_cast<signal_record *>(data)->add("markers_found", cd);
    }
    static void lost(void *data, calldata_t *cd) {
        static_cast<signal_record *>(data)->add("markers_lost", cd);
    }
    void add(const char *name, calldata_t *cd) {
        std::lock_guard lock(mutex);
        names.emplace_back(name);
        threads.push_back(std::this_thread::get_id());
        sources.push_back(calldata_ptr(cd, "source"));
    }
};

// What the procedure reports after each picture, against the drawn markers and what the filter
// published (hiding on, so that "visible" tells); and the markers signals: "both seen" goes on,
// stays on for a moved pair, off with one marker, stays off without any, and on again: three
// signals, each once, from the host's graphics thread, never the worker.
TEST_F(Controls, TheProcedureAndTheSignalsReportWhatEachPassSaw) {
    obs_data_set_bool(settings.get(), key_hide_without_both_tags, true);
    obs_data_set_double(settings.get(), key_follow_half_life_ms, 40.0);
    ASSERT_NO_FATAL_FAILURE(add_filter());
    signal_record record(filter);
    const struct {
        tag_scene shown;
        int32_t shift = 0;
        bool a, b, target_valid;
    } steps[] = {
        {.shown = tag_scene::pair, .a = true, .b = true, .target_valid = true},
        {.shown = tag_scene::pair, .shift = 16, .a = true, .b = true, .target_valid = true},
        // One marker after a pair: the target stays, the output hides.
        {.shown = tag_scene::only_b, .a = false, .b = true, .target_valid = true},
        {.shown = tag_scene::empty, .a = false, .b = false, .target_valid = false},
        {.shown = tag_scene::only_b, .a = false, .b = true, .target_valid = false},
        {.shown = tag_scene::pair, .a = true, .b = true, .target_valid = true},
    };
    double target_x = 0;
    crop_rect held{};
    for (const auto &step : steps) {
        SCOPED_TRACE(static_cast<int>(step.shown));
        const uint64_t before = os_gettime_ns();
        show(shifted_scene(step.shown, 640, 360, step.shift));
        procedure_state s = once_seen(step.a, step.b);
        // The moved pair sees what the pair saw: it has been seen once its target moved.
        if (step.shift) {
            ASSERT_TRUE(wait_until([&] { return (s = proc()).target_center_x > target_x + 8; }));
        }
        target_x = s.target_center_x;
        const bool both = step.a && step.b;
        ASSERT_TRUE(wait_until([&] { return (s = proc()).visible == both; }));
        EXPECT_EQ(std::tuple(s.tag_a_seen, s.tag_b_seen, s.both_seen, s.target_valid),
                  std::tuple(step.a, step.b, both, step.target_valid));
        EXPECT_EQ(std::pair(s.frame_width, s.frame_height), std::pair(640ll, 360ll));
        EXPECT_GT(s.last_pass_ns, static_cast<long long>(before));
        EXPECT_LE(s.last_pass_ns, static_cast<long long>(os_gettime_ns()));
        EXPECT_FALSE(s.following_paused || s.whole_picture);
        const filter_state published = state();
        if (step.target_valid) {
            const crop_rect &t = published.status.target_rect;
            EXPECT_EQ(
                std::tuple(s.target_center_x, s.target_center_y, s.target_width, s.target_height),
                std::tuple(static_cast<double>(t.center_x), static_cast<double>(t.center_y),
                           static_cast<double>(t.width), static_cast<double>(t.height)));
            if (step.shown == tag_scene::pair && !step.shift)
                expect_crop_of_drawn_pair(t, 640, 360, 640, 360);
            if (step.shown == tag_scene::only_b) {
                EXPECT_EQ(std::memcmp(&t, &held, sizeof t), 0) << "the target stays";
            }
            held = t;
            EXPECT_EQ(std::pair(s.target_frame_width, s.target_frame_height),
                      std::pair(640ll, 360ll));
            // The crop the filter draws is the one reported: on the target once it settled.
            ASSERT_TRUE(settles_on_target());
            const procedure_state settled = proc();
            const crop_parameters drawn = state().crop;
            EXPECT_LT(crop_distance(crop_of(settled), drawn), 1e-5f);
            EXPECT_LT(crop_distance(drawn, region_of(settled)), 1e-5f);
        } else {
            // After the hold, the whole picture, and the procedure says so.
            EXPECT_TRUE(wait_until(
                [&] { return crop_distance(crop_of(proc()), identity_crop()) < 1e-3f; }));
        }
    }
    std::lock_guard lock(record.mutex);
    EXPECT_EQ(record.names,
              (std::vector<std::string>{"markers_found", "markers_lost", "markers_found"}));
    for (size_t i = 0; i < record.names.size(); ++i) {
        EXPECT_EQ(record.threads[i], record.graphics) << i;
        EXPECT_EQ(record.sources[i], filter) << i;
    }
}

// Two pairs under the filter, in the user's language, each half naming its partner.
TEST_F(Controls, TwoHotkeyPairsAreListedUnderTheFilter) {
    ASSERT_NO_FATAL_FAILURE(add_filter());
    std::vector<source_hotkey> keys = hotkeys_of(filter);
    ASSERT_EQ(keys.size(), 4u);
    std::sort(keys.begin(), keys.end(), [](auto &a, auto &b) { return a.name < b.name; });
    const std::pair<const char *, const char *> expected[] = {
        {hotkey_pause_following, "Pause following the markers"},
        {hotkey_resume_following, "Resume following the markers"},
        {hotkey_whole_picture_off, "Back to the markers' framing"},
        {hotkey_whole_picture_on, "Show the whole picture"},
    };
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(keys[i].name, expected[i].first);
        EXPECT_EQ(keys[i].description, expected[i].second);
    }
    EXPECT_EQ(keys[0].partner, keys[1].id);
    EXPECT_EQ(keys[1].partner, keys[0].id);
    EXPECT_EQ(keys[2].partner, keys[3].id);
    EXPECT_EQ(keys[3].partner, keys[2].id);
    EXPECT_TRUE(hotkeys_of(parent).empty());
}

// Paused, the target moves on with the markers and the crop stays; one key for both is a toggle.
TEST_F(Controls, PauseHoldsTheCropWhileTheMarkersMove) {
    ASSERT_NO_FATAL_FAILURE(add_filter());
    bind_hotkey(filter, hotkey_pause_following, ctrl_f5);
    bind_hotkey(filter, hotkey_resume_following, ctrl_f6);
    show(shifted_scene(tag_scene::pair, 640, 360));
    ASSERT_TRUE(settles_on_target());
    const procedure_state first = proc();
    ASSERT_TRUE(press_keys(ctrl_f5));
    EXPECT_TRUE(proc().following_paused);
    ASSERT_TRUE(wait_for_host_frames(2));
    const crop_parameters held = state().crop;

    show(shifted_scene(tag_scene::pair, 640, 360, 24));
    ASSERT_TRUE(wait_until([&] { return proc().target_center_x > first.target_center_x + 20; }))
        << "the target did not move with the markers";
    ASSERT_TRUE(wait_for_host_frames(10));
    const procedure_state paused = proc();
    EXPECT_TRUE(paused.following_paused);
    EXPECT_EQ(crop_distance(crop_of(paused), held), 0.0f) << "the crop moved while paused";

    ASSERT_TRUE(press_keys(ctrl_f6));
    EXPECT_FALSE(proc().following_paused);
    ASSERT_TRUE(settles_on_target()) << "resumed, the crop did not follow";
    EXPECT_GT(crop_distance(state().crop, held), 0.02f);

    bind_hotkey(filter, hotkey_pause_following, shift_f7);
    bind_hotkey(filter, hotkey_resume_following, shift_f7);
    for (const bool paused_now : {true, false, true, false}) {
        ASSERT_TRUE(press_keys(shift_f7));
        EXPECT_EQ(proc().following_paused, paused_now) << "one key for both halves toggles";
    }
}

// Whole picture on eases out to the whole frame over many frames, off eases back.
TEST_F(Controls, WholePictureEasesOutAndBack) {
    ASSERT_NO_FATAL_FAILURE(add_filter());
    bind_hotkey(filter, hotkey_whole_picture_on, shift_f7);
    bind_hotkey(filter, hotkey_whole_picture_off, shift_f8);
    show(shifted_scene(tag_scene::pair, 640, 360));
    ASSERT_TRUE(settles_on_target());
    const crop_parameters target = region_of(proc());
    for (const auto &[keys, wanted, whole] :
         {std::tuple{shift_f7, identity_crop(), true}, std::tuple{shift_f8, target, false}}) {
        SCOPED_TRACE(whole ? "out" : "back");
        const crop_parameters goal = wanted;
        ASSERT_TRUE(press_keys(keys));
        EXPECT_EQ(proc().whole_picture, whole);
        std::vector<float> widths; // one per host frame while the crop moves
        ASSERT_TRUE(wait_until(
            [&] {
                const float w = state().crop.crop_scale_x;
                if (widths.empty() || w != widths.back())
                    widths.push_back(w);
                wait_for_host_frames(1);
                return crop_distance(state().crop, goal) < 1e-3f;
            },
            10s));
        EXPECT_GE(widths.size(), 6u) << "eased over several frames, no jump";
        for (size_t i = 1; i < widths.size(); ++i)
            EXPECT_EQ(widths[i] > widths[i - 1], whole) << "frame " << i;
    }
}

// Bindings are saved with the parent and drive the loaded instance; the filter saves nothing.
TEST(ControlsSaved, HotkeyBindingsSurviveSaveAndLoadOfTheSource) {
    const obs_key_combination_t pause{INTERACT_CONTROL_KEY, OBS_KEY_F9};
    const obs_key_combination_t whole{INTERACT_SHIFT_KEY | INTERACT_ALT_KEY, OBS_KEY_F10};
    obs_data_t *saved = nullptr;
    {
        obs_source_t *camera = create_public_push_source("saved camera");
        obs_source_t *zoom = obs_source_create(filter_source_id, "saved zoom", nullptr, nullptr);
        ASSERT_NE(zoom, nullptr);
        obs_source_filter_add(camera, zoom);
        bind_hotkey(zoom, hotkey_pause_following, pause);
        bind_hotkey(zoom, hotkey_whole_picture_on, whole);
        saved = obs_save_source(camera);
        obs_source_filter_remove(camera, zoom);
        obs_source_release(zoom);
        release_public_source(camera);
    }
    ASSERT_NE(saved, nullptr);
    // Only the load can bring them back: the old instance's hotkeys are gone.
    ASSERT_TRUE(wait_until([] {
        size_t count = 0;
        obs_enum_hotkeys(
            [](void *data, obs_hotkey_id, obs_hotkey_t *key) {
                *static_cast<size_t *>(data) +=
                    std::string(obs_hotkey_get_name(key)) == hotkey_pause_following;
                return true;
            },
            &count);
        return count == 0;
    }));

    obs_source_t *camera = obs_load_source(saved);
    obs_data_release(saved);
    ASSERT_NE(camera, nullptr);
    obs_source_t *zoom = obs_source_get_filter_by_name(camera, "saved zoom");
    ASSERT_NE(zoom, nullptr);
    EXPECT_TRUE(bindings_of(hotkey_named(zoom, hotkey_resume_following)).empty());
    EXPECT_TRUE(bindings_of(hotkey_named(zoom, hotkey_whole_picture_off)).empty());
    procedure_state s;
    ASSERT_TRUE(press_keys(pause));
    ASSERT_TRUE(press_keys(whole));
    ASSERT_TRUE(call_state_procedure(zoom, s));
    EXPECT_TRUE(s.following_paused && s.whole_picture) << "each loaded binding drives its half";
    obs_source_filter_remove(camera, zoom);
    obs_source_release(zoom);
    release_public_source(camera);
    obs_wait_for_destroy_queue();
}

// A 4:3 source on the 16:9 canvas: the crop is shaped like the canvas by default, like the source
// when asked, and drawn as the procedure reports it (shaped like the canvas, drawn at the source's
// size, it squeezes the picture).
TEST_F(Controls, TheSourceShapeGivesAnUndistortedCropOnAnotherCanvasShape) {
    const struct {
        crop_shape_kind shape;
        double aspect;
    } rows[] = {{crop_shape_kind::canvas, 16.0 / 9.0}, {crop_shape_kind::source, 4.0 / 3.0}};
    const rgba_image picture = shifted_scene(tag_scene::pair, 640, 480);
    for (const auto &row : rows) {
        SCOPED_TRACE(static_cast<int>(row.shape));
        obs_data_set_int(settings.get(), key_crop_shape, static_cast<long long>(row.shape));
        ASSERT_NO_FATAL_FAILURE(add_filter());
        show(picture);
        ASSERT_TRUE(settles_on_target());
        const procedure_state s = proc();
        EXPECT_NEAR(s.target_width / s.target_height, row.aspect, 0.02);
        EXPECT_NEAR(s.crop_scale_x / s.crop_scale_y * 640.0 / 480.0, row.aspect, 0.02);
        // Sampled bilinearly: a few levels at sharp edges.
        EXPECT_LE(worst_difference(render_source(parent), crop_reference(picture, crop_of(s))), 3);
        remove_filter();
    }
}

} // namespace

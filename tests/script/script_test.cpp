// The README's example script run by the host's own scripting (Lua, the binding module from
// Debian's obs-studio package), headless: it follows the real filter's signals as the markers come
// and go, reads the target through the state procedure, and asks the front end to switch scenes.
// There is no front end here, so each switch ends in the front-end library's warning.
#include "filter/controls.h"
#include "filter/settings.h"
#include "host_support.h"
#include "module/module.h"

#include <cstdio>
#include <gtest/gtest.h>

// libobs0 ships libobs-scripting without a header: its entry points, as the desktop calls them.
extern "C" {
struct obs_script;
bool obs_scripting_load(void);
void obs_scripting_unload(void);
obs_script *obs_script_create(const char *path, obs_data_t *settings);
void obs_script_destroy(obs_script *script);
bool obs_script_loaded(const obs_script *script);
}

namespace {

constexpr char script_path[] = PINVALER_SOURCE_DIR "/docs/scripts/markers_switch_scene.lua";
constexpr char no_front_end[] = "Tried to call obs_frontend_set_current_scene with no callbacks!";

struct host_with_scripting : ::testing::Environment {
    void SetUp() override {
        capture_host_log(std::getenv("PINVALER_TEST_LOG") != nullptr);
        std::string error;
        ASSERT_TRUE(start_host({}, error)) << error;
        ASSERT_NE(load_module(PINVALER_MODULE_PATH, PINVALER_DATA_DIR, error), nullptr) << error;
        ASSERT_TRUE(obs_scripting_load()) << "the host's scripting did not start";
    }
    void TearDown() override {
        obs_scripting_unload();
        stop_host();
        const long leaked = bnum_allocs();
        release_host_log();
        EXPECT_EQ(leaked, 0) << "host allocations still live after shutdown";
    }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new host_with_scripting);

rgba_image scene(tag_scene kind) {
    return rgba_image(make_tag_scene(tag_family_kind::tag16h5, kind, 640, 360).image);
}

TEST(ExampleScript, SwitchesScenesAsTheFilterFindsAndLosesTheMarkers) {
    obs_scene_t *camera_scene = obs_scene_create("Camera");
    obs_scene_t *board_scene = obs_scene_create("Whiteboard");
    obs_source_t *camera = create_public_push_source("Desk camera");
    obs_data_t *filter_settings = obs_data_create();
    obs_data_set_double(filter_settings, key_detect_fps, 30.0);
    obs_source_t *zoom =
        obs_source_create(filter_source_id, "Marker zoom", filter_settings, nullptr);
    obs_data_release(filter_settings);
    ASSERT_NE(zoom, nullptr);
    obs_source_filter_add(camera, zoom);

    obs_data_t *settings = obs_data_create();
    obs_data_set_string(settings, "source_name", "Desk camera");
    obs_data_set_string(settings, "filter_name", "Marker zoom");
    obs_data_set_string(settings, "found_scene", "Camera");
    obs_data_set_string(settings, "lost_scene", "Whiteboard");
    const size_t mark = log_mark();
    obs_script *script = obs_script_create(script_path, settings);
    obs_data_release(settings);
    ASSERT_NE(script, nullptr);
    ASSERT_TRUE(obs_script_loaded(script));
    const auto count = [&](const std::string &text) {
        return count_log_since(mark, LOG_INFO, text);
    };
    const auto warnings = [&] { return count_log_since(mark, LOG_WARNING, no_front_end); };
    ASSERT_TRUE(wait_until([&] { return count("listening to 'Marker zoom' on 'Desk camera'"); }));

    host_frame(VIDEO_FORMAT_BGRA, scene(tag_scene::pair)).push_to(camera);
    ASSERT_TRUE(wait_until([&] { return count("markers_found: target ") == 1 && warnings() == 1; }))
        << "no switch to the found scene";
    procedure_state state;
    ASSERT_TRUE(call_state_procedure(zoom, state));
    char line[160];
    std::snprintf(
        line, sizeof(line), "markers_found: target %.0fx%.0f at %.0f,%.0f, switching to 'Camera'",
        state.target_width, state.target_height, state.target_center_x, state.target_center_y);
    EXPECT_EQ(count(line), 1u) << "the target as the procedure reports it";

    host_frame(VIDEO_FORMAT_BGRA, scene(tag_scene::empty)).push_to(camera);
    ASSERT_TRUE(wait_until([&] { return warnings() == 2; })) << "no switch to the lost scene";
    EXPECT_EQ(count("markers_lost: no target, switching to 'Whiteboard'"), 1u);

    // Once per change: more of the same picture, and a second of the script's look-ups, add none.
    host_frame(VIDEO_FORMAT_BGRA, scene(tag_scene::empty)).push_to(camera);
    ASSERT_TRUE(wait_for_host_frames(40));
    const auto heard = [&] { return count("] markers_found:") + count("] markers_lost:"); };
    EXPECT_EQ(heard(), 2u);
    EXPECT_EQ(count("listening to"), 1u);

    obs_script_destroy(script);
    host_frame(VIDEO_FORMAT_BGRA, scene(tag_scene::pair)).push_to(camera);
    ASSERT_TRUE(wait_until([&] {
        procedure_state s;
        return call_state_procedure(zoom, s) && s.both_seen;
    }));
    ASSERT_TRUE(wait_for_host_frames(3));
    EXPECT_EQ(heard(), 2u) << "heard after the script was removed";

    obs_source_filter_remove(camera, zoom);
    obs_source_release(zoom);
    release_public_source(camera);
    obs_scene_release(camera_scene);
    obs_scene_release(board_scene);
}

} // namespace

#pragma once

// What the host tests share. The real host runs once per binary (host_environment.cpp) with its
// log captured; tests push raw frames of any format into a source of their own, read back what
// the host draws, and may also call the filter's callbacks directly.
#include "detect/detector_setup.h"
#include "filter/filter_callbacks.h"
#include "filter/filter_instance.h"
#include "filter/settings_keys.h"
#include "platform/threads.h"
#include "tag_scenes.h"
#include "zoom/zoom_smoothing.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <obs.h>
#include <string>
#include <util/platform.h>
#include <vector>

// The host's canvas.
constexpr uint32_t canvas_width = 640, canvas_height = 360;

struct log_line {
    int level;
    std::string text;
};

// The host's log is captured from start-up; a mark lets a test look only at newer lines.
size_t log_mark();
std::vector<log_line> captured_log_since(size_t mark);
// Lines since `mark` at `level` whose text contains `needle`.
size_t count_log_since(size_t mark, int level, const std::string &needle);

// Polls `condition` until it holds or `timeout` passes; returns the last result.
bool wait_until(const std::function<bool()> &condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Threads of this process, from /proc.
int process_thread_count();

// Waits until the host's own allocation and thread counts stop moving, so a
// test can compare them before and after its own work.
void wait_for_quiet_host();

// A module data folder of the test's own. While it lives, both the loaded module and the tests'
// copy of the module code look their data files up in it.
struct module_data_dir {
    std::filesystem::path root;
    explicit module_data_dir(const std::string &name);
    ~module_data_dir();
    module_data_dir(const module_data_dir &) = delete;
    // The full path of a data file, e.g. "effects/pinvaler.effect".
    std::filesystem::path file(const std::string &relative) const { return root / relative; }
};

// A desktop of our own for GIO, so that no test ever starts a real viewer: PDFs open with a
// stand-in viewer that records what it was asked to open. GIO reads the XDG variables once, and
// setenv is unsafe once other threads run, so the host environment installs it before the host.
void install_stand_in_desktop();
struct open_request {
    std::string uri;     // empty: no request came
    bool viewer_running; // still open when the request was taken
};
// Waits for the stand-in viewer's next request.
open_request take_open_request();
// True when a request is waiting, without waiting for one.
bool open_request_pending();

struct data_release {
    void operator()(obs_data_t *data) const { obs_data_release(data); }
};
using data_ptr = std::unique_ptr<obs_data_t, data_release>;

// Host settings holding the filter type's defaults, as the host hands them to create.
inline data_ptr default_settings() {
    data_ptr settings(obs_data_create());
    filter_get_defaults(settings.get());
    return settings;
}

struct instance_destroy {
    void operator()(filter_instance *instance) const { filter_destroy(instance); }
};
using instance_ptr = std::unique_ptr<filter_instance, instance_destroy>;

// An instance made by calling the callbacks directly, not registered with the host.
inline instance_ptr create_instance(obs_data_t *settings, obs_source_t *source = nullptr) {
    return instance_ptr(static_cast<filter_instance *>(filter_create(settings, source)));
}

template <typename T, typename F>
T read_locked(pthread_mutex_t &mutex, F read) {
    mutex_lock lock(mutex);
    return read();
}

// An 8-bit RGBA picture, rows top to bottom.
struct rgba_image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;

    rgba_image() = default;
    rgba_image(int32_t w, int32_t h) : width(w), height(h), rgba(size_t(w) * h * 4) {}
    // Opaque grey.
    explicit rgba_image(const gray_image &grey);
    uint8_t *at(int32_t x, int32_t y) { return &rgba[(size_t(y) * width + x) * 4]; }
    const uint8_t *at(int32_t x, int32_t y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

// The detection tests' scene (tests/support) of a tag family, at a size.
scene_picture tag_picture(int32_t family, tag_scene kind, int width, int height);

// Expects `found` to be the crop from the drawn corners of the tag16h5 pair
// scene at the detection size, for a source of its own size, with the canvas's
// aspect ratio.
void expect_crop_of_drawn_pair(const crop_rect &found, int detect_width, int detect_height,
                               int source_width, int source_height);

// A raw frame laid out as the host lays out its own copies (obs_source_frame_init):
// RGB formats in colour, the 8-bit YUV formats the filter reads with BT.709
// limited-range luma and neutral chroma (exact for grey pictures only), every
// other byte mid-grey. A format the host does not know has no planes, as the
// host's own copy has none.
struct host_frame {
    obs_source_frame frame{};

    host_frame(int format, const rgba_image &picture);
    ~host_frame() { obs_source_frame_free(&frame); }
    host_frame(const host_frame &) = delete;
    // Stamped with the host's clock; the host copies the planes before it returns.
    void push_to(obs_source_t *source) const;
};

// A private input of the tests' own type that shows the newest pushed frame at
// once, like a camera.
obs_source_t *create_test_source(const char *name);

// Draws the source, filters included, through the host into a transparent
// texture of its size with blending off and reads it back: exactly what the
// last filter drew. Empty when nothing could be read.
rgba_image render_source(obs_source_t *source);

// Waits until the host's graphics thread has begun `frames` more frames (each
// ticks and draws every source); false on timeout.
bool wait_for_host_frames(int frames);

// A field of the instance, read under the mutex that guards it.
template <typename T>
T read_field(filter_instance *instance, T filter_instance::*field,
             pthread_mutex_t filter_instance::*mutex = &filter_instance::frame_mutex) {
    return read_locked<T>(instance->*mutex, [&] { return instance->*field; });
}

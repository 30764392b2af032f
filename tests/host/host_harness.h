#pragma once

// What the host tests share: the real host runs once per binary with the built module loaded;
// tests may also call the filter's callbacks directly (this binary links the plug-in's code).
#include "filter/filter.h"
#include "filter/instance.h"
#include "host_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <obs.h>
#include <string>
#include <util/platform.h>

// The host's canvas.
constexpr uint32_t canvas_width = 640, canvas_height = 360;

// Threads of this process, from /proc.
int process_thread_count();

// Waits until the host's allocation and thread counts stop moving.
void wait_for_quiet_host();

// A module data folder of the test's own, for the loaded module and the tests' copy alike.
struct module_data_dir {
    std::filesystem::path root;
    explicit module_data_dir(const std::string &name);
    ~module_data_dir();
    module_data_dir(const module_data_dir &) = delete;
    // The full path of a data file, e.g. "effects/pinvaler.effect".
    std::filesystem::path file(const std::string &relative) const { return root / relative; }
};

// A desktop of our own for GIO whose stand-in PDF viewer records what it was asked to open;
// installed before the host starts threads (setenv).
void install_stand_in_desktop();
struct open_request {
    std::string uri;     // empty: no request came
    bool viewer_running; // still open when the request was taken
};
// Waits for the stand-in viewer's next request.
open_request take_open_request();
// True when a request is waiting, without waiting for one.
bool open_request_pending();

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

// An instance made through the filter's own create callback, not registered with the host.
inline instance_ptr create_instance(obs_data_t *settings, obs_source_t *source = nullptr) {
    return instance_ptr(static_cast<filter_instance *>(filter_create(settings, source)));
}

// The instance behind a filter source the host made.
inline filter_instance *instance_of(obs_source_t *filter) {
    return static_cast<filter_instance *>(obs_obj_get_data(filter));
}

// The crop target as the worker published it, in the record the checks compare.
inline crop_rect target_of(filter_instance *instance) {
    return read_filter_state(*instance).status.target_rect;
}

// The detection tests' scene of a tag family, at a size, in colour channels alike.
rgba_image tag_picture(tag_family_kind family, tag_scene kind, int32_t width, int32_t height);
// The same moved right and down by `shift` over mid-grey; with `colour`, blue runs opposite to red
// and green, so that a swapped channel shows while the markers stay black and white in luma.
rgba_image shifted_scene(tag_scene kind, int32_t width, int32_t height, int32_t shift = 0,
                         bool colour = false, tag_family_kind family = tag_family_kind::tag16h5);

// The region of a target as fractions of its frame, in the crop's terms.
crop_parameters region_of(const crop_rect &target, int32_t frame_width, int32_t frame_height);
// The largest difference of two crops' scales and offsets.
float crop_distance(const crop_parameters &a, const crop_parameters &b);
// The crop shown is the published target, within `within`.
bool crop_on_target(const filter_state &state, float within = 1e-5f);
// The largest difference in any byte; 256 when the sizes differ.
int worst_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b);
int worst_difference(const rgba_image &a, const rgba_image &b);

// The GPU intake's counts: pictures staged so far, and staged but not taken yet.
std::pair<uint64_t, int32_t> readback_counts(filter_instance *instance);

// The real filter from the loaded module on a test source shown on the main output, drawn by the
// host every frame as a preview does; detection at 30 a second.
class shown_filter : public ::testing::Test {
protected:
    shown_filter() { obs_data_set_double(settings.get(), key_detect_fps, 30.0); }
    void TearDown() override;
    // The source (drawn on the GPU when `gpu`, else camera-like), made and shown once, and a new
    // filter on it.
    void add_filter(bool gpu = false);
    void remove_filter();
    // A frame as a camera delivers it, or the GPU source's next picture.
    void show(const rgba_image &picture, video_format format = VIDEO_FORMAT_BGRA) const;
    filter_instance *instance() const { return instance_of(filter); }
    filter_state state() const { return read_filter_state(*instance()); }
    // Straight into the filter: the host would defer it to its graphics thread behind an atomic
    // counter that ThreadSanitizer cannot see in the host.
    void update() const { filter_update(instance(), settings.get()); }

    data_ptr settings = default_settings();
    bool gpu_source = false;
    obs_source_t *parent = nullptr;
    obs_source_t *filter = nullptr;
};

// What the crop effect draws at the picture's size: the region sampled bilinearly at each pixel's
// centre, edges clamped, times the visibility; red and blue swapped when asked.
rgba_image crop_reference(const rgba_image &picture, const crop_parameters &crop,
                          bool swap_red_blue = false);

// Writes an RGBA picture as a PNG file (for the README's pictures).
bool write_png(const std::string &path, const rgba_image &picture);

// Expects `found` to be the crop from the drawn corners of the family's pair scene at the
// detection size, for a source of its own size, with the canvas's aspect ratio.
void expect_crop_of_drawn_pair(const crop_rect &found, int detect_width, int detect_height,
                               int source_width, int source_height,
                               tag_family_kind family = tag_family_kind::tag16h5);

#pragma once

// What the benches build on: a filter instance without the host's graphics or
// the worker thread (the benches play the host's and the worker's parts), the
// test pictures, and a headless host.
#include "detect/detector_setup.h"
#include "filter/filter_callbacks.h"
#include "filter/filter_instance.h"
#include "platform/threads.h"
#include "tag_scenes.h"

#include <cstdlib>
#include <map>

// With a detector of `family` on `threads` threads; filter_destroy frees it.
inline filter_instance *make_bench_instance(int32_t family = 0, int32_t threads = 2) {
    auto *in = static_cast<filter_instance *>(bzalloc(sizeof(filter_instance)));
    in->settings = default_settings_snapshot;
    in->settings.tag_family = family;
    in->schedule_fps = in->settings.detect_fps;
    in->worker_running = in->frame_usable = true;
    in->crop = identity_crop();
    in->canvas_width = 1920;
    in->canvas_height = 1080;
    in->config_mutex_ready = mutex_init(&in->config_mutex);
    in->frame_mutex_ready = mutex_init(&in->frame_mutex);
    in->detector_mutex_ready = mutex_init(&in->detector_mutex);
    in->render_mutex_ready = mutex_init(&in->render_mutex);
    in->perf_mutex_ready = mutex_init(&in->perf_mutex);
    in->detect_event_ready = auto_event_create(&in->detect_event);
    in->family = create_tag_family(family);
    in->detector = apriltag_detector_create();
    apriltag_detector_add_family(in->detector, in->family);
    configure_detector(in->detector, threads);
    return in;
}

// Tags A (id 0) and B (id 1) and a distractor, 16:9; each picture is drawn once.
inline const gray_image &tag_picture(int32_t family, int width) {
    static std::map<std::pair<int32_t, int>, gray_image> cache;
    const auto [found, fresh] = cache.try_emplace({family, width}, 0, 0, uint8_t{0});
    if (fresh) {
        apriltag_family_t *tags = create_tag_family(family);
        found->second = make_tag_scene(tags, tag_scene::pair, width, width * 9 / 16).image;
        destroy_tag_family(tags, family);
    }
    return found->second;
}

template <typename T>
T read_locked(pthread_mutex_t &mutex, const T &value) {
    mutex_lock lock(mutex);
    return value;
}

inline image_u8_t image_of(const gray_image &picture) {
    return {picture.width, picture.height, picture.width,
            const_cast<uint8_t *>(picture.pixels.data())};
}

// The host headless with a 1920x1080 canvas at 30 fps; needs an X display (xvfb-run -a).
inline bool start_host() {
    obs_video_info video{.graphics_module = "libobs-opengl",
                         .fps_num = 30,
                         .fps_den = 1,
                         .base_width = 1920,
                         .base_height = 1080,
                         .output_width = 1920,
                         .output_height = 1080,
                         .output_format = VIDEO_FORMAT_NV12,
                         .adapter = 0,
                         .gpu_conversion = true,
                         .colorspace = VIDEO_CS_709,
                         .range = VIDEO_RANGE_PARTIAL,
                         .scale_type = OBS_SCALE_BICUBIC};
    return std::getenv("DISPLAY") && obs_startup("en-US", nullptr, nullptr) &&
           obs_reset_video(&video) == OBS_VIDEO_SUCCESS;
}

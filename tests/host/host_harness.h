#pragma once

// What the host tests share: pictures, raw frames of any format pushed into a
// source of the tests' own, reading back what the host draws, and the
// instance's fields. The host itself runs once per binary (host_environment).
#include "detect/detector_setup.h"
#include "filter/settings_keys.h"
#include "filter_fixture.h"
#include "host_environment.h"
#include "tag_scenes.h"
#include "zoom/zoom_smoothing.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <obs.h>
#include <util/platform.h>
#include <vector>

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

// What the crop effect draws for these parameters, at the picture's own size:
// the region (fractions of the picture) sampled bilinearly at each output
// pixel's centre, edges clamped, times the visibility.
rgba_image crop_reference(const rgba_image &picture, const crop_parameters &crop);

// Largest difference of any channel, alpha included (256: sizes differ).
int compare_images(const rgba_image &a, const rgba_image &b);

// A field of the instance, read under the mutex that guards it.
template <typename T>
T read_field(filter_instance *instance, T filter_instance::*field,
             pthread_mutex_t filter_instance::*mutex = &filter_instance::frame_mutex) {
    return read_locked<T>(instance->*mutex, [&] { return instance->*field; });
}

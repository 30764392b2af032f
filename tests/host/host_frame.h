#pragma once

#include "marker_scene.h"

#include <cstdint>
#include <obs.h>
#include <vector>

// An 8-bit RGB picture, rows top to bottom.
struct rgb_picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;

    rgb_picture(int32_t w, int32_t h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3) {}
    explicit rgb_picture(const gray_image &grey);
    uint8_t *at(int32_t x, int32_t y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    const uint8_t *at(int32_t x, int32_t y) const {
        return &rgb[(static_cast<size_t>(y) * width + x) * 3];
    }
};

// A raw frame laid out as the host lays out its own copies (obs_source_frame_init):
// RGB formats in colour, the 8-bit YUV formats the filter reads with BT.709
// limited-range luma and neutral chroma (exact for grey pictures only), every
// other byte mid-grey. A format the host does not know has no planes, as the
// host's own copy has none.
class host_frame {
public:
    host_frame(int format, const rgb_picture &picture);
    ~host_frame() { obs_source_frame_free(&frame_); }
    host_frame(const host_frame &) = delete;
    host_frame &operator=(const host_frame &) = delete;

    obs_source_frame *get() { return &frame_; }
    // Stamped with the host's clock; the host copies the planes before it returns.
    void push_to(obs_source_t *source) const;

private:
    obs_source_frame frame_{};
};

// A private input of the tests' own type that shows the newest pushed frame at
// once, like a camera.
obs_source_t *create_test_source(const char *name);

#pragma once

#include "test_picture.h"

#include <obs.h>
#include <vector>

// Raw-frame formats the tests can push.
inline constexpr video_format pushed_formats[] = {VIDEO_FORMAT_BGRA, VIDEO_FORMAT_NV12,
                                                  VIDEO_FORMAT_I420};

// A private input of the tests' own source type, which delivers raw frames
// like a camera. The newest pushed frame is shown at once (unbuffered).
obs_source_t *create_test_source(const char *name);

// A picture converted once into a raw frame of the format, ready to be pushed
// any number of times: BGRA as it is, NV12 and I420 as BT.709 limited range
// with the matching colour matrix (width and height even).
class raw_video_frame {
public:
    raw_video_frame(const rgb_picture &picture, video_format format);
    raw_video_frame(const raw_video_frame &) = delete;
    raw_video_frame &operator=(const raw_video_frame &) = delete;

    // Stamped with the host's clock; the host copies the planes before it returns.
    void push_to(obs_source_t *source);
    int32_t width() const { return static_cast<int32_t>(frame_.width); }
    int32_t height() const { return static_cast<int32_t>(frame_.height); }

private:
    std::vector<uint8_t> planes_[3];
    obs_source_frame frame_{};
};

inline void push_picture(obs_source_t *source, const rgb_picture &picture, video_format format) {
    raw_video_frame(picture, format).push_to(source);
}

#pragma once

#include "test_picture.h"

#include <obs.h>

// Raw-frame formats the tests can push.
inline constexpr video_format pushed_formats[] = {VIDEO_FORMAT_BGRA, VIDEO_FORMAT_NV12,
                                                  VIDEO_FORMAT_I420};

// A private input of the tests' own source type, which delivers raw frames
// like a camera. The newest pushed frame is shown at once (unbuffered).
obs_source_t *create_test_source(const char *name);

// Hands the picture to the host as one raw frame of the format: BGRA as it
// is, NV12 and I420 as BT.709 limited range with the matching colour matrix.
// The width and height must be even for the YUV formats.
void push_picture(obs_source_t *source, const rgb_picture &picture, video_format format);

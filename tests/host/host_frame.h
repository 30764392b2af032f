#pragma once

#include "marker_scene.h"

#include <cstddef>
#include <obs.h>

// The host library's formats run from VIDEO_FORMAT_NONE to VIDEO_FORMAT_YA2L;
// for any other value it allocates and copies no planes at all.
bool host_knows_format(int format);

// A raw frame laid out exactly as the host lays out the copies it hands to
// filters (obs_source_frame_init), plane 0 holding a grey picture in the
// format's own encoding and the other planes neutral grey, with the colour
// parameters of BT.709 limited range for YUV. For a format the host does not
// know the frame has no planes, as the host's own copy has none.
class host_frame {
public:
    host_frame(int format, const gray_image &picture);
    ~host_frame() { obs_source_frame_free(&frame_); }
    host_frame(const host_frame &) = delete;
    host_frame &operator=(const host_frame &) = delete;

    obs_source_frame *get() { return &frame_; }
    const obs_source_frame *get() const { return &frame_; }

private:
    obs_source_frame frame_{};
};

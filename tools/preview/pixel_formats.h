#pragma once

#include <cstdint>
#include <media-io/video-io.h>

extern "C" {
#include <libavutil/pixfmt.h>
}

// The host's format for frames stored as `format`, or VIDEO_FORMAT_NONE when
// the filter cannot track them as they are (they are converted first).
video_format host_format_for(AVPixelFormat format);

// What an unsupported format is converted into: BGRA when it carries RGB or
// alpha, NV12 otherwise.
AVPixelFormat fallback_format_for(AVPixelFormat format);

// Whether the stored values use the full 0..255 range.
bool full_range_for(AVPixelFormat format, AVColorRange range);

// The colour matrix the host should decode with; unknown matrices follow the
// usual rule (HD and larger: BT.709).
video_colorspace colorspace_for(AVColorSpace space, int32_t height);

#pragma once

#include <cstdint>
#include <optional>

// Where the luma of a pixel sits in plane 0 of a raw frame.
enum luma_layout : int32_t {
    LUMA_PLANE8 = 0,
    LUMA_BGRA = 1,
    LUMA_RGBA = 2,
    LUMA_BGRX = 3,
    LUMA_UYVY = 4,
    LUMA_YUY2 = 5,
    LUMA_YVYU = 6,
};

// Takes the host's `video_format` value as a plain int so that this stays free of host headers.
std::optional<luma_layout> luma_layout_for_format(int format);

// The host's short name of a video format, "None" for values it does not know.
const char *video_format_short_name(int format);

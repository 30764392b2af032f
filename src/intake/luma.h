#pragma once

// Raw frames to the detector's 8-bit grey image: where a pixel's luma sits in plane 0 of each
// host format, and point sampling down to the detection size. Host-free (the host's format enum
// is a plain header enum).
#include <cstdint>
#include <media-io/video-io.h>
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

// The layout of a host format; none for formats the sampler does not read (deeper than 8 bits,
// with alpha, packed 24-bit, or unknown).
std::optional<luma_layout> luma_layout_for_format(video_format format);

// The host's short name of a format value, "None" for values it does not know. Values past the
// host's enum (newer hosts) are named as those hosts name them.
const char *video_format_short_name(int format);

// Grey value of one 4-byte pixel: (77 R + 150 G + 29 B) >> 8, truncated.
uint8_t luma_from_bgr(const uint8_t *pixel);
uint8_t luma_from_rgb(const uint8_t *pixel);

using luma_sampler = uint8_t (*)(const uint8_t *);

// Point-samples plane 0 of a frame into an 8-bit grey image: destination pixel (x, y) takes the
// luma of source pixel (floor(x * src_width / dst_width), floor(y * src_height / dst_height)),
// counting source rows from the bottom when `flip` is set. Writes exactly dst_width bytes of each
// of the dst_height rows. Returns false, having written nothing, when the arguments are refused.
bool downscale_luma(luma_layout layout, uint8_t *dst, int32_t dst_width, int32_t dst_height,
                    int32_t dst_stride, const uint8_t *src, int32_t src_width, int32_t src_height,
                    int32_t src_linesize, bool flip);

// One byte per source pixel.
bool downscale_plane8(uint8_t *dst, int32_t dst_width, int32_t dst_height, int32_t dst_stride,
                      const uint8_t *src, int32_t src_width, int32_t src_height,
                      int32_t src_linesize, bool flip);

// Four bytes per source pixel; `sampler` gives the luma of one pixel.
bool downscale_packed32(uint8_t *dst, int32_t dst_width, int32_t dst_height, int32_t dst_stride,
                        const uint8_t *src, int32_t src_width, int32_t src_height,
                        int32_t src_linesize, luma_sampler sampler, bool flip);

// Four bytes per pair of source pixels; the offsets (0 to 3) locate the luma of the pair's first
// and second pixel within its four bytes.
bool downscale_packed422(uint8_t *dst, int32_t dst_width, int32_t dst_height, int32_t dst_stride,
                         const uint8_t *src, int32_t src_width, int32_t src_height,
                         int32_t src_linesize, int32_t even_offset, int32_t odd_offset, bool flip);

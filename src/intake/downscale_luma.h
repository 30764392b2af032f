#pragma once

#include "intake/luma_layout.h"

#include <cstdint>

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

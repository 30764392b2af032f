#pragma once

#include <cstdint>
#include <span>

// Weights of bytes 0, 1 and 2 of a 4-byte pixel, in 1/256; they add up to 256.
struct luma_weights {
    uint32_t byte0;
    uint32_t byte1;
    uint32_t byte2;
};

inline constexpr luma_weights bgr_weights{29, 150, 77};
inline constexpr luma_weights rgb_weights{77, 150, 29};

inline uint8_t weighted_luma(const uint8_t *pixel, luma_weights weights) {
    return static_cast<uint8_t>(
        (weights.byte0 * pixel[0] + weights.byte1 * pixel[1] + weights.byte2 * pixel[2]) >> 8);
}

// Row kernels for the two column mappings that need no offset table: destination x reads source
// pixel x ("copy") or 2x ("halve"). Each fills `width` destination bytes and reads no further than
// the source pixels it maps to, rounded up to whole 4-byte groups for packed 4:2:2.
struct luma_row_kernels {
    const char *name;
    void (*halve_plane8)(uint8_t *dst, const uint8_t *src, int32_t width);
    void (*halve_packed32)(uint8_t *dst, const uint8_t *src, int32_t width, luma_weights weights);
    void (*copy_packed32)(uint8_t *dst, const uint8_t *src, int32_t width, luma_weights weights);
    // dst[x] = src[4x + offset]
    void (*halve_packed422)(uint8_t *dst, const uint8_t *src, int32_t width, int32_t offset);
    void (*copy_packed422)(uint8_t *dst, const uint8_t *src, int32_t width, int32_t even_offset,
                           int32_t odd_offset);
};

void halve_plane8_portable(uint8_t *dst, const uint8_t *src, int32_t width);
void halve_packed32_portable(uint8_t *dst, const uint8_t *src, int32_t width, luma_weights weights);
void copy_packed32_portable(uint8_t *dst, const uint8_t *src, int32_t width, luma_weights weights);
void halve_packed422_portable(uint8_t *dst, const uint8_t *src, int32_t width, int32_t offset);
void copy_packed422_portable(uint8_t *dst, const uint8_t *src, int32_t width, int32_t even_offset,
                             int32_t odd_offset);

const luma_row_kernels &portable_row_kernels();

// Every kernel set this CPU can run, the fastest last. Defined once per architecture.
std::span<const luma_row_kernels *const> supported_row_kernels();

const luma_row_kernels &fastest_row_kernels();

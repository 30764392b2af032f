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

// Sampled columns are handled a chunk at a time; bounded so that the tables of a chunk live on the
// stack of the host's frame thread.
inline constexpr int32_t table_columns = 512;

// A chunk of sampled bytes in blocks of 16, each block gathered by byte shuffles from `windows`
// consecutive 16-byte loads at its `base`. Only the first `blocks` blocks are planned: their loads
// stay inside the source row; the columns after them are read one by one.
struct shuffle_plan {
    static constexpr int32_t max_blocks = table_columns / 4;
    static constexpr int32_t max_windows = 4;
    int32_t windows = 0;
    int32_t blocks = 0;
    uint32_t base[max_blocks];
    uint8_t masks[max_blocks][max_windows][16];
};

// Plans the gather of `count` samples of `sample_bytes` bytes (1 or 4) at the given byte offsets,
// which never decrease by more than a sample's own group. False when the samples are too spread
// for the largest window or when no block fits inside a row of `row_bytes` bytes.
bool build_shuffle_plan(shuffle_plan &plan, const uint32_t *offsets, int32_t count,
                        int32_t sample_bytes, int64_t row_bytes);

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
    // Any other mapping: dst[i] is the byte, or the luma of the 4-byte pixel, at offsets[i].
    // A set that shuffles uses the plan when one is given; the others ignore it.
    bool shuffles;
    void (*gather_bytes)(uint8_t *dst, const uint8_t *src, const uint32_t *offsets, int32_t count,
                         const shuffle_plan *plan);
    void (*gather_packed32)(uint8_t *dst, const uint8_t *src, const uint32_t *offsets,
                            int32_t count, const shuffle_plan *plan, luma_weights weights);
};

void halve_plane8_portable(uint8_t *dst, const uint8_t *src, int32_t width);
void halve_packed32_portable(uint8_t *dst, const uint8_t *src, int32_t width, luma_weights weights);
void copy_packed32_portable(uint8_t *dst, const uint8_t *src, int32_t width, luma_weights weights);
void halve_packed422_portable(uint8_t *dst, const uint8_t *src, int32_t width, int32_t offset);
void copy_packed422_portable(uint8_t *dst, const uint8_t *src, int32_t width, int32_t even_offset,
                             int32_t odd_offset);

void gather_bytes_portable(uint8_t *dst, const uint8_t *src, const uint32_t *offsets, int32_t count,
                           const shuffle_plan *plan);
void gather_packed32_portable(uint8_t *dst, const uint8_t *src, const uint32_t *offsets,
                              int32_t count, const shuffle_plan *plan, luma_weights weights);

const luma_row_kernels &portable_row_kernels();

// Every kernel set this CPU can run, the fastest last. Defined once per architecture.
std::span<const luma_row_kernels *const> supported_row_kernels();

const luma_row_kernels &fastest_row_kernels();

#include "intake/luma_rows.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

void halve_plane8_portable(uint8_t *dst, const uint8_t *src, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        dst[x] = src[2 * static_cast<size_t>(x)];
    }
}

void halve_packed32_portable(uint8_t *dst, const uint8_t *src, int32_t width,
                             luma_weights weights) {
    for (int32_t x = 0; x < width; ++x) {
        dst[x] = weighted_luma(src + 8 * static_cast<size_t>(x), weights);
    }
}

void copy_packed32_portable(uint8_t *dst, const uint8_t *src, int32_t width, luma_weights weights) {
    for (int32_t x = 0; x < width; ++x) {
        dst[x] = weighted_luma(src + 4 * static_cast<size_t>(x), weights);
    }
}

void halve_packed422_portable(uint8_t *dst, const uint8_t *src, int32_t width, int32_t offset) {
    const uint8_t *luma = src + offset;
    for (int32_t x = 0; x < width; ++x) {
        dst[x] = luma[4 * static_cast<size_t>(x)];
    }
}

void copy_packed422_portable(uint8_t *dst, const uint8_t *src, int32_t width, int32_t even_offset,
                             int32_t odd_offset) {
    int32_t x = 0;
    for (; x + 1 < width; x += 2) {
        const uint8_t *pair = src + 2 * static_cast<size_t>(x);
        dst[x] = pair[even_offset];
        dst[x + 1] = pair[odd_offset];
    }
    if (x < width) {
        dst[x] = src[2 * static_cast<size_t>(x) + static_cast<size_t>(even_offset)];
    }
}

void gather_bytes_portable(uint8_t *dst, const uint8_t *src, const uint32_t *offsets, int32_t count,
                           const shuffle_plan *) {
    for (int32_t i = 0; i < count; ++i) {
        dst[i] = src[offsets[i]];
    }
}

void gather_packed32_portable(uint8_t *dst, const uint8_t *src, const uint32_t *offsets,
                              int32_t count, const shuffle_plan *, luma_weights weights) {
    for (int32_t i = 0; i < count; ++i) {
        dst[i] = weighted_luma(src + offsets[i], weights);
    }
}

bool build_shuffle_plan(shuffle_plan &plan, const uint32_t *offsets, int32_t count,
                        int32_t sample_bytes, int64_t row_bytes) {
    const int32_t per_block = 16 / sample_bytes;
    const int32_t full_blocks = std::min(count / per_block, shuffle_plan::max_blocks);
    plan.windows = 0;
    plan.blocks = 0;
    int64_t widest = 0;
    for (int32_t b = 0; b < full_blocks; ++b) {
        const uint32_t *block = offsets + b * per_block;
        const auto [low, high] = std::minmax_element(block, block + per_block);
        widest = std::max<int64_t>(widest, int64_t{*high} + sample_bytes - *low);
    }
    const int64_t windows = (widest + 15) / 16;
    if (windows < 1 || windows > shuffle_plan::max_windows) {
        return false;
    }
    plan.windows = static_cast<int32_t>(windows);
    for (int32_t b = 0; b < full_blocks; ++b) {
        const uint32_t *block = offsets + b * per_block;
        const uint32_t base = *std::min_element(block, block + per_block);
        if (int64_t{base} + 16 * windows > row_bytes) {
            break;
        }
        plan.base[b] = base;
        std::memset(plan.masks[b], 0x80, sizeof plan.masks[b]);
        for (int32_t i = 0; i < per_block; ++i) {
            for (int32_t k = 0; k < sample_bytes; ++k) {
                const uint32_t at = block[i] - base + static_cast<uint32_t>(k);
                plan.masks[b][at / 16][i * sample_bytes + k] = static_cast<uint8_t>(at % 16);
            }
        }
        plan.blocks = b + 1;
    }
    return plan.blocks > 0;
}

const luma_row_kernels &portable_row_kernels() {
    static constexpr luma_row_kernels kernels{
        "portable",
        halve_plane8_portable,
        halve_packed32_portable,
        copy_packed32_portable,
        halve_packed422_portable,
        copy_packed422_portable,
        false,
        gather_bytes_portable,
        gather_packed32_portable,
    };
    return kernels;
}

const luma_row_kernels &fastest_row_kernels() {
    // Chosen once; the CPU does not change under a running process.
    static const luma_row_kernels &fastest = *supported_row_kernels().back();
    return fastest;
}

#if !defined(__x86_64__)
std::span<const luma_row_kernels *const> supported_row_kernels() {
    static const luma_row_kernels *const sets[] = {&portable_row_kernels()};
    return sets;
}
#endif

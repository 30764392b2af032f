#include "intake/luma_rows.h"

#include <cstddef>

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

const luma_row_kernels &portable_row_kernels() {
    static constexpr luma_row_kernels kernels{
        "portable",
        halve_plane8_portable,
        halve_packed32_portable,
        copy_packed32_portable,
        halve_packed422_portable,
        copy_packed422_portable,
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

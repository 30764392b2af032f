// Row kernels for x86-64: SSE2 is always there, AVX2 is taken when the CPU reports it.
#if defined(__x86_64__)

#include "intake/luma_rows.h"

#include <cstddef>
#include <immintrin.h>

namespace {

inline __m128i load16(const uint8_t *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

inline void store16(uint8_t *p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}

// The two halves of the weighted sum as madd operands: bytes 0 and 2 of each pixel (the masked
// 16-bit lanes) and byte 1 (the shifted ones, whose fourth byte gets weight 0).
inline __m128i outer_weights_sse2(luma_weights w) {
    return _mm_set1_epi32(static_cast<int>(w.byte0 | (w.byte2 << 16)));
}

inline __m128i middle_weight_sse2(luma_weights w) {
    return _mm_set1_epi32(static_cast<int>(w.byte1));
}

// Luma of four 4-byte pixels, one per 32-bit lane. The sum stays below 2^16, so the signed
// 16-bit multiplies are exact.
inline __m128i luma4_sse2(__m128i pixels, __m128i outer_weights, __m128i middle_weight) {
    const __m128i outer = _mm_and_si128(pixels, _mm_set1_epi16(0x00FF));
    const __m128i middle = _mm_srli_epi16(pixels, 8);
    const __m128i sum =
        _mm_add_epi32(_mm_madd_epi16(outer, outer_weights), _mm_madd_epi16(middle, middle_weight));
    return _mm_srli_epi32(sum, 8);
}

// Sixteen bytes from sixteen 32-bit lanes that hold values 0 to 255.
inline __m128i pack_dwords_sse2(__m128i a, __m128i b, __m128i c, __m128i d) {
    return _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
}

// Pixels 0 and 2 of each of two vectors of four.
inline __m128i even_pixels_sse2(const uint8_t *p) {
    return _mm_castps_si128(_mm_shuffle_ps(
        _mm_castsi128_ps(load16(p)), _mm_castsi128_ps(load16(p + 16)), _MM_SHUFFLE(2, 0, 2, 0)));
}

void halve_plane8_sse2(uint8_t *dst, const uint8_t *src, int32_t width) {
    const __m128i low_bytes = _mm_set1_epi16(0x00FF);
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t *p = src + 2 * static_cast<size_t>(x);
        store16(dst + x, _mm_packus_epi16(_mm_and_si128(load16(p), low_bytes),
                                          _mm_and_si128(load16(p + 16), low_bytes)));
    }
    halve_plane8_portable(dst + x, src + 2 * static_cast<size_t>(x), width - x);
}

void halve_packed32_sse2(uint8_t *dst, const uint8_t *src, int32_t width, luma_weights weights) {
    const __m128i outer = outer_weights_sse2(weights);
    const __m128i middle = middle_weight_sse2(weights);
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t *p = src + 8 * static_cast<size_t>(x);
        store16(dst + x, pack_dwords_sse2(luma4_sse2(even_pixels_sse2(p), outer, middle),
                                          luma4_sse2(even_pixels_sse2(p + 32), outer, middle),
                                          luma4_sse2(even_pixels_sse2(p + 64), outer, middle),
                                          luma4_sse2(even_pixels_sse2(p + 96), outer, middle)));
    }
    halve_packed32_portable(dst + x, src + 8 * static_cast<size_t>(x), width - x, weights);
}

void copy_packed32_sse2(uint8_t *dst, const uint8_t *src, int32_t width, luma_weights weights) {
    const __m128i outer = outer_weights_sse2(weights);
    const __m128i middle = middle_weight_sse2(weights);
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t *p = src + 4 * static_cast<size_t>(x);
        store16(dst + x, pack_dwords_sse2(luma4_sse2(load16(p), outer, middle),
                                          luma4_sse2(load16(p + 16), outer, middle),
                                          luma4_sse2(load16(p + 32), outer, middle),
                                          luma4_sse2(load16(p + 48), outer, middle)));
    }
    copy_packed32_portable(dst + x, src + 4 * static_cast<size_t>(x), width - x, weights);
}

void halve_packed422_sse2(uint8_t *dst, const uint8_t *src, int32_t width, int32_t offset) {
    const __m128i shift = _mm_cvtsi32_si128(8 * offset);
    const __m128i low_byte = _mm_set1_epi32(0xFF);
    auto pick = [&](const uint8_t *p) {
        return _mm_and_si128(_mm_srl_epi32(load16(p), shift), low_byte);
    };
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t *p = src + 4 * static_cast<size_t>(x);
        store16(dst + x, pack_dwords_sse2(pick(p), pick(p + 16), pick(p + 32), pick(p + 48)));
    }
    halve_packed422_portable(dst + x, src + 4 * static_cast<size_t>(x), width - x, offset);
}

void copy_packed422_sse2(uint8_t *dst, const uint8_t *src, int32_t width, int32_t even_offset,
                         int32_t odd_offset) {
    const __m128i even_shift = _mm_cvtsi32_si128(8 * even_offset);
    const __m128i odd_shift = _mm_cvtsi32_si128(8 * odd_offset);
    const __m128i low_byte = _mm_set1_epi32(0xFF);
    // Each 4-byte group becomes the 16-bit pair (even luma, odd luma).
    auto pick = [&](const uint8_t *p) {
        const __m128i group = load16(p);
        const __m128i even = _mm_and_si128(_mm_srl_epi32(group, even_shift), low_byte);
        const __m128i odd = _mm_and_si128(_mm_srl_epi32(group, odd_shift), low_byte);
        return _mm_or_si128(even, _mm_slli_epi32(odd, 16));
    };
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t *p = src + 2 * static_cast<size_t>(x);
        store16(dst + x, _mm_packus_epi16(pick(p), pick(p + 16)));
    }
    copy_packed422_portable(dst + x, src + 2 * static_cast<size_t>(x), width - x, even_offset,
                            odd_offset);
}

#define PINVALER_AVX2 __attribute__((target("avx2")))

PINVALER_AVX2 inline __m256i load32(const uint8_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

PINVALER_AVX2 inline void store32(uint8_t *p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}

PINVALER_AVX2 inline __m256i luma8_avx2(__m256i pixels, __m256i outer_weights,
                                        __m256i middle_weight) {
    const __m256i outer = _mm256_and_si256(pixels, _mm256_set1_epi16(0x00FF));
    const __m256i middle = _mm256_srli_epi16(pixels, 8);
    const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(outer, outer_weights),
                                         _mm256_madd_epi16(middle, middle_weight));
    return _mm256_srli_epi32(sum, 8);
}

// Thirty-two bytes in order from four vectors of eight 32-bit lanes holding 0 to 255; the packs
// work per 128-bit half, the final permutation puts the halves back in order.
PINVALER_AVX2 inline __m256i pack_dwords_avx2(__m256i a, __m256i b, __m256i c, __m256i d) {
    const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
    return _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

PINVALER_AVX2 inline __m256i even_pixels_avx2(const uint8_t *p) {
    const __m256 mixed =
        _mm256_shuffle_ps(_mm256_castsi256_ps(load32(p)), _mm256_castsi256_ps(load32(p + 32)),
                          _MM_SHUFFLE(2, 0, 2, 0));
    return _mm256_permutevar8x32_epi32(_mm256_castps_si256(mixed),
                                       _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7));
}

PINVALER_AVX2 void halve_plane8_avx2(uint8_t *dst, const uint8_t *src, int32_t width) {
    const __m256i low_bytes = _mm256_set1_epi16(0x00FF);
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t *p = src + 2 * static_cast<size_t>(x);
        const __m256i packed = _mm256_packus_epi16(_mm256_and_si256(load32(p), low_bytes),
                                                   _mm256_and_si256(load32(p + 32), low_bytes));
        store32(dst + x, _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    halve_plane8_sse2(dst + x, src + 2 * static_cast<size_t>(x), width - x);
}

PINVALER_AVX2 void halve_packed32_avx2(uint8_t *dst, const uint8_t *src, int32_t width,
                                       luma_weights weights) {
    const __m256i outer =
        _mm256_set1_epi32(static_cast<int>(weights.byte0 | (weights.byte2 << 16)));
    const __m256i middle = _mm256_set1_epi32(static_cast<int>(weights.byte1));
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t *p = src + 8 * static_cast<size_t>(x);
        store32(dst + x, pack_dwords_avx2(luma8_avx2(even_pixels_avx2(p), outer, middle),
                                          luma8_avx2(even_pixels_avx2(p + 64), outer, middle),
                                          luma8_avx2(even_pixels_avx2(p + 128), outer, middle),
                                          luma8_avx2(even_pixels_avx2(p + 192), outer, middle)));
    }
    halve_packed32_sse2(dst + x, src + 8 * static_cast<size_t>(x), width - x, weights);
}

PINVALER_AVX2 void copy_packed32_avx2(uint8_t *dst, const uint8_t *src, int32_t width,
                                      luma_weights weights) {
    const __m256i outer =
        _mm256_set1_epi32(static_cast<int>(weights.byte0 | (weights.byte2 << 16)));
    const __m256i middle = _mm256_set1_epi32(static_cast<int>(weights.byte1));
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t *p = src + 4 * static_cast<size_t>(x);
        store32(dst + x, pack_dwords_avx2(luma8_avx2(load32(p), outer, middle),
                                          luma8_avx2(load32(p + 32), outer, middle),
                                          luma8_avx2(load32(p + 64), outer, middle),
                                          luma8_avx2(load32(p + 96), outer, middle)));
    }
    copy_packed32_sse2(dst + x, src + 4 * static_cast<size_t>(x), width - x, weights);
}

PINVALER_AVX2 void halve_packed422_avx2(uint8_t *dst, const uint8_t *src, int32_t width,
                                        int32_t offset) {
    const __m128i shift = _mm_cvtsi32_si128(8 * offset);
    const __m256i low_byte = _mm256_set1_epi32(0xFF);
    auto pick = [&](const uint8_t *p) PINVALER_AVX2 {
        return _mm256_and_si256(_mm256_srl_epi32(load32(p), shift), low_byte);
    };
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t *p = src + 4 * static_cast<size_t>(x);
        store32(dst + x, pack_dwords_avx2(pick(p), pick(p + 32), pick(p + 64), pick(p + 96)));
    }
    halve_packed422_sse2(dst + x, src + 4 * static_cast<size_t>(x), width - x, offset);
}

PINVALER_AVX2 void copy_packed422_avx2(uint8_t *dst, const uint8_t *src, int32_t width,
                                       int32_t even_offset, int32_t odd_offset) {
    const __m128i even_shift = _mm_cvtsi32_si128(8 * even_offset);
    const __m128i odd_shift = _mm_cvtsi32_si128(8 * odd_offset);
    const __m256i low_byte = _mm256_set1_epi32(0xFF);
    auto pick = [&](const uint8_t *p) PINVALER_AVX2 {
        const __m256i group = load32(p);
        const __m256i even = _mm256_and_si256(_mm256_srl_epi32(group, even_shift), low_byte);
        const __m256i odd = _mm256_and_si256(_mm256_srl_epi32(group, odd_shift), low_byte);
        return _mm256_or_si256(even, _mm256_slli_epi32(odd, 16));
    };
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t *p = src + 2 * static_cast<size_t>(x);
        const __m256i packed = _mm256_packus_epi16(pick(p), pick(p + 32));
        store32(dst + x, _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    copy_packed422_sse2(dst + x, src + 2 * static_cast<size_t>(x), width - x, even_offset,
                        odd_offset);
}

// The sampled bytes of one planned block, in order.
template <int windows>
PINVALER_AVX2 inline __m128i shuffle_block(const uint8_t *src, const shuffle_plan &plan,
                                           int32_t block) {
    const uint8_t *p = src + plan.base[block];
    __m128i gathered = _mm_shuffle_epi8(load16(p), load16(plan.masks[block][0]));
    for (int w = 1; w < windows; ++w) {
        gathered = _mm_or_si128(gathered,
                                _mm_shuffle_epi8(load16(p + 16 * w), load16(plan.masks[block][w])));
    }
    return gathered;
}

template <int windows>
PINVALER_AVX2 int32_t shuffle_bytes_avx2(uint8_t *dst, const uint8_t *src,
                                         const shuffle_plan &plan) {
    for (int32_t b = 0; b < plan.blocks; ++b) {
        store16(dst + 16 * b, shuffle_block<windows>(src, plan, b));
    }
    return 16 * plan.blocks;
}

// Blocks of four 4-byte pixels, four blocks to a store.
template <int windows>
PINVALER_AVX2 int32_t shuffle_packed32_avx2(uint8_t *dst, const uint8_t *src,
                                            const shuffle_plan &plan, luma_weights weights) {
    const __m128i outer = outer_weights_sse2(weights);
    const __m128i middle = middle_weight_sse2(weights);
    int32_t b = 0;
    for (; b + 4 <= plan.blocks; b += 4) {
        store16(
            dst + 4 * b,
            pack_dwords_sse2(luma4_sse2(shuffle_block<windows>(src, plan, b), outer, middle),
                             luma4_sse2(shuffle_block<windows>(src, plan, b + 1), outer, middle),
                             luma4_sse2(shuffle_block<windows>(src, plan, b + 2), outer, middle),
                             luma4_sse2(shuffle_block<windows>(src, plan, b + 3), outer, middle)));
    }
    return 4 * b;
}

PINVALER_AVX2 void gather_bytes_avx2(uint8_t *dst, const uint8_t *src, const uint32_t *offsets,
                                     int32_t count, const shuffle_plan *plan) {
    int32_t done = 0;
    switch (plan != nullptr ? plan->windows : 0) {
    case 1:
        done = shuffle_bytes_avx2<1>(dst, src, *plan);
        break;
    case 2:
        done = shuffle_bytes_avx2<2>(dst, src, *plan);
        break;
    case 3:
        done = shuffle_bytes_avx2<3>(dst, src, *plan);
        break;
    case 4:
        done = shuffle_bytes_avx2<4>(dst, src, *plan);
        break;
    default:
        break;
    }
    gather_bytes_portable(dst + done, src, offsets + done, count - done, nullptr);
}

PINVALER_AVX2 void gather_packed32_avx2(uint8_t *dst, const uint8_t *src, const uint32_t *offsets,
                                        int32_t count, const shuffle_plan *plan,
                                        luma_weights weights) {
    int32_t done = 0;
    switch (plan != nullptr ? plan->windows : 0) {
    case 1:
        done = shuffle_packed32_avx2<1>(dst, src, *plan, weights);
        break;
    case 2:
        done = shuffle_packed32_avx2<2>(dst, src, *plan, weights);
        break;
    case 3:
        done = shuffle_packed32_avx2<3>(dst, src, *plan, weights);
        break;
    case 4:
        done = shuffle_packed32_avx2<4>(dst, src, *plan, weights);
        break;
    default:
        break;
    }
    gather_packed32_portable(dst + done, src, offsets + done, count - done, nullptr, weights);
}

constexpr luma_row_kernels sse2_kernels{
    "sse2",
    halve_plane8_sse2,
    halve_packed32_sse2,
    copy_packed32_sse2,
    halve_packed422_sse2,
    copy_packed422_sse2,
    false,
    gather_bytes_portable,
    gather_packed32_portable,
};

constexpr luma_row_kernels avx2_kernels{
    "avx2",
    halve_plane8_avx2,
    halve_packed32_avx2,
    copy_packed32_avx2,
    halve_packed422_avx2,
    copy_packed422_avx2,
    true,
    gather_bytes_avx2,
    gather_packed32_avx2,
};

struct kernel_list {
    const luma_row_kernels *sets[3];
    size_t count;
};

kernel_list detect_kernels() {
    __builtin_cpu_init();
    kernel_list list{{&portable_row_kernels(), &sse2_kernels, nullptr}, 2};
    if (__builtin_cpu_supports("avx2")) {
        list.sets[list.count++] = &avx2_kernels;
    }
    return list;
}

} // namespace

std::span<const luma_row_kernels *const> supported_row_kernels() {
    static const kernel_list list = detect_kernels();
    return {list.sets, list.count};
}

#endif

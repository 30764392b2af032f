#include "intake/luma.h"
#include "intake/luma_rows.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

uint8_t luma_from_bgr(const uint8_t *pixel) {
    return weighted_luma(pixel, bgr_weights);
}

uint8_t luma_from_rgb(const uint8_t *pixel) {
    return weighted_luma(pixel, rgb_weights);
}

namespace {

constexpr int32_t max_packed32_width = 536'870'911;
constexpr int32_t max_packed422_width = 1'073'741'823;

// `row_bytes` is the least source pitch that holds one row, formed in 64 bits by the caller.
bool arguments_fit(const uint8_t *dst, int32_t dst_width, int32_t dst_height, int32_t dst_stride,
                   const uint8_t *src, int32_t src_width, int32_t src_height, int32_t src_linesize,
                   int64_t row_bytes) {
    return dst != nullptr && src != nullptr && dst_width >= 1 && dst_height >= 1 &&
           src_width >= 1 && src_height >= 1 && dst_stride >= dst_width &&
           static_cast<int64_t>(src_linesize) >= row_bytes;
}

// floor(i * source / destination) for i = 0, 1, 2, ... by a running remainder: no division per
// step, and exact because the remainder stays below `destination`.
class sample_walk {
public:
    sample_walk(int32_t source, int32_t destination)
        : step_(source / destination), rest_(source % destination), destination_(destination) {}

    int64_t next() {
        const int64_t current = index_;
        index_ += step_;
        carry_ += rest_;
        if (carry_ >= destination_) {
            carry_ -= destination_;
            ++index_;
        }
        return current;
    }

private:
    int64_t step_;
    int64_t rest_;
    int64_t destination_;
    int64_t index_ = 0;
    int64_t carry_ = 0;
};

// Hands each destination row to `fill` with the start of the source row it samples. Flipped
// frames are stored bottom-up, so their sampled rows are counted from the last one.
template <typename Fill>
void for_each_row(uint8_t *dst, int32_t dst_height, int32_t dst_stride, const uint8_t *src,
                  int32_t src_height, int32_t src_linesize, bool flip, Fill &&fill) {
    const ptrdiff_t pitch = flip ? -static_cast<ptrdiff_t>(src_linesize) : src_linesize;
    const uint8_t *first = flip ? src + static_cast<ptrdiff_t>(src_height - 1) * src_linesize : src;
    sample_walk rows(src_height, dst_height);
    for (int32_t y = 0; y < dst_height; ++y) {
        fill(dst + static_cast<ptrdiff_t>(y) * dst_stride,
             first + static_cast<ptrdiff_t>(rows.next()) * pitch);
    }
}

enum class column_map { copy, halve, table };

// floor(x * (q * dw + r) / dw) = q * x + floor(x * r / dw), and x * r < dw for every x < dw when
// r is 0 or 1: such widths read source column x or 2x with no table.
column_map column_map_for(int32_t src_width, int32_t dst_width) {
    const int32_t step = src_width / dst_width;
    const int32_t rest = src_width % dst_width;
    if (rest <= 1 && step == 1) {
        return column_map::copy;
    }
    if (rest <= 1 && step == 2) {
        return column_map::halve;
    }
    return column_map::table;
}

// General widths: the byte offset of each sampled column within a source row, a chunk of columns
// at a time; `gather` fills one destination row chunk from them. Where the kernels shuffle, each
// chunk is planned once for all rows; `sample_bytes` is 1 for byte samples, 4 for 4-byte pixels
// and 0 for no plan.
template <typename ByteOffset, typename Gather>
void downscale_by_table(uint8_t *dst, int32_t dst_width, int32_t dst_height, int32_t dst_stride,
                        const uint8_t *src, int32_t src_width, int32_t src_height,
                        int32_t src_linesize, bool flip, int64_t row_bytes, int32_t sample_bytes,
                        ByteOffset byte_offset, Gather gather) {
    uint32_t offsets[table_columns];
    shuffle_plan plan;
    const bool shuffles = sample_bytes > 0 && fastest_row_kernels().shuffles;
    sample_walk columns(src_width, dst_width);
    for (int32_t x0 = 0; x0 < dst_width; x0 += table_columns) {
        const int32_t count = std::min(table_columns, dst_width - x0);
        for (int32_t i = 0; i < count; ++i) {
            offsets[i] = byte_offset(columns.next());
        }
        const shuffle_plan *planned =
            shuffles && build_shuffle_plan(plan, offsets, count, sample_bytes, row_bytes) ? &plan
                                                                                          : nullptr;
        for_each_row(dst + x0, dst_height, dst_stride, src, src_height, src_linesize, flip,
                     [&](uint8_t *dst_row, const uint8_t *src_row) {
                         gather(dst_row, src_row, offsets, count, planned);
                     });
    }
}

uint32_t plane8_offset(int64_t column) {
    return static_cast<uint32_t>(column);
}

uint32_t packed32_offset(int64_t column) {
    return static_cast<uint32_t>(4 * column);
}

void downscale_weighted(uint8_t *dst, int32_t dst_width, int32_t dst_height, int32_t dst_stride,
                        const uint8_t *src, int32_t src_width, int32_t src_height,
                        int32_t src_linesize, luma_weights weights, bool flip) {
    const luma_row_kernels &kernels = fastest_row_kernels();
    switch (column_map_for(src_width, dst_width)) {
    case column_map::copy:
        for_each_row(dst, dst_height, dst_stride, src, src_height, src_linesize, flip,
                     [&](uint8_t *dst_row, const uint8_t *src_row) {
                         kernels.copy_packed32(dst_row, src_row, dst_width, weights);
                     });
        break;
    case column_map::halve:
        for_each_row(dst, dst_height, dst_stride, src, src_height, src_linesize, flip,
                     [&](uint8_t *dst_row, const uint8_t *src_row) {
                         kernels.halve_packed32(dst_row, src_row, dst_width, weights);
                     });
        break;
    case column_map::table:
        downscale_by_table(dst, dst_width, dst_height, dst_stride, src, src_width, src_height,
                           src_linesize, flip, 4 * int64_t{src_width}, 4, packed32_offset,
                           [&](uint8_t *dst_row, const uint8_t *src_row, const uint32_t *offsets,
                               int32_t count, const shuffle_plan *planned) {
                               kernels.gather_packed32(dst_row, src_row, offsets, count, planned,
                                                       weights);
                           });
        break;
    }
}

} // namespace

bool downscale_plane8(uint8_t *dst, int32_t dst_width, int32_t dst_height, int32_t dst_stride,
                      const uint8_t *src, int32_t src_width, int32_t src_height,
                      int32_t src_linesize, bool flip) {
    if (!arguments_fit(dst, dst_width, dst_height, dst_stride, src, src_width, src_height,
                       src_linesize, src_width)) {
        return false;
    }
    const luma_row_kernels &kernels = fastest_row_kernels();
    switch (column_map_for(src_width, dst_width)) {
    case column_map::copy:
        for_each_row(dst, dst_height, dst_stride, src, src_height, src_linesize, flip,
                     [&](uint8_t *dst_row, const uint8_t *src_row) {
                         std::memcpy(dst_row, src_row, static_cast<size_t>(dst_width));
                     });
        break;
    case column_map::halve:
        for_each_row(dst, dst_height, dst_stride, src, src_height, src_linesize, flip,
                     [&](uint8_t *dst_row, const uint8_t *src_row) {
                         kernels.halve_plane8(dst_row, src_row, dst_width);
                     });
        break;
    case column_map::table:
        downscale_by_table(dst, dst_width, dst_height, dst_stride, src, src_width, src_height,
                           src_linesize, flip, src_width, 1, plane8_offset, kernels.gather_bytes);
        break;
    }
    return true;
}

bool downscale_packed32(uint8_t *dst, int32_t dst_width, int32_t dst_height, int32_t dst_stride,
                        const uint8_t *src, int32_t src_width, int32_t src_height,
                        int32_t src_linesize, luma_sampler sampler, bool flip) {
    if (sampler == nullptr || src_width > max_packed32_width ||
        !arguments_fit(dst, dst_width, dst_height, dst_stride, src, src_width, src_height,
                       src_linesize, 4 * int64_t{src_width})) {
        return false;
    }
    // The two known samplers run inline (and vectorised); any other goes through its pointer.
    if (sampler == luma_from_bgr || sampler == luma_from_rgb) {
        downscale_weighted(dst, dst_width, dst_height, dst_stride, src, src_width, src_height,
                           src_linesize, sampler == luma_from_bgr ? bgr_weights : rgb_weights,
                           flip);
    } else {
        downscale_by_table(dst, dst_width, dst_height, dst_stride, src, src_width, src_height,
                           src_linesize, flip, 4 * int64_t{src_width}, 0, packed32_offset,
                           [sampler](uint8_t *dst_row, const uint8_t *src_row,
                                     const uint32_t *offsets, int32_t count, const shuffle_plan *) {
                               for (int32_t i = 0; i < count; ++i) {
                                   dst_row[i] = sampler(src_row + offsets[i]);
                               }
                           });
    }
    return true;
}

bool downscale_packed422(uint8_t *dst, int32_t dst_width, int32_t dst_height, int32_t dst_stride,
                         const uint8_t *src, int32_t src_width, int32_t src_height,
                         int32_t src_linesize, int32_t even_offset, int32_t odd_offset, bool flip) {
    const int64_t row_bytes = 4 * ((int64_t{src_width} + 1) / 2);
    if (even_offset < 0 || even_offset > 3 || odd_offset < 0 || odd_offset > 3 ||
        src_width > max_packed422_width ||
        !arguments_fit(dst, dst_width, dst_height, dst_stride, src, src_width, src_height,
                       src_linesize, row_bytes)) {
        return false;
    }
    const luma_row_kernels &kernels = fastest_row_kernels();
    switch (column_map_for(src_width, dst_width)) {
    case column_map::copy:
        for_each_row(dst, dst_height, dst_stride, src, src_height, src_linesize, flip,
                     [&](uint8_t *dst_row, const uint8_t *src_row) {
                         kernels.copy_packed422(dst_row, src_row, dst_width, even_offset,
                                                odd_offset);
                     });
        break;
    case column_map::halve:
        // Column 2x is always the first pixel of its pair.
        for_each_row(dst, dst_height, dst_stride, src, src_height, src_linesize, flip,
                     [&](uint8_t *dst_row, const uint8_t *src_row) {
                         kernels.halve_packed422(dst_row, src_row, dst_width, even_offset);
                     });
        break;
    case column_map::table:
        downscale_by_table(
            dst, dst_width, dst_height, dst_stride, src, src_width, src_height, src_linesize, flip,
            row_bytes, 1,
            [even_offset, odd_offset](int64_t column) {
                const int64_t within = (column & 1) != 0 ? odd_offset : even_offset;
                return static_cast<uint32_t>(4 * (column >> 1) + within);
            },
            kernels.gather_bytes);
        break;
    }
    return true;
}

bool downscale_luma(luma_layout layout, uint8_t *dst, int32_t dst_width, int32_t dst_height,
                    int32_t dst_stride, const uint8_t *src, int32_t src_width, int32_t src_height,
                    int32_t src_linesize, bool flip) {
    switch (layout) {
    case LUMA_PLANE8:
        return downscale_plane8(dst, dst_width, dst_height, dst_stride, src, src_width, src_height,
                                src_linesize, flip);
    case LUMA_BGRA:
    case LUMA_BGRX:
        return downscale_packed32(dst, dst_width, dst_height, dst_stride, src, src_width,
                                  src_height, src_linesize, luma_from_bgr, flip);
    case LUMA_RGBA:
        return downscale_packed32(dst, dst_width, dst_height, dst_stride, src, src_width,
                                  src_height, src_linesize, luma_from_rgb, flip);
    case LUMA_UYVY:
        return downscale_packed422(dst, dst_width, dst_height, dst_stride, src, src_width,
                                   src_height, src_linesize, 1, 3, flip);
    case LUMA_YUY2:
    case LUMA_YVYU:
        return downscale_packed422(dst, dst_width, dst_height, dst_stride, src, src_width,
                                   src_height, src_linesize, 0, 2, flip);
    }
    return false;
}

std::optional<luma_layout> luma_layout_for_format(video_format format) {
    switch (format) {
    case VIDEO_FORMAT_I420:
    case VIDEO_FORMAT_NV12:
    case VIDEO_FORMAT_Y800:
    case VIDEO_FORMAT_I444:
    case VIDEO_FORMAT_I422:
        return LUMA_PLANE8;
    case VIDEO_FORMAT_BGRA:
        return LUMA_BGRA;
    case VIDEO_FORMAT_RGBA:
        return LUMA_RGBA;
    case VIDEO_FORMAT_BGRX:
        return LUMA_BGRX;
    case VIDEO_FORMAT_UYVY:
        return LUMA_UYVY;
    case VIDEO_FORMAT_YUY2:
        return LUMA_YUY2;
    case VIDEO_FORMAT_YVYU:
        return LUMA_YVYU;
    default:
        // Alpha, 24-bit packed and deeper-than-8-bit formats stay unsupported.
        return std::nullopt;
    }
}

const char *video_format_short_name(int format) {
    static constexpr std::array<const char *, 26> names = {
        "None", "I420", "NV12", "YVYU", "YUY2", "UYVY", "RGBA", "BGRA", "BGRX",
        "Y800", "I444", "BGR3", "I422", "I40A", "I42A", "YUVA", "AYUV", "I010",
        "P010", "I210", "I412", "YA2L", "P216", "P416", "v210", "R10l",
    };
    if (format < 0 || format >= static_cast<int>(names.size()))
        return names[0];
    return names[static_cast<size_t>(format)];
}

#include "host_frame.h"

#include <cstring>

namespace {

struct format_layout {
    int luma_bytes;   // bytes of one luma sample (1 or 2)
    int luma_shift;   // where an 8-bit value sits in a 2-byte sample
    int pixel_bytes;  // bytes per pixel in plane 0 (0: two pixels share 4 bytes)
    int luma_offset;  // byte of the luma within a pixel (or of the first of a pair)
    bool half_height; // planes 1 and 2 hold half the rows
    uint16_t neutral; // every other sample: mid chroma, or opaque for RGB
    uint16_t opaque;  // a sample of an alpha plane
};

format_layout layout_of(int format) {
    switch (format) {
    case VIDEO_FORMAT_I420:
    case VIDEO_FORMAT_NV12:
    case VIDEO_FORMAT_I40A:
        return {1, 0, 1, 0, true, 128, 255};
    case VIDEO_FORMAT_Y800:
    case VIDEO_FORMAT_I444:
    case VIDEO_FORMAT_I422:
    case VIDEO_FORMAT_I42A:
    case VIDEO_FORMAT_YUVA:
        return {1, 0, 1, 0, false, 128, 255};
    case VIDEO_FORMAT_YVYU:
    case VIDEO_FORMAT_YUY2:
        return {1, 0, 0, 0, false, 128, 255};
    case VIDEO_FORMAT_UYVY:
        return {1, 0, 0, 1, false, 128, 255};
    case VIDEO_FORMAT_RGBA:
    case VIDEO_FORMAT_BGRA:
    case VIDEO_FORMAT_BGRX:
        return {1, 0, 4, 0, false, 255, 255};
    case VIDEO_FORMAT_BGR3:
        return {1, 0, 3, 0, false, 128, 255};
    case VIDEO_FORMAT_AYUV:
        return {1, 0, 4, 1, false, 128, 255};
    case VIDEO_FORMAT_I010:
        return {2, 2, 2, 0, true, 512, 1023};
    case VIDEO_FORMAT_P010:
        return {2, 8, 2, 0, true, 0x8000, 0xffc0};
    case VIDEO_FORMAT_I210:
        return {2, 2, 2, 0, false, 512, 1023};
    case VIDEO_FORMAT_I412:
    case VIDEO_FORMAT_YA2L:
        return {2, 4, 2, 0, false, 2048, 4095};
    default:
        return {0, 0, 0, 0, false, 0, 0};
    }
}

void store(uint8_t *at, int bytes, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    if (bytes == 2)
        at[1] = static_cast<uint8_t>(value >> 8);
}

// Every byte or sample of plane 0 that is not luma gets the neutral value
// first; RGB formats are neutral at 255, which also makes them opaque.
void fill_plane0(obs_source_frame &frame, const format_layout &layout, const gray_image &picture) {
    for (uint32_t y = 0; y < frame.height; ++y) {
        uint8_t *row = frame.data[0] + static_cast<size_t>(y) * frame.linesize[0];
        for (uint32_t i = 0; i < frame.linesize[0]; i += static_cast<uint32_t>(layout.luma_bytes))
            store(row + i, layout.luma_bytes, layout.neutral);
        for (uint32_t x = 0; x < frame.width; ++x) {
            const uint8_t grey = picture.at(static_cast<int>(x), static_cast<int>(y));
            const uint16_t value = static_cast<uint16_t>(grey << layout.luma_shift);
            if (layout.pixel_bytes == 0) {
                row[2 * x + static_cast<uint32_t>(layout.luma_offset)] = grey;
            } else if (layout.pixel_bytes >= 3 && layout.luma_offset == 0) {
                std::memset(row + x * static_cast<uint32_t>(layout.pixel_bytes), grey, 3);
            } else {
                store(row + x * static_cast<uint32_t>(layout.pixel_bytes) +
                          static_cast<uint32_t>(layout.luma_offset),
                      layout.luma_bytes, value);
            }
        }
    }
}

} // namespace

bool host_knows_format(int format) {
    return format >= VIDEO_FORMAT_NONE && format <= VIDEO_FORMAT_YA2L;
}

host_frame::host_frame(int format, const gray_image &picture) {
    const uint32_t width = static_cast<uint32_t>(picture.width);
    const uint32_t height = static_cast<uint32_t>(picture.height);
    const auto host_format = static_cast<video_format>(format);
    obs_source_frame_init(&frame_, host_format, width, height);
    frame_.format = host_format;
    frame_.width = width;
    frame_.height = height;
    const format_layout layout = layout_of(format);
    if (!frame_.data[0] || layout.luma_bytes == 0)
        return;

    fill_plane0(frame_, layout, picture);
    for (int plane = 1; plane < MAX_AV_PLANES && frame_.data[plane]; ++plane) {
        const bool alpha = plane == 3;
        const uint32_t rows = layout.half_height && plane < 3 ? (height + 1) / 2 : height;
        for (uint32_t y = 0; y < rows; ++y) {
            uint8_t *row = frame_.data[plane] + static_cast<size_t>(y) * frame_.linesize[plane];
            for (uint32_t i = 0; i < frame_.linesize[plane];
                 i += static_cast<uint32_t>(layout.luma_bytes))
                store(row + i, layout.luma_bytes, alpha ? layout.opaque : layout.neutral);
        }
    }
    frame_.full_range = !format_is_yuv(host_format);
    if (format_is_yuv(host_format))
        video_format_get_parameters_for_format(VIDEO_CS_709, VIDEO_RANGE_PARTIAL, host_format,
                                               frame_.color_matrix, frame_.color_range_min,
                                               frame_.color_range_max);
}

// Frames as capture hardware and decoders might hand them over: any format value,
// size, pitch and flip, over a plane exactly as large as the frame claims.
// Arguments that pass the checks must be converted without reading outside the
// plane; the rest must be refused without writing anything.
#include "intake/downscale_luma.h"
#include "intake/luma_layout.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct reader {
    const uint8_t *data;
    size_t size;
    template <typename T>
    T take() {
        T value{};
        const size_t n = size < sizeof(T) ? size : sizeof(T);
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

int32_t bytes_per_row(luma_layout layout, int32_t width) {
    switch (layout) {
    case LUMA_PLANE8:
        return width;
    case LUMA_UYVY:
    case LUMA_YUY2:
    case LUMA_YVYU:
        return 4 * ((width + 1) / 2);
    default:
        return 4 * width;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    reader in{data, size};
    const int format = in.take<uint8_t>() % 32;
    // Small sizes keep runs fast; the signed bounds are exercised through the pitch.
    const int32_t src_width = in.take<int16_t>() % 97;
    const int32_t src_height = in.take<int16_t>() % 61;
    const int32_t dst_width = in.take<int16_t>() % 80;
    const int32_t dst_height = in.take<int16_t>() % 50;
    const int32_t pitch_slack = in.take<int8_t>();
    const int32_t dst_slack = in.take<uint8_t>() % 4;
    const bool flip = in.take<uint8_t>() & 1;

    const std::optional<luma_layout> layout = luma_layout_for_format(format);
    // Unsupported formats are passed on as raw layout values, most of them unknown ones.
    const luma_layout use = layout ? *layout : static_cast<luma_layout>(format);
    const int32_t row = bytes_per_row(use, src_width < 0 ? 0 : src_width);
    const int32_t linesize = row + pitch_slack;

    // The plane holds exactly the rows the frame claims, no byte more.
    size_t plane_size = 0;
    if (src_width > 0 && src_height > 0 && linesize >= row)
        plane_size = static_cast<size_t>(linesize) * (src_height - 1) + row;
    std::vector<uint8_t> plane_bytes(plane_size);
    for (size_t i = 0; i < plane_size; ++i)
        plane_bytes[i] = in.size ? in.take<uint8_t>() : static_cast<uint8_t>(i);
    uint8_t *plane = plane_size ? static_cast<uint8_t *>(std::malloc(plane_size)) : nullptr;
    if (plane)
        std::memcpy(plane, plane_bytes.data(), plane_size);

    const int32_t dst_stride = dst_width + dst_slack;
    const size_t dst_size =
        dst_width > 0 && dst_height > 0 ? static_cast<size_t>(dst_stride) * dst_height : 1;
    std::vector<uint8_t> dst(dst_size, 0xA5);
    const bool converted =
        downscale_luma(use, dst.data(), dst_width, dst_height, dst_stride,
                       plane ? plane : plane_bytes.data(), src_width, src_height, linesize, flip);
    if (!converted) {
        for (uint8_t byte : dst)
            if (byte != 0xA5)
                std::abort(); // a refused call wrote to the destination
    } else {
        const bool known_layout = use >= LUMA_PLANE8 && use <= LUMA_YVYU;
        if (!known_layout || dst_width < 1 || dst_height < 1 || src_width < 1 || src_height < 1)
            std::abort(); // accepted what it must refuse
        for (int32_t y = 0; y < dst_height; ++y)
            for (int32_t x = dst_width; x < dst_stride; ++x)
                if (dst[static_cast<size_t>(y) * dst_stride + x] != 0xA5)
                    std::abort(); // wrote between the width and the stride
    }
    std::free(plane);
    return 0;
}

// Frames as capture hardware and decoders might hand them over: any format value,
// size, pitch and flip, over a plane exactly as large as the frame claims, so that
// the address sanitizer sees any read outside it. Accepted calls write exactly the
// destination width of each row; refused ones write nothing.
#include "intake/luma.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#pragma pack(push, 1)
struct frame_header {
    uint8_t format;
    int16_t src_w, src_h, dst_w, dst_h;
    int8_t pitch_slack;
    uint8_t dst_slack, flip;
};
#pragma pack(pop)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    frame_header h{};
    const size_t used = size < sizeof h ? size : sizeof h;
    std::memcpy(&h, data, used);
    // Small sizes keep runs fast; the signed bounds are exercised through the pitch.
    const int32_t src_w = h.src_w % 97, src_h = h.src_h % 61, dst_w = h.dst_w % 80;
    const int32_t dst_h = h.dst_h % 50, dst_stride = dst_w + h.dst_slack % 4,
                  format = h.format % 32;
    // Unsupported formats are passed on as raw layout values, most of them unknown ones.
    const auto layout = luma_layout_for_format(static_cast<video_format>(format))
                            .value_or(static_cast<luma_layout>(format));
    const bool known = layout >= LUMA_PLANE8 && layout <= LUMA_YVYU;
    const int32_t w = src_w < 0 ? 0 : src_w;
    const int32_t row = layout == LUMA_PLANE8          ? w
                        : known && layout >= LUMA_UYVY ? 4 * ((w + 1) / 2)
                                                       : 4 * w;
    const int32_t linesize = row + h.pitch_slack;

    std::vector<uint8_t> plane;
    if (src_w > 0 && src_h > 0 && linesize >= row)
        plane.resize(static_cast<size_t>(linesize) * (src_h - 1) + row);
    for (size_t i = 0; i < plane.size(); ++i)
        plane[i] = used + i < size ? data[used + i] : static_cast<uint8_t>(i);
    std::vector<uint8_t> dst(dst_w > 0 && dst_h > 0 ? static_cast<size_t>(dst_stride) * dst_h : 1,
                             0xA5);
    if (!downscale_luma(layout, dst.data(), dst_w, dst_h, dst_stride, plane.data(), src_w, src_h,
                        linesize, h.flip & 1)) {
        for (uint8_t byte : dst)
            if (byte != 0xA5)
                std::abort(); // a refused call wrote to the destination
        return 0;
    }
    if (!known || dst_w < 1 || dst_h < 1 || src_w < 1 || src_h < 1)
        std::abort(); // accepted what it must refuse
    for (int32_t y = 0; y < dst_h; ++y)
        for (int32_t x = dst_w; x < dst_stride; ++x)
            if (dst[static_cast<size_t>(y) * dst_stride + x] != 0xA5)
                std::abort(); // wrote between the width and the stride
    return 0;
}

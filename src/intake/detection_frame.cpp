#include "intake/detection_frame.h"

#include <cstddef>
#include <limits>

bool ensure_detection_frame(detection_frame *frame, int32_t width, int32_t height) {
    if (!frame || width < 1 || height < 1)
        return false;
    const uint64_t w = static_cast<uint64_t>(width);
    const uint64_t h = static_cast<uint64_t>(height);
    if (h > std::numeric_limits<uint64_t>::max() / w || w * h > std::numeric_limits<size_t>::max())
        return false;
    if (frame->data && frame->width == width && frame->height == height && frame->stride == width)
        return true;

    auto *data = static_cast<uint8_t *>(bzalloc(static_cast<size_t>(w * h)));
    if (!data)
        return false;
    bfree(frame->data);
    *frame = detection_frame{data, width, height, width, 0, 0, 0};
    return true;
}

detection_size detection_size_for(int32_t source_width, int32_t source_height,
                                  int32_t detect_width) {
    const int32_t dw = detect_width < 1 ? 1 : detect_width;
    const int32_t width = source_width < dw ? source_width : dw;
    int64_t height = static_cast<int64_t>(width) * source_height / source_width;
    if (height < 1)
        height = 1;
    return {width, static_cast<int32_t>(height)};
}

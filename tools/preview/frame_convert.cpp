#include "frame_convert.h"

#include "intake/luma.h"

#include <algorithm>
#include <optional>

namespace {

void rgba_target(rgba_image &out, int32_t width, int32_t height) {
    if (out.width != width || out.height != height)
        out = rgba_image(width, height);
}

AVPixelFormat av_format_of(const feed_frame &frame) {
    return static_cast<AVPixelFormat>(frame.frame->format);
}

} // namespace

bool frame_to_rgba(const feed_frame &frame, int32_t width, int32_t height, sws_ptr &scaler,
                   rgba_image &out) {
    const AVFrame *in = frame.frame;
    scaler.reset(sws_getCachedContext(scaler.release(), in->width, in->height, av_format_of(frame),
                                      width, height, AV_PIX_FMT_RGBA, SWS_AREA, nullptr, nullptr,
                                      nullptr));
    if (!scaler)
        return false;
    const int matrix = frame.colorspace == VIDEO_CS_601 ? SWS_CS_ITU601 : SWS_CS_ITU709;
    sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(matrix), frame.full_range ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    rgba_target(out, width, height);
    uint8_t *planes[1] = {out.pixels.data()};
    const int strides[1] = {4 * width};
    sws_scale(scaler.get(), in->data, in->linesize, 0, in->height, planes, strides);
    return true;
}

bool picture_to_rgba(const AVFrame *frame, sws_ptr &scaler, rgba_image &out) {
    scaler.reset(sws_getCachedContext(
        scaler.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
        frame->width, frame->height, AV_PIX_FMT_RGBA, SWS_POINT, nullptr, nullptr, nullptr));
    if (!scaler)
        return false;
    rgba_target(out, frame->width, frame->height);
    uint8_t *planes[1] = {out.pixels.data()};
    const int strides[1] = {4 * frame->width};
    sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
    return true;
}

bool detection_luma(const feed_frame &frame, int32_t detect_width, grey_image &out) {
    const AVFrame *in = frame.frame;
    const int32_t w = in->width;
    const int32_t h = in->height;
    const std::optional<luma_layout> layout = luma_layout_for_format(frame.format);
    if (w < 1 || h < 1 || !layout)
        return false;
    const int32_t dw = std::min(w, std::max(detect_width, 1));
    const int32_t dh = std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(dw) * h / w));
    out.width = dw;
    out.height = dh;
    out.pixels.resize(static_cast<size_t>(dw) * dh);
    return downscale_luma(*layout, out.pixels.data(), dw, dh, dw, in->data[0], w, h,
                          in->linesize[0], false);
}

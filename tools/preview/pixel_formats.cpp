#include "pixel_formats.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

video_format host_format_for(AVPixelFormat format) {
    switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
        return VIDEO_FORMAT_I420;
    case AV_PIX_FMT_NV12:
        return VIDEO_FORMAT_NV12;
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
        return VIDEO_FORMAT_I422;
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
        return VIDEO_FORMAT_I444;
    case AV_PIX_FMT_GRAY8:
        return VIDEO_FORMAT_Y800;
    case AV_PIX_FMT_YUYV422:
        return VIDEO_FORMAT_YUY2;
    case AV_PIX_FMT_UYVY422:
        return VIDEO_FORMAT_UYVY;
    case AV_PIX_FMT_YVYU422:
        return VIDEO_FORMAT_YVYU;
    case AV_PIX_FMT_BGRA:
        return VIDEO_FORMAT_BGRA;
    case AV_PIX_FMT_RGBA:
        return VIDEO_FORMAT_RGBA;
    case AV_PIX_FMT_BGR0:
        return VIDEO_FORMAT_BGRX;
    default:
        return VIDEO_FORMAT_NONE;
    }
}

AVPixelFormat fallback_format_for(AVPixelFormat format) {
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    if (descriptor != nullptr &&
        (descriptor->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_ALPHA)) != 0)
        return AV_PIX_FMT_BGRA;
    return AV_PIX_FMT_NV12;
}

bool full_range_for(AVPixelFormat format, AVColorRange range) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_GRAY8:
        return true;
    default:
        return range == AVCOL_RANGE_JPEG;
    }
}

video_colorspace colorspace_for(AVColorSpace space, int32_t height) {
    switch (space) {
    case AVCOL_SPC_BT709:
        return VIDEO_CS_709;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_FCC:
        return VIDEO_CS_601;
    default:
        return height >= 720 ? VIDEO_CS_709 : VIDEO_CS_601;
    }
}

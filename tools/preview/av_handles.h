#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

// One owner per FFmpeg object, released by the library's own call.
struct av_input_release {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct av_codec_release {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct av_frame_release {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct av_packet_release {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct sws_release {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};

using av_input_ptr = std::unique_ptr<AVFormatContext, av_input_release>;
using av_codec_ptr = std::unique_ptr<AVCodecContext, av_codec_release>;
using av_frame_ptr = std::unique_ptr<AVFrame, av_frame_release>;
using av_packet_ptr = std::unique_ptr<AVPacket, av_packet_release>;
using sws_ptr = std::unique_ptr<SwsContext, sws_release>;

inline av_frame_ptr make_av_frame() {
    return av_frame_ptr(av_frame_alloc());
}

// FFmpeg's message for an error code.
inline std::string av_error_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

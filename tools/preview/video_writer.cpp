#include "video_writer.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

extern "C" {
#include <libavutil/opt.h>
}

void av_output_release::operator()(AVFormatContext *context) const {
    if (context->pb != nullptr && !(context->oformat->flags & AVFMT_NOFILE))
        avio_closep(&context->pb);
    avformat_free_context(context);
}

namespace {

struct encoder_choice {
    const AVCodec *codec = nullptr;
    AVPixelFormat format = AV_PIX_FMT_NONE;
};

AVPixelFormat first_supported(const AVCodec *codec, std::initializer_list<AVPixelFormat> wanted) {
    if (codec->pix_fmts == nullptr)
        return *wanted.begin();
    for (AVPixelFormat format : wanted)
        for (const AVPixelFormat *p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
            if (*p == format)
                return format;
    return AV_PIX_FMT_NONE;
}

encoder_choice choose_encoder(video_quality quality) {
    encoder_choice choice;
    if (quality == video_quality::lossless) {
        for (const char *name : {"libx264rgb", "ffv1"}) {
            const AVCodec *codec = avcodec_find_encoder_by_name(name);
            if (codec == nullptr)
                continue;
            const AVPixelFormat format =
                first_supported(codec, {AV_PIX_FMT_BGR0, AV_PIX_FMT_BGR24, AV_PIX_FMT_RGB24});
            if (format != AV_PIX_FMT_NONE)
                return {codec, format};
        }
        return choice;
    }
    const AVCodec *h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr)
        h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (h264 != nullptr && first_supported(h264, {AV_PIX_FMT_YUV420P}) != AV_PIX_FMT_NONE)
        return {h264, AV_PIX_FMT_YUV420P};
    const AVCodec *mpeg4 = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (mpeg4 != nullptr)
        return {mpeg4, AV_PIX_FMT_YUV420P};
    return choice;
}

bool send_and_write(video_writer &writer, const AVFrame *frame, std::string &error) {
    int status = avcodec_send_frame(writer.encoder.get(), frame);
    if (status < 0) {
        error = writer.path + ": encoding failed (" + av_error_text(status) + ")";
        return false;
    }
    for (;;) {
        status = avcodec_receive_packet(writer.encoder.get(), writer.packet.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return true;
        if (status < 0) {
            error = writer.path + ": encoding failed (" + av_error_text(status) + ")";
            return false;
        }
        av_packet_rescale_ts(writer.packet.get(), writer.encoder->time_base,
                             writer.stream->time_base);
        writer.packet->stream_index = writer.stream->index;
        status = av_interleaved_write_frame(writer.output.get(), writer.packet.get());
        if (status < 0) {
            error = writer.path + ": cannot write (" + av_error_text(status) + ")";
            return false;
        }
    }
}

} // namespace

bool open_video_writer(video_writer &writer, const std::string &path, int32_t width, int32_t height,
                       AVRational rate, video_quality quality, std::string &error) {
    writer.path = path;
    const encoder_choice choice = choose_encoder(quality);
    if (choice.codec == nullptr) {
        error = "this FFmpeg has no suitable video encoder";
        return false;
    }
    writer.codec_name = choice.codec->name;
    const char *container = quality == video_quality::lossless ? "matroska" : "mp4";
    AVFormatContext *output = nullptr;
    if (avformat_alloc_output_context2(&output, nullptr, container, path.c_str()) < 0 ||
        output == nullptr) {
        error = std::string("this FFmpeg cannot write ") + container + " files";
        return false;
    }
    writer.output.reset(output);

    writer.encoder.reset(avcodec_alloc_context3(choice.codec));
    AVCodecContext *encoder = writer.encoder.get();
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = choice.format;
    encoder->time_base = av_inv_q(rate);
    encoder->framerate = rate;
    encoder->gop_size = 2 * (rate.num / std::max(rate.den, 1));
    encoder->thread_count = 0;
    if (quality == video_quality::viewing) {
        encoder->color_range = AVCOL_RANGE_MPEG;
        encoder->colorspace = AVCOL_SPC_BT709;
        encoder->color_primaries = AVCOL_PRI_BT709;
        encoder->color_trc = AVCOL_TRC_BT709;
    }
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *options = nullptr;
    const std::string name = choice.codec->name;
    if (name == "libx264") {
        av_dict_set(&options, "preset", "veryfast", 0);
        av_dict_set(&options, "crf", "20", 0);
    } else if (name == "libx264rgb") {
        av_dict_set(&options, "preset", "ultrafast", 0);
        av_dict_set(&options, "qp", "0", 0);
    } else if (name == "mpeg4") {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * 3;
    }
    int status = avcodec_open2(encoder, choice.codec, &options);
    av_dict_free(&options);
    if (status < 0) {
        error = "cannot open the " + name + " encoder (" + av_error_text(status) + ")";
        return false;
    }
    writer.stream = avformat_new_stream(output, nullptr);
    if (writer.stream == nullptr ||
        avcodec_parameters_from_context(writer.stream->codecpar, encoder) < 0) {
        error = "cannot set up the video stream";
        return false;
    }
    writer.stream->time_base = encoder->time_base;
    writer.stream->avg_frame_rate = rate;
    status = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) {
        error = path + ": cannot be written (" + av_error_text(status) + ")";
        return false;
    }
    status = avformat_write_header(output, nullptr);
    if (status < 0) {
        error = path + ": cannot be written (" + av_error_text(status) + ")";
        return false;
    }
    writer.frame = make_av_frame();
    writer.frame->format = choice.format;
    writer.frame->width = width;
    writer.frame->height = height;
    writer.packet.reset(av_packet_alloc());
    if (av_frame_get_buffer(writer.frame.get(), 0) < 0) {
        error = "out of memory for the video frame";
        return false;
    }
    return true;
}

bool write_video_frame(video_writer &writer, const rgba_image &image, std::string &error) {
    AVFrame *frame = writer.frame.get();
    if (av_frame_make_writable(frame) < 0) {
        error = "out of memory for the video frame";
        return false;
    }
    writer.scaler.reset(sws_getCachedContext(writer.scaler.release(), image.width, image.height,
                                             AV_PIX_FMT_RGBA, frame->width, frame->height,
                                             static_cast<AVPixelFormat>(frame->format), SWS_BICUBIC,
                                             nullptr, nullptr, nullptr));
    if (!writer.scaler) {
        error = "cannot convert the picture for the encoder";
        return false;
    }
    if (frame->format == AV_PIX_FMT_YUV420P) {
        // BT.709, limited range, as the file says.
        sws_setColorspaceDetails(writer.scaler.get(), sws_getCoefficients(SWS_CS_ITU709), 1,
                                 sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    }
    const uint8_t *source[1] = {image.pixels.data()};
    const int source_stride[1] = {4 * image.width};
    sws_scale(writer.scaler.get(), source, source_stride, 0, image.height, frame->data,
              frame->linesize);
    frame->pts = writer.next_pts++;
    return send_and_write(writer, frame, error);
}

bool finish_video_writer(video_writer &writer, std::string &error) {
    if (!writer.output)
        return true;
    bool ok = send_and_write(writer, nullptr, error);
    const int status = av_write_trailer(writer.output.get());
    if (ok && status < 0) {
        error = writer.path + ": cannot be finished (" + av_error_text(status) + ")";
        ok = false;
    }
    writer.output.reset();
    return ok;
}

bool write_png(const std::string &path, const rgba_image &image, std::string &error) {
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (codec == nullptr) {
        error = "this FFmpeg has no PNG encoder";
        return false;
    }
    av_codec_ptr encoder(avcodec_alloc_context3(codec));
    encoder->width = image.width;
    encoder->height = image.height;
    encoder->pix_fmt = AV_PIX_FMT_RGB24;
    encoder->time_base = {1, 1};
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0) {
        error = "cannot open the PNG encoder";
        return false;
    }
    av_frame_ptr frame = make_av_frame();
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = image.width;
    frame->height = image.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        error = "out of memory for the picture";
        return false;
    }
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t *in = image.row(y);
        uint8_t *out = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
        for (int32_t x = 0; x < image.width; ++x) {
            out[3 * x] = in[4 * x];
            out[3 * x + 1] = in[4 * x + 1];
            out[3 * x + 2] = in[4 * x + 2];
        }
    }
    av_packet_ptr packet(av_packet_alloc());
    if (avcodec_send_frame(encoder.get(), frame.get()) < 0 ||
        avcodec_receive_packet(encoder.get(), packet.get()) < 0) {
        error = "PNG encoding failed";
        return false;
    }
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": cannot be written";
        return false;
    }
    const size_t written = std::fwrite(packet->data, 1, static_cast<size_t>(packet->size), file);
    const bool closed = std::fclose(file) == 0;
    if (written != static_cast<size_t>(packet->size) || !closed) {
        error = path + ": cannot be written";
        return false;
    }
    return true;
}

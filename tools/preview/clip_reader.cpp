#include "clip_reader.h"

#include <cerrno>
#include <sys/stat.h>

bool open_clip(const std::string &path, clip_reader &clip, std::string &error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        error = path + ": no such file";
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = path + ": is a folder, not a video file";
        return false;
    }
    AVFormatContext *input = nullptr;
    int status = avformat_open_input(&input, path.c_str(), nullptr, nullptr);
    if (status < 0) {
        error = path + ": not a video file FFmpeg can read (" + av_error_text(status) + ")";
        return false;
    }
    clip.input.reset(input);
    status = avformat_find_stream_info(input, nullptr);
    if (status < 0) {
        error = path + ": cannot read its streams (" + av_error_text(status) + ")";
        return false;
    }
    const AVCodec *codec = nullptr;
    clip.stream_index = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (clip.stream_index < 0 || codec == nullptr) {
        error = path + ": holds no video stream that can be decoded";
        return false;
    }
    AVStream *stream = input->streams[clip.stream_index];
    clip.decoder.reset(avcodec_alloc_context3(codec));
    if (!clip.decoder || avcodec_parameters_to_context(clip.decoder.get(), stream->codecpar) < 0) {
        error = path + ": cannot set up its video decoder";
        return false;
    }
    clip.decoder->thread_count = 0;
    status = avcodec_open2(clip.decoder.get(), codec, nullptr);
    if (status < 0) {
        error =
            path + ": cannot open its " + codec->name + " decoder (" + av_error_text(status) + ")";
        return false;
    }
    clip.time_base = stream->time_base;
    const AVRational guessed = av_guess_frame_rate(input, stream, nullptr);
    if (guessed.num > 0 && guessed.den > 0 && av_q2d(guessed) >= 1.0 && av_q2d(guessed) <= 240.0)
        clip.frame_rate = guessed;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        clip.duration = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    else if (input->duration > 0)
        clip.duration = static_cast<double>(input->duration) / AV_TIME_BASE;
    clip.packet.reset(av_packet_alloc());
    return true;
}

bool read_clip_frame(clip_reader &clip, AVFrame *frame, double &seconds, std::string &error) {
    while (!clip.finished) {
        const int received = avcodec_receive_frame(clip.decoder.get(), frame);
        if (received == 0) {
            const int64_t pts = frame->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE && clip.first_pts == AV_NOPTS_VALUE)
                clip.first_pts = pts;
            seconds = pts != AV_NOPTS_VALUE
                          ? static_cast<double>(pts - clip.first_pts) * av_q2d(clip.time_base)
                          : static_cast<double>(clip.frames_read) / av_q2d(clip.frame_rate);
            ++clip.frames_read;
            return true;
        }
        if (received == AVERROR_EOF) {
            clip.finished = true;
            break;
        }
        if (received != AVERROR(EAGAIN)) {
            error = "decoding failed: " + av_error_text(received);
            clip.finished = true;
            return false;
        }
        if (clip.draining) {
            clip.finished = true;
            break;
        }
        const int read = av_read_frame(clip.input.get(), clip.packet.get());
        if (read < 0) {
            // End of the file: flush what the decoder still holds.
            clip.draining = true;
            avcodec_send_packet(clip.decoder.get(), nullptr);
            continue;
        }
        if (clip.packet->stream_index == clip.stream_index) {
            // A damaged packet is skipped; the decoder recovers at the next key frame.
            avcodec_send_packet(clip.decoder.get(), clip.packet.get());
        }
        av_packet_unref(clip.packet.get());
    }
    return false;
}

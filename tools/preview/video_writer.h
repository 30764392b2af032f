#pragma once

#include "av_handles.h"
#include "marker_scene.h"

#include <string>

enum class video_quality {
    viewing,  // H.264 when an encoder is there, else MPEG-4 Visual; MP4
    lossless, // for frames kept between the two passes; Matroska
};

struct av_output_release {
    void operator()(AVFormatContext *context) const;
};
using av_output_ptr = std::unique_ptr<AVFormatContext, av_output_release>;

struct video_writer {
    av_output_ptr output;
    av_codec_ptr encoder;
    AVStream *stream = nullptr;
    av_frame_ptr frame;
    av_packet_ptr packet;
    sws_ptr scaler;
    int64_t next_pts = 0;
    std::string path;
    std::string codec_name;
};

// Opens `path` for frames of width x height at `rate` frames per second.
bool open_video_writer(video_writer &writer, const std::string &path, int32_t width, int32_t height,
                       AVRational rate, video_quality quality, std::string &error);
bool write_video_frame(video_writer &writer, const rgba_image &image, std::string &error);
// Drains the encoder and closes the file.
bool finish_video_writer(video_writer &writer, std::string &error);

// The picture as a PNG file, through FFmpeg's PNG encoder.
bool write_png(const std::string &path, const rgba_image &image, std::string &error);

#pragma once

#include "av_handles.h"

#include <string>

// A video file decoded frame by frame in the decoder's own pixel format.
struct clip_reader {
    av_input_ptr input;
    av_codec_ptr decoder;
    av_packet_ptr packet;
    int stream_index = -1;
    AVRational time_base{1, 1};
    AVRational frame_rate{30, 1}; // the stream's, or 30 when it does not say
    double duration = 0.0;        // seconds, 0 when unknown
    int64_t first_pts = AV_NOPTS_VALUE;
    int64_t frames_read = 0;
    bool draining = false;
    bool finished = false;
};

// False with a message for the user when the file is missing or holds no decodable video.
bool open_clip(const std::string &path, clip_reader &clip, std::string &error);

// The next frame into `frame`, with its time from the start in `seconds`. False
// at the end of the video; `error` is set only when decoding failed.
bool read_clip_frame(clip_reader &clip, AVFrame *frame, double &seconds, std::string &error);

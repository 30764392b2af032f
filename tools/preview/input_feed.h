#pragma once

#include "av_handles.h"
#include "clip_reader.h"
#include "preview_options.h"
#include "synthetic_scene.h"

#include <media-io/video-io.h>
#include <string>

// One frame as the host gets it: in a format the filter tracks, with the
// colour parameters the host decodes it with.
struct feed_frame {
    const AVFrame *frame = nullptr;
    video_format format = VIDEO_FORMAT_NONE;
    video_colorspace colorspace = VIDEO_CS_709;
    bool full_range = false;
    int32_t index = 0;
    double seconds = 0.0; // from the start of the input
};

// The built-in scene or a clip, read from the start, frame by frame.
struct input_feed {
    bool from_scene = true;
    synthetic_scene scene;
    clip_reader clip;
    double limit_seconds = 0.0; // 0: no limit
    int32_t width = 0, height = 0;
    AVRational frame_rate{30, 1};
    int32_t expected_frames = 0; // 0 when unknown
    std::string description;     // for the start-up lines
    std::string fed_as;          // how the frames reach the host, and why

    int32_t next_index = 0;
    rgba_image scene_picture;
    av_frame_ptr decoded;
    av_frame_ptr converted;
    sws_ptr converter;
    AVPixelFormat described_format = AV_PIX_FMT_NONE;
};

// Opens the input the options name; for a clip, also decodes its first frame so
// that an undecodable file is refused up front.
bool open_input_feed(input_feed &feed, const preview_options &options, std::string &error);

// The next frame, or false at the end (error set when decoding failed).
bool next_feed_frame(input_feed &feed, feed_frame &out, std::string &error);

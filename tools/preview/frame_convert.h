#pragma once

#include "av_handles.h"
#include "input_feed.h"
#include "marker_scene.h"

// Scales a fed frame into RGBA of the given size, decoding its colours as the host does.
bool frame_to_rgba(const feed_frame &frame, int32_t width, int32_t height, sws_ptr &scaler,
                   rgba_image &out);

// A spooled frame (any RGB layout) into RGBA of its own size.
bool picture_to_rgba(const AVFrame *frame, sws_ptr &scaler, rgba_image &out);

// The detection image the plug-in makes of this frame: at most detect_width
// wide, the source's aspect truncated, point-sampled from the first plane.
bool detection_luma(const feed_frame &frame, int32_t detect_width, grey_image &out);

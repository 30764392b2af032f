#pragma once

#include "host_support.h"
#include "input_feed.h"
#include "marker_scene.h"
#include "preview_options.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <obs.h>
#include <string>
#include <vector>

// The real host, headless in this process, with the plug-in loaded and one
// filter on a source that takes raw frames from us, or draws our pictures on
// the GPU.
struct host_session {
    obs_module_t *module = nullptr;
    obs_source_t *feed = nullptr;
    obs_source_t *filter = nullptr;
    gs_texrender_t *texrender = nullptr;
    gs_stagesurf_t *stage = nullptr;
    bool showing = false;
    int32_t source_width = 0, source_height = 0;
    int32_t render_width = 0, render_height = 0;
    uint32_t canvas_width = 0, canvas_height = 0;

    // A frame goes to the host's graphics thread and comes back rendered: the
    // tick callback pushes it, so the sources' tick right after takes it up,
    // and the draw callback of the same round renders it. Rendered any later,
    // the host would already have let go of it.
    // In the order a frame goes through them; the draw may finish before the
    // main thread sees that the frame was pushed.
    enum class exchange { idle, queued, pushed, rendered, failed };
    std::mutex exchange_mutex;
    std::condition_variable exchange_signal;
    exchange state = exchange::idle;
    obs_source_frame queued_frame = {};
    bool gpu_source = false;
    rgba_image queued_picture;    // the GPU source's next picture
    rgba_image converted_picture; // made on the main thread before it is queued
    sws_ptr picture_scaler;
    rgba_image readback;
    // What the filter's state procedure said right after the draw, on the graphics thread, so
    // that no tick comes between: the crop it drew with.
    procedure_state drawn_state;
    bool state_answered = false;

    std::vector<std::string> startup_lines; // what the host and the plug-in are, for the user
};

struct host_request {
    std::string module_path;
    std::string data_dir;
    int32_t source_width = 0, source_height = 0;
    int32_t render_width = 0, render_height = 0;
    AVRational source_rate{30, 1};
    bool gpu_source = false;
};

// Starts the host, loads the module and attaches the filter with the settings of
// `options`. On failure `error` says what went wrong; call stop_host_session anyway.
bool start_host_session(host_session &session, const host_request &request,
                        const preview_options &options, std::string &error);

// Hands one frame to the source (as a picture, to a GPU source) and returns
// once the host has copied it, so the caller may reuse the frame's buffers.
bool push_frame(host_session &session, const feed_frame &frame, std::string &error);

// The pushed frame as the source with its filter rendered it, at the render size, and the
// filter's state as it drew it.
bool render_pushed(host_session &session, rgba_image &out, procedure_state &state,
                   std::string &error);

void stop_host_session(host_session &session);

// Log lines worth showing that arrived since the last call: the plug-in's
// warnings and errors, its diagnostics line when asked for, and the whole host
// log with --host-log.
std::vector<std::string> take_host_log_lines();
void configure_host_log(bool everything, bool diagnostics);

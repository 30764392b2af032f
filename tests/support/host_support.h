#pragma once

// The real host, headless, for the tests, the benchmarks and the preview tool: start-up, the
// plug-in loaded as the desktop application loads it, sources to feed the filter (raw frames
// pushed like a camera's, or a picture drawn on the GPU), reading back what the host draws, and
// the host's log. One host per process; it needs an X display (xvfb-run -a) and draws with
// whatever OpenGL the display offers (Mesa's software renderer under Xvfb).
#include "marker_scene.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <obs.h>
#include <string>
#include <vector>

struct host_video {
    uint32_t canvas_width = 640;
    uint32_t canvas_height = 360;
    uint32_t fps = 30;
};

// Starts the host and its video; false with a message for the user when it cannot.
bool start_host(const host_video &video, std::string &error);
void stop_host();

// Opens and initialises a module with its data folder; null with a message when it cannot.
obs_module_t *load_module(const std::string &path, const std::string &data_dir, std::string &error);

// The host's log, captured from the call on. `echo` also prints every line to stderr; the
// listener (may be empty) sees every line as it comes, on whatever thread logs it.
struct log_line {
    int level;
    std::string text;
};
void capture_host_log(bool echo, std::function<void(const log_line &)> listener = {});
void release_host_log();
// A mark lets a caller look only at newer lines.
size_t log_mark();
std::vector<log_line> log_since(size_t mark);
// Lines since `mark` at `level` whose text contains `needle`.
size_t count_log_since(size_t mark, int level, const std::string &needle);

// A raw frame laid out as the host lays out its own copies (obs_source_frame_init): RGB formats
// in colour, 8-bit YUV formats with BT.709 limited-range luma and neutral chroma (exact for grey
// pictures only), 10-bit YUV formats likewise in their high bits, every other byte mid-grey. A
// format the host does not know has no planes, as the host's own copy has none.
struct host_frame {
    obs_source_frame frame{};

    host_frame(video_format format, const rgba_image &picture);
    ~host_frame() { obs_source_frame_free(&frame); }
    host_frame(const host_frame &) = delete;
    host_frame &operator=(const host_frame &) = delete;
    // Stamped with the host's clock; the host copies the planes before it returns.
    void push_to(obs_source_t *source) const;
};

// A private input that takes raw frames and shows the newest at once, like a camera.
obs_source_t *create_push_source(const char *name);

// A private input drawn on the GPU from a picture, like an image or a capture source: its
// filters never see raw frames. The picture may be replaced at any time.
obs_source_t *create_picture_source(const char *name, const rgba_image &picture);
void set_source_picture(obs_source_t *source, const rgba_image &picture);

// Draws the source, filters included, through the host into a transparent texture of the
// source's size (or the size asked for) with blending off, and reads it back: exactly what the
// last filter drew. Empty when nothing could be read. Enters the graphics context itself.
// `caller_state`, when given, sets the blend state and sRGB writes the source meets instead, as
// another caller might leave them.
rgba_image render_source(obs_source_t *source, uint32_t width = 0, uint32_t height = 0,
                         const std::function<void()> &caller_state = {});

// Polls `condition` until it holds or `timeout` passes; returns the last result.
bool wait_until(const std::function<bool()> &condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Waits until the host's graphics thread has begun `frames` more frames (each ticks and draws
// every source); false on timeout.
bool wait_for_host_frames(int frames);

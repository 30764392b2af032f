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
// pictures only), 10-bit YUV formats likewise in their high bits, grey (Y800) as full-range
// BT.709 luma, every other byte mid-grey. A
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

// A public input that takes raw frames, as the desktop application creates them: listed by name,
// saved and loaded with its filters, and able to hold hotkeys of its own. Release with
// release_public_source.
obs_source_t *create_public_push_source(const char *name);
void release_public_source(obs_source_t *source);

// The filter's state procedure as a script or tool calls it, through the filter's own procedure
// handler; false when the filter has no such procedure. Pixel values are in the source's pixels.
struct procedure_state {
    bool target_valid = false;
    double target_center_x = 0, target_center_y = 0, target_width = 0, target_height = 0;
    long long target_frame_width = 0, target_frame_height = 0;
    double crop_scale_x = 0, crop_scale_y = 0, crop_offset_x = 0, crop_offset_y = 0;
    bool visible = false;
    long long frame_width = 0, frame_height = 0;
    bool tag_a_seen = false, tag_b_seen = false, both_seen = false;
    long long last_pass_ns = 0;
    bool following_paused = false, whole_picture = false;
};
bool call_state_procedure(obs_source_t *filter, procedure_state &state);

// The hotkeys a source registered, as the host's settings list them.
struct source_hotkey {
    obs_hotkey_id id;
    std::string name;
    std::string description;
    obs_hotkey_id partner; // the other half of a pair
};
std::vector<source_hotkey> hotkeys_of(obs_source_t *source);
// OBS_INVALID_HOTKEY_ID when the source has none of that name.
obs_hotkey_id hotkey_named(obs_source_t *source, const char *name);
std::vector<obs_key_combination_t> bindings_of(obs_hotkey_id id);
// Binds the source's hotkey of that name to one key combination, as the settings dialog does.
void bind_hotkey(obs_source_t *source, const char *name, obs_key_combination_t keys);
// Presses and releases the keys as the desktop does for a key event while its window has focus,
// and returns once the host has let go of the binding: until then a pair ignores the next press
// of the same keys. False when the host never did.
bool press_keys(obs_key_combination_t keys);

// Host allocations (bmalloc, brealloc, bmemdup) that `work` makes on this thread, the host's own
// libraries' included: this library stands in for the three, and executables linking it export
// them to the host.
uint64_t host_allocations_in(const std::function<void()> &work);

// Polls `condition` until it holds or `timeout` passes; returns the last result.
bool wait_until(const std::function<bool()> &condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Waits until the host's graphics thread has begun `frames` more frames (each ticks and draws
// every source); false on timeout.
bool wait_for_host_frames(int frames);

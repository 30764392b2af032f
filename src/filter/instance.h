#pragma once

// One filter instance, made of parts grouped by the lock that guards them. No code path holds two
// of the locks at once: readers copy under a lock and work on the copy.
#include "detect/detector.h"
#include "detect/perf_report.h"
#include "detect/search_planner.h"
#include "detect/tracking.h"
#include "filter/host_handles.h"
#include "filter/settings.h"
#include "intake/gpu_readback.h"
#include "intake/intake_choice.h"
#include "intake/rate_gate.h"
#include "platform/threads.h"
#include "zoom/overlay_geometry.h"
#include "zoom/setup_view.h"
#include "zoom/zoom_step.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <obs-module.h>
#include <optional>

// A downscaled 8-bit grey image of a source frame; stride always equals width.
struct detection_frame {
    host_bytes data; // zero-filled from the host's allocator; empty until first use
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    int32_t source_width = 0;
    int32_t source_height = 0;
    uint64_t sequence = 0; // of the frame held; 0 right after (re)allocation
};

// Makes `frame` hold a zero-filled width x height buffer, keeping the one it has when it already
// fits (contents and all fields untouched). On failure the old buffer and fields stay as they
// were.
bool ensure_detection_frame(detection_frame &frame, int32_t width, int32_t height);

// The configuration mutex: the settings every reader copies, the worker's run flag, and what an
// update hands the worker.
struct configuration_part {
    host_mutex mutex;
    settings_snapshot settings = default_settings_snapshot;
    bool worker_running = false;
    // Counts the changes after which a pass begun earlier must not publish (other markers, or
    // tracking resumed); copied by the worker with the settings.
    uint64_t generation = 0;
    // A family made by update for the worker to install at its next pass, so that update never
    // waits for a detection; empty once taken.
    tag_family_handle pending_family;
    // Set by the hotkeys (on the host's hotkey thread or the desktop's UI thread), copied by the
    // tick with the settings.
    zoom_controls controls{};
};

// The frame mutex: the newest detection frame handed from the intake to the worker, and what
// the worker and the intake publish for the tick.
struct tracking_part {
    host_mutex mutex;
    detection_frame input_frame;
    tracking_status status{};
    // The latest raw frame with valid dimensions, or the drawn size while the GPU intake serves.
    int32_t frame_width = 0;
    int32_t frame_height = 0;
    // The latest raw frame was accepted and converted, or the GPU intake serves.
    bool frame_usable = true;
    // Which intake serves, as the raw-frame intake chose for a parent that delivers raw frames,
    // or the graphics part for one that draws on the GPU.
    intake_kind intake = intake_kind::undecided;
    // The host's canvas size, read on host threads (the worker reading it would race the host
    // rewriting it) for the crop's aspect.
    uint32_t canvas_width = 0;
    uint32_t canvas_height = 0;
    // Shared by the intake's and the worker's allocation messages.
    bool warned_alloc = false;
    // The sequence of the frame the worker took last, written when it takes one, and when the
    // last pass that got a result ended (stale ones too).
    uint64_t taken_sequence = 0;
    uint64_t last_pass_ns = 0;
    // What the last pass that published saw.
    pass_markers markers{};
    // The configuration's generation as update last published it: a pass of another generation
    // publishes nothing.
    uint64_t generation = 0;
};

// The render mutex: what the tick hands the render.
struct render_part {
    host_mutex mutex;
    crop_parameters crop = identity_crop(); // what the smoothing shows, the view on or off
    bool setup_view = false;                // draw the whole picture and the overlay instead
    overlay_data overlay{};                 // written only while the view is on
};

// The performance mutex: the diagnostics window.
struct perf_part {
    host_mutex mutex;
    perf_window window{};
};

// The detector mutex: the detector and its family, held for a whole detection. Only the worker
// takes it (and destroy, once the worker has ended).
struct detector_part {
    host_mutex mutex;
    tag_family_handle family;
    detector_ptr detector;
};

// Touched only on the thread that delivers raw frames.
struct intake_part {
    rate_gate gate{};
    bool warned_frame = false;  // shared by the two frame-rejection messages
    int32_t previous_width = 0; // the frame before, for comparing with the drawn size
    int32_t previous_height = 0;
    intake_choice logged{}; // the intake the last info line named
    // What this thread last published as the tracking part's intake, with the drawn size the
    // GPU intake was published with; undecided again after a refused frame.
    intake_kind published = intake_kind::undecided;
    int32_t published_width = 0;
    int32_t published_height = 0;
};

// Touched only by the worker.
struct worker_part {
    detection_frame work_frame;
    bool warned_no_result = false;
    // Where the next pass searches: what the planner keeps, and the settings of the last pass
    // that detected (none after a pass that could not).
    search_memory search{};
    std::optional<settings_snapshot> searched_settings;
};

// The hotkey pairs registered for the instance's source; written in create and destroy only.
struct hotkeys_part {
    obs_hotkey_pair_id following = OBS_INVALID_HOTKEY_PAIR_ID;
    obs_hotkey_pair_id whole_picture = OBS_INVALID_HOTKEY_PAIR_ID;
};

// Used only inside the host's graphics context.
struct graphics_part {
    effect_ptr crop_effect;
    gs_eparam_t *param_mul_val = nullptr;
    gs_eparam_t *param_add_val = nullptr;
    gs_eparam_t *param_visibility = nullptr;
    // The GPU intake: its rate gate runs on the host's video frame time, so that it decides once
    // per frame however often the filter is drawn.
    gpu_readback readback;
    rate_gate gate{};
    uint64_t stages = 0;           // pictures staged, for tests and tools
    uint64_t staged_raw_frame = 0; // raw_frames_seen when the last picture was staged
    bool gpu_source_known = false; // the choice for a parent without raw frames is published
    // The setup view's: its drawer is made at the view's first frame, so that instances that
    // never show it hold nothing for it.
    std::unique_ptr<setup_view_drawer> setup_view;
    bool setup_view_failed = false;
    overlay_data setup_view_data{}; // the render's copy
};

struct filter_instance {
    filter_instance(obs_source_t *owner, bool perf_env) : source(owner), perf_from_env(perf_env) {}
    ~filter_instance();
    filter_instance(const filter_instance &) = delete;
    filter_instance &operator=(const filter_instance &) = delete;

    obs_source_t *const source;
    const bool perf_from_env; // PINVALER_PERF asked for diagnostics at create
    int32_t worker_threads = 0;
    // The luma effect loaded at create: the GPU intake can serve. Not changed afterwards.
    bool drawn_intake_available = false;
    // Pictures found due by either intake; the newest handed to the worker carries its number.
    std::atomic<uint64_t> submit_sequence{0};
    // Raw frames filter_video has seen: the GPU intake reads a parent that delivers them once per
    // new frame, as the raw-frame intake would.
    std::atomic<uint64_t> raw_frames_seen{0};
    // The GPU intake holds a staged picture: the tick enters the graphics context only then.
    std::atomic<bool> drawn_picture_waiting{false};

    configuration_part config;
    tracking_part tracking;
    render_part render;
    perf_part perf;
    detector_part detector;

    intake_part intake;
    worker_part worker;
    zoom_state zoom{};                // only the tick touches it
    bool announced_both_seen = false; // only the tick touches it: what the signals last said
    graphics_part graphics;
    hotkeys_part hotkeys;

    auto_event detect_event; // auto-reset: the intake and destroy signal, the worker waits
    joinable_thread worker_thread;
};

// The instance's settings, or the defaults while the configuration mutex does not exist.
settings_snapshot copy_settings(filter_instance &instance);

// Everything the instance publishes, each part copied under its own lock: for tools and tests.
struct filter_state {
    settings_snapshot settings;
    bool worker_running;
    uint64_t generation;
    bool family_pending;
    zoom_controls controls;
    tracking_status status;
    int32_t frame_width;
    int32_t frame_height;
    bool frame_usable;
    intake_kind intake;
    uint32_t canvas_width;
    uint32_t canvas_height;
    uint64_t input_sequence;
    int32_t input_source_width;
    int32_t input_source_height;
    uint64_t taken_sequence;
    uint64_t last_pass_ns;
    pass_markers markers;
    uint64_t published_generation;
    crop_parameters crop;
    bool setup_view;
    overlay_data overlay;
    perf_window perf;
};
filter_state read_filter_state(filter_instance &instance);

// The host's canvas (base) size, 0 x 0 when the host has no video. Host threads only: the host
// rewrites it on its own threads without a lock.
struct canvas_size {
    uint32_t width;
    uint32_t height;
};
canvas_size host_canvas_size();
// Publishes it under the frame mutex for the worker.
void refresh_canvas_size(filter_instance &instance);

// Settings as the host stores them, normalised; the corrected tag ids are written back so the
// panel always shows the pair in use.
settings_snapshot read_settings(bool perf_from_env, obs_data_t *settings);

// Subsystems, each called from one callback (filter/filter.cpp).
void intake_raw_frame(filter_instance &instance, obs_source_frame *frame); // video thread
// The GPU intake: staged by the render, taken by the next frame's tick (graphics thread).
void intake_drawn_picture(filter_instance &instance);
void take_drawn_picture(filter_instance &instance);
void *detector_worker(void *instance); // the worker thread
// One pass of the worker after a wake; false once the run flag is down.
bool run_detector_pass(filter_instance &instance);
void zoom_tick(filter_instance &instance, float seconds); // graphics thread
void zoom_render(filter_instance &instance);              // graphics thread
// The state procedure, the markers signals and the hotkey pairs on the instance's source: added
// at the end of create, the hotkeys taken away first thing in destroy.
void register_controls(filter_instance &instance);
void unregister_hotkeys(filter_instance &instance);
// Sends markers_found or markers_lost when "both seen" changed since the last call; graphics
// thread, with no lock held (handlers call the state procedure).
void announce_markers(filter_instance &instance, bool both_seen);

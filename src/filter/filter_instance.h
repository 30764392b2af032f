#pragma once

#include "filter/settings.h"
#include "zoom/zoom_smoothing.h"

#include <apriltag.h>
#include <cstdint>
#include <obs-module.h>
#include <util/threading.h>

// A downscaled 8-bit grey image of a source frame; stride always equals width.
struct detection_frame {
    uint8_t *data; // bzalloc'd, released with bfree; null until first use
    int32_t width;
    int32_t height;
    int32_t stride;
    int32_t source_width;
    int32_t source_height;
    uint64_t sequence; // submit_sequence of the frame held; 0 right after (re)allocation
};

struct crop_rect {
    float center_x;
    float center_y;
    float width;
    float height;
};

// One per filter the user adds. Zero-filled at create except `source`; every
// operating-system object sits beside a flag recording that it was created,
// so one destroy serves normal teardown and every failure path of create.
struct filter_instance {
    obs_source_t *source;

    pthread_mutex_t config_mutex; // guards settings, worker_running
    settings_snapshot settings;
    bool worker_running;
    bool config_mutex_ready;
    bool perf_from_env;

    pthread_mutex_t perf_mutex; // guards the performance window below
    bool perf_mutex_ready;
    uint64_t perf_window_start_ns; // 0 = no window open
    uint64_t perf_submitted;
    uint64_t perf_detections;
    uint64_t perf_any_tag;
    uint64_t perf_both_tags;
    uint64_t perf_quads;
    uint64_t perf_overruns;
    uint64_t perf_downscale_total_ns;
    uint64_t perf_downscale_max_ns;
    uint64_t perf_detect_total_ns;
    uint64_t perf_detect_max_ns;

    // Crop target, frame mutex. Its rectangle is in pixels of a source frame of
    // target_frame_width x target_frame_height, which the tick needs when the
    // source changes size.
    bool target_valid;
    crop_rect target_rect;
    int32_t target_frame_width;
    int32_t target_frame_height;

    zoom_state zoom; // only the tick touches it

    bool tags_lost;              // frame mutex
    bool both_tags_seen;         // frame mutex
    uint64_t tags_lost_since_ns; // frame mutex
    uint64_t submit_sequence;    // frame thread only
    int32_t frame_width;         // frame mutex
    int32_t frame_height;        // frame mutex
    bool frame_usable;           // frame mutex
    uint64_t next_detect_ns;     // frame thread only; 0 = restart the schedule

    // The host's canvas size, read on host threads (reading it on the worker
    // would race the host rewriting it) and published under the frame mutex.
    uint32_t canvas_width;
    uint32_t canvas_height;

    pthread_t worker_thread;
    bool worker_started;
    os_event_t *detect_event; // auto-reset
    bool detect_event_ready;

    pthread_mutex_t frame_mutex;
    bool frame_mutex_ready;
    pthread_mutex_t detector_mutex; // guards detector and family during a detection or switch
    bool detector_mutex_ready;

    detection_frame input_frame; // frame mutex
    detection_frame work_frame;  // worker only

    pthread_mutex_t render_mutex; // guards crop
    bool render_mutex_ready;
    crop_parameters crop; // written by the tick, drawn by the render

    apriltag_detector_t *detector;
    apriltag_family_t *family;
    int32_t worker_threads;

    gs_effect_t *crop_effect; // only inside the graphics context
    gs_eparam_t *param_mul_val;
    gs_eparam_t *param_add_val;
    gs_eparam_t *param_visibility;

    bool warned_format;
    bool warned_frame;
    bool warned_alloc;
    bool warned_no_result;

    float schedule_fps; // frame thread only
};

// The instance's settings, or the defaults while the configuration mutex does not exist.
settings_snapshot copy_settings(filter_instance *instance);

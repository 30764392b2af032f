#pragma once

// Which raw frames are due for detection, and at what size they are detected. Host-free.
#include <cstdint>

// The detection rate actually used: the setting when above 0.1 per second, else 30 (NaN too).
float effective_detect_fps(float detect_fps);

// Nanoseconds between two detections at `fps`, truncated; 0 for absurd rates above 1e9.
uint64_t detect_interval_ns(float fps);

// The detection schedule is a grid of due times one interval apart, laid out from the first
// frame after a (re)start; `schedule_fps` is the rate it was laid out for and a `next_detect_ns`
// of 0 restarts it. Touched only on the thread that delivers raw frames.
struct rate_gate {
    float schedule_fps;
    uint64_t next_detect_ns;
};

// True when a frame arriving at `now_ns` is due at `detect_fps`; the gate then moves to the
// first grid point strictly after `now_ns`, so slots that passed without a frame are skipped,
// never made up in a burst.
bool rate_gate_due(rate_gate &gate, float detect_fps, uint64_t now_ns);

struct detection_size {
    int32_t width;
    int32_t height;
};

// The detection image for a w x h source: at most `detect_width` wide, never wider than the
// source, the source's aspect ratio truncated, at least 1 x 1.
detection_size detection_size_for(int32_t source_width, int32_t source_height,
                                  int32_t detect_width);

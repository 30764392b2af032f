#pragma once

#include <cstdint>

// The detection schedule is a grid of due times one interval apart, laid out
// from the first frame after a (re)start; `schedule_fps` is the rate it was
// laid out for and `next_detect_ns` 0 restarts it. Frame thread only.
//
// True when a frame arriving at `now_ns` is due at `detect_fps`; the gate then
// moves to the first grid point strictly after `now_ns`, so slots that passed
// without a frame are skipped, never made up in a burst.
bool rate_gate_due(float &schedule_fps, uint64_t &next_detect_ns, float detect_fps,
                   uint64_t now_ns);

#pragma once

#include "filter/filter_instance.h"

// Starts a new performance window at start_ns (0 closes it) with every counter zeroed.
// The caller holds the performance mutex.
void open_perf_window(filter_instance *instance, uint64_t start_ns);

// One conversion and hand-off by the intake, timed while diagnostics were on.
void perf_record_downscale(filter_instance *instance, uint64_t duration_ns);

// One timed detector run by the worker. Logs the report line when the window
// is at least five seconds old, then opens the next window.
void perf_record_detection(filter_instance *instance, bool enabled, float detect_fps,
                           uint64_t detect_ns, int32_t quads, bool any_tag, bool both_tags);

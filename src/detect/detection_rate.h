#pragma once

#include <cstdint>

// The detection rate actually used: the setting when above 0.1, else 30 (NaN included).
double effective_detect_rate(float detect_fps);

// Nanoseconds between two detections at `rate`, truncated; 0 for absurd rates above 1e9.
uint64_t detect_interval_ns(double rate);

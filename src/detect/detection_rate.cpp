#include "detect/detection_rate.h"

double effective_detect_rate(float detect_fps) {
    return detect_fps > 0.1f ? static_cast<double>(detect_fps) : 30.0;
}

uint64_t detect_interval_ns(double rate) {
    return static_cast<uint64_t>(1e9 / rate);
}

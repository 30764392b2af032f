#include "intake/rate_gate.h"
#include "detect/detection_rate.h"

#include <cmath>

bool rate_gate_due(float &schedule_fps, uint64_t &next_detect_ns, float detect_fps,
                   uint64_t now_ns) {
    const float fps = detect_fps > 0.1f ? detect_fps : 30.0f;
    // Rates beyond 1e9 per second would make the interval 0; one nanosecond
    // keeps the grid arithmetic defined and every frame due.
    uint64_t interval = detect_interval_ns(static_cast<double>(fps));
    if (interval == 0)
        interval = 1;

    if (std::fabs(schedule_fps - fps) > 0.01f) {
        schedule_fps = fps;
        next_detect_ns = 0;
    }
    if (next_detect_ns == 0)
        next_detect_ns = now_ns;
    else if (now_ns < next_detect_ns)
        return false;

    const uint64_t late = now_ns - next_detect_ns;
    next_detect_ns += late - late % interval + interval;
    return true;
}

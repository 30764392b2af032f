#include "intake/rate_gate.h"

#include <cmath>

float effective_detect_fps(float detect_fps) {
    return detect_fps > 0.1f ? detect_fps : 30.0f;
}

uint64_t detect_interval_ns(float fps) {
    return static_cast<uint64_t>(1e9 / static_cast<double>(fps));
}

bool rate_gate_due(rate_gate &gate, float detect_fps, uint64_t now_ns) {
    const float fps = effective_detect_fps(detect_fps);
    // Rates beyond 1e9 per second would make the interval 0; one nanosecond keeps the grid
    // arithmetic defined and every frame due.
    uint64_t interval = detect_interval_ns(fps);
    if (interval == 0)
        interval = 1;

    if (std::fabs(gate.schedule_fps - fps) > 0.01f) {
        gate.schedule_fps = fps;
        gate.next_detect_ns = 0;
    }
    if (gate.next_detect_ns == 0)
        gate.next_detect_ns = now_ns;
    else if (now_ns < gate.next_detect_ns)
        return false;

    const uint64_t late = now_ns - gate.next_detect_ns;
    gate.next_detect_ns += late - late % interval + interval;
    return true;
}

detection_size detection_size_for(int32_t source_width, int32_t source_height,
                                  int32_t detect_width) {
    const int32_t dw = detect_width < 1 ? 1 : detect_width;
    const int32_t width = source_width < dw ? source_width : dw;
    int64_t height = static_cast<int64_t>(width) * source_height / source_width;
    if (height < 1)
        height = 1;
    return {width, static_cast<int32_t>(height)};
}

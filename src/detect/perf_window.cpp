#include "detect/perf_window.h"

void open_perf_window(filter_instance *instance, uint64_t start_ns) {
    instance->perf_window_start_ns = start_ns;
    instance->perf_submitted = 0;
    instance->perf_detections = 0;
    instance->perf_any_tag = 0;
    instance->perf_both_tags = 0;
    instance->perf_quads = 0;
    instance->perf_overruns = 0;
    instance->perf_downscale_total_ns = 0;
    instance->perf_downscale_max_ns = 0;
    instance->perf_detect_total_ns = 0;
    instance->perf_detect_max_ns = 0;
}

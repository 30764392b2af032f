#include "detect/tag_detection.h"
#include "platform/threads.h"

#include <util/platform.h>

namespace {

tag_quad quad_of(const apriltag_detection_t &detection) {
    tag_quad quad{};
    quad.center_x = static_cast<float>(detection.c[0]);
    quad.center_y = static_cast<float>(detection.c[1]);
    for (int i = 0; i < 4; ++i)
        quad.corners[i] = {static_cast<float>(detection.p[i][0]),
                           static_cast<float>(detection.p[i][1])};
    return quad;
}

// Merges a later batch into an earlier one: the later tag of an id wins.
void merge_later(tag_pair_selection &into, const tag_pair_selection &later) {
    if (later.has_a) {
        into.has_a = true;
        into.a = later.a;
    }
    if (later.has_b) {
        into.has_b = true;
        into.b = later.b;
    }
}

} // namespace

bool detectable_size(int32_t width, int32_t height) {
    return width >= smallest_detectable && height >= smallest_detectable &&
           width <= largest_detectable && height <= largest_detectable;
}

detection_run detect_tags(filter_instance *instance, const detection_frame &work, bool timed) {
    image_u8_t image{work.width, work.height, work.stride, work.data};
    detection_run run{};
    mutex_lock lock(instance->detector_mutex);
    const uint64_t start = timed ? os_gettime_ns() : 0;
    run.detections = apriltag_detector_detect(instance->detector, &image);
    if (timed)
        run.duration_ns = os_gettime_ns() - start;
    run.quads = static_cast<int32_t>(instance->detector->nquads);
    return run;
}

tag_pair_selection select_detected_tags(const zarray_t *detections, int32_t tag_id_a,
                                        int32_t tag_id_b) {
    // Converted in batches on the stack: the pass allocates nothing of its own.
    constexpr int batch_size = 16;
    tag_candidate batch[batch_size];
    tag_pair_selection selection{};
    const int count = zarray_size(detections);
    for (int first = 0; first < count; first += batch_size) {
        size_t filled = 0;
        for (int i = first; i < count && i < first + batch_size; ++i) {
            apriltag_detection_t *detection = nullptr;
            zarray_get(detections, i, &detection);
            if (!detection)
                continue;
            batch[filled++] = {detection->id, detection->hamming, detection->decision_margin,
                               quad_of(*detection)};
        }
        merge_later(selection, select_tag_pair(batch, filled, tag_id_a, tag_id_b));
    }
    return selection;
}

#include "detect/detector.h"
#include "detect/detector_config.h"

#include <tag16h5.h>
#include <tagCircle21h7.h>

tag_family_handle::tag_family_handle(tag_family_kind kind)
    : family_(kind == tag_family_kind::circle21h7 ? tagCircle21h7_create() : tag16h5_create()),
      kind_(kind) {}

tag_family_handle &tag_family_handle::operator=(tag_family_handle &&other) noexcept {
    if (this != &other) {
        reset();
        family_ = other.family_;
        kind_ = other.kind_;
        other.family_ = nullptr;
    }
    return *this;
}

void tag_family_handle::reset() {
    if (!family_)
        return;
    if (kind_ == tag_family_kind::circle21h7)
        tagCircle21h7_destroy(family_);
    else
        tag16h5_destroy(family_);
    family_ = nullptr;
}

int32_t detector_thread_count(int physical_cores, int logical_cores) {
    const int cores = physical_cores > 0 ? physical_cores : logical_cores;
    if (cores <= 0)
        return 2;
    int threads = cores / 2;
    if (threads < 1)
        threads = 1;
    if (threads > 4)
        threads = 4;
    return threads;
}

detector_ptr make_detector(int32_t threads) {
    detector_ptr detector(apriltag_detector_create());
    if (!detector)
        return detector;
    const detector_config &c = fixed_detector_config;
    detector->nthreads = threads;
    detector->quad_decimate = c.quad_decimate;
    detector->quad_sigma = c.quad_sigma;
    detector->refine_edges = c.refine_edges;
    detector->decode_sharpening = c.decode_sharpening;
    detector->qtp.deglitch = c.deglitch;
    return detector;
}

void register_family(apriltag_detector_t *detector, const apriltag_family_t *old_family,
                     apriltag_family_t *new_family) {
    if (old_family)
        apriltag_detector_remove_family(detector, const_cast<apriltag_family_t *>(old_family));
    if (new_family)
        apriltag_detector_add_family(detector, new_family);
}

bool detectable_size(int32_t width, int32_t height) {
    return width >= smallest_detectable && height >= smallest_detectable &&
           width <= largest_detectable && height <= largest_detectable;
}

detection_run run_detection(apriltag_detector_t *detector, const image_u8_t &image,
                            uint64_t (*clock)()) {
    // The library takes a mutable header but leaves the pixels alone.
    image_u8_t header = image;
    detection_run run{};
    const uint64_t start = clock ? clock() : 0;
    run.detections.reset(apriltag_detector_detect(detector, &header));
    if (clock)
        run.duration_ns = clock() - start;
    run.quads = static_cast<int32_t>(detector->nquads);
    return run;
}

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

} // namespace

namespace {

// Hands the result array to `use` in batches of candidates converted on the stack: the pass
// allocates nothing of its own.
template <typename Use>
void for_each_batch(const zarray_t *detections, Use use) {
    constexpr int batch_size = 16;
    tag_candidate batch[batch_size];
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
        use(batch, filled);
    }
}

} // namespace

tag_pair_selection select_detected_tags(const zarray_t *detections, int32_t tag_id_a,
                                        int32_t tag_id_b, pass_markers *markers, float scale_x,
                                        float scale_y) {
    tag_pair_selection selection{};
    for_each_batch(detections, [&](const tag_candidate *batch, size_t filled) {
        merge_later(selection, select_tag_pair(batch, filled, tag_id_a, tag_id_b));
    });
    if (markers) {
        *markers = markers_of_pass(selection, nullptr, 0, tag_id_a, tag_id_b, scale_x, scale_y);
        for_each_batch(detections, [&](const tag_candidate *batch, size_t filled) {
            add_other_markers(*markers, batch, filled, tag_id_a, tag_id_b, scale_x, scale_y);
        });
    }
    return selection;
}

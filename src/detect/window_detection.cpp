#include "detect/window_detection.h"

#include <common/matd.h>
#include <cstddef>
#include <utility>

namespace {

// Image coordinates for window coordinates: the corners, the centre, and the homography (a
// translation applied after it).
void move_detection(apriltag_detection_t &detection, double dx, double dy) {
    for (double *p : detection.p) {
        p[0] += dx;
        p[1] += dy;
    }
    detection.c[0] += dx;
    detection.c[1] += dy;
    if (matd_t *h = detection.H; h && h->nrows == 3 && h->ncols == 3) {
        for (unsigned col = 0; col < 3; ++col) {
            MATD_EL(h, 0, col) += dx * MATD_EL(h, 2, col);
            MATD_EL(h, 1, col) += dy * MATD_EL(h, 2, col);
        }
    }
}

bool read_in_exact_part(const apriltag_detection_t &detection, const pixel_rect &exact) {
    const apriltag_family_t *family = detection.family;
    if (!family)
        return false;
    const marker_reach reach = reach_of_family(family->width_at_border, family->total_width);
    return marker_inside(extent_of(detection.p), reach, exact);
}

} // namespace

detection_run run_window_detection(apriltag_detector_t *detector, const image_u8_t &image,
                                   const window_set &windows, uint64_t (*clock)()) {
    detection_run run{};
    const uint64_t start = clock ? clock() : 0;
    run.detections.reset(zarray_create(sizeof(apriltag_detection_t *)));
    window_set merged = windows;
    merge_overlapping(merged);
    for (size_t w = 0; w < merged.count && run.detections; ++w) {
        const pixel_rect &r = merged.rects[w];
        if (r.left < 0 || r.top < 0 || r.right > image.width || r.bottom > image.height ||
            !detectable_size(r.width(), r.height()))
            continue;
        // The library takes a mutable header but leaves the pixels alone.
        image_u8_t header{r.width(), r.height(), image.stride,
                          image.buf + static_cast<ptrdiff_t>(r.top) * image.stride + r.left};
        detections_ptr found(apriltag_detector_detect(detector, &header));
        run.quads += static_cast<int32_t>(detector->nquads);
        if (!found) {
            run.detections.reset();
            break;
        }
        const pixel_rect exact = exact_part(r, image.width, image.height);
        const pixel_rect exact_local{exact.left - r.left, exact.top - r.top, exact.right - r.left,
                                     exact.bottom - r.top};
        for (int i = 0; i < zarray_size(found.get()); ++i) {
            apriltag_detection_t *detection = nullptr;
            zarray_get(found.get(), i, &detection);
            if (detection && read_in_exact_part(*detection, exact_local)) {
                move_detection(*detection, r.left, r.top);
                zarray_add(run.detections.get(), &detection);
            } else {
                apriltag_detection_destroy(detection);
            }
        }
        // Every detection now belongs to the gathered array or is gone.
        zarray_clear(found.get());
    }
    if (clock)
        run.duration_ns = clock() - start;
    return run;
}

search_pass run_search_pass(apriltag_detector_t *detector, const image_u8_t &image,
                            const search_plan &plan, int32_t tag_id_a, int32_t tag_id_b,
                            uint64_t (*clock)()) {
    search_pass pass{};
    if (plan.kind == search_kind::windows) {
        pass.run = run_window_detection(detector, image, plan.windows, clock);
        if (!pass.run.detections)
            return pass;
        pass.tags = select_detected_tags(pass.run.detections.get(), tag_id_a, tag_id_b);
        if (!windows_missed(pass.tags))
            return pass;
    }
    detection_run window_part = std::move(pass.run);
    pass.run = run_detection(detector, image, clock);
    pass.run.quads += window_part.quads;
    pass.run.duration_ns += window_part.duration_ns;
    pass.searched_whole = true;
    pass.tags = pass.run.detections
                    ? select_detected_tags(pass.run.detections.get(), tag_id_a, tag_id_b)
                    : tag_pair_selection{};
    return pass;
}

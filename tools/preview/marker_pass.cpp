#include "marker_pass.h"

#include "detect/detector_setup.h"
#include "detect/tag_selection.h"

#include <chrono>
#include <thread>
#include <vector>

bool open_marker_detector(marker_detector &markers, int32_t tag_family, int32_t tag_id_a,
                          int32_t tag_id_b) {
    markers.tag_family = tag_family;
    markers.tag_id_a = tag_id_a;
    markers.tag_id_b = tag_id_b;
    markers.family = create_tag_family(tag_family);
    markers.detector = apriltag_detector_create();
    if (markers.family == nullptr || markers.detector == nullptr) {
        close_marker_detector(markers);
        return false;
    }
    apriltag_detector_add_family(markers.detector, markers.family);
    // The thread count changes only how fast, not what is found; this pass may use every core.
    const unsigned cores = std::thread::hardware_concurrency();
    configure_detector(markers.detector, static_cast<int32_t>(cores > 0 ? cores : 2));
    return true;
}

void close_marker_detector(marker_detector &markers) {
    if (markers.detector != nullptr)
        apriltag_detector_destroy(markers.detector);
    if (markers.family != nullptr)
        destroy_tag_family(markers.family, markers.tag_family);
    markers.detector = nullptr;
    markers.family = nullptr;
}

namespace {

found_marker to_source(const tag_quad &quad, float margin, float sx, float sy) {
    found_marker m;
    m.found = true;
    m.margin = margin;
    for (int i = 0; i < 4; ++i) {
        m.corners[i][0] = quad.corners[i].x * sx;
        m.corners[i][1] = quad.corners[i].y * sy;
    }
    tag_quad scaled = quad;
    for (tag_point &p : scaled.corners) {
        p.x *= sx;
        p.y *= sy;
    }
    m.side = tag_mean_side(scaled);
    return m;
}

} // namespace

marker_frame detect_markers(marker_detector &markers, const grey_image &luma, int32_t source_width,
                            int32_t source_height, float padding, uint32_t canvas_width,
                            uint32_t canvas_height) {
    marker_frame result;
    if (markers.detector == nullptr || luma.width < 1 || luma.height < 1)
        return result;
    image_u8_t image{luma.width, luma.height, luma.width,
                     const_cast<uint8_t *>(luma.pixels.data())};
    const auto start = std::chrono::steady_clock::now();
    zarray_t *detections = apriltag_detector_detect(markers.detector, &image);
    result.detect_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (detections == nullptr)
        return result;

    std::vector<tag_candidate> accepted;
    float margin_a = 0.0f, margin_b = 0.0f;
    for (int i = 0; i < zarray_size(detections); ++i) {
        apriltag_detection_t *d = nullptr;
        zarray_get(detections, i, &d);
        if (d->decision_margin < min_decision_margin || d->hamming > max_hamming)
            continue;
        tag_candidate c{};
        c.id = d->id;
        c.hamming = d->hamming;
        c.decision_margin = d->decision_margin;
        c.quad.center_x = static_cast<float>(d->c[0]);
        c.quad.center_y = static_cast<float>(d->c[1]);
        for (int k = 0; k < 4; ++k)
            c.quad.corners[k] = {static_cast<float>(d->p[k][0]), static_cast<float>(d->p[k][1])};
        accepted.push_back(c);
        // The last accepted detection of an id wins, as in the plug-in's selection.
        if (c.id == markers.tag_id_a)
            margin_a = c.decision_margin;
        if (c.id == markers.tag_id_b)
            margin_b = c.decision_margin;
    }
    apriltag_detections_destroy(detections);

    const tag_pair_selection pair =
        select_tag_pair(accepted.data(), accepted.size(), markers.tag_id_a, markers.tag_id_b);
    const float sx = static_cast<float>(source_width) / static_cast<float>(luma.width);
    const float sy = static_cast<float>(source_height) / static_cast<float>(luma.height);
    if (pair.has_a)
        result.a = to_source(pair.a, margin_a, sx, sy);
    if (pair.has_b)
        result.b = to_source(pair.b, margin_b, sx, sy);
    if (pair.has_a && pair.has_b)
        result.expected =
            crop_target_from_pair(pair.a, pair.b, luma.width, luma.height, source_width,
                                  source_height, padding, canvas_width, canvas_height);
    return result;
}

#include "marker_pass.h"

#include "detect/tracking.h"

#include <chrono>
#include <vector>

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

marker_frame detect_markers(const tag_detector &detector, const settings_snapshot &filter,
                            const grey_image &luma, int32_t source_width, int32_t source_height,
                            uint32_t canvas_width, uint32_t canvas_height) {
    marker_frame result;
    if (!detector.detector || !detectable_size(luma.width, luma.height))
        return result;
    const auto start = std::chrono::steady_clock::now();
    const std::vector<apriltag_detection_t> detections = detector.detect(luma);
    result.detect_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    // One candidate at a time through the plug-in's selection: its acceptance rule decides, and
    // the later tag of an id wins, margin included.
    tag_pair_selection pair{};
    float margin_a = 0.0f, margin_b = 0.0f;
    for (const apriltag_detection_t &d : detections) {
        tag_candidate c{d.id, d.hamming, d.decision_margin, {}};
        c.quad.center_x = static_cast<float>(d.c[0]);
        c.quad.center_y = static_cast<float>(d.c[1]);
        for (int k = 0; k < 4; ++k)
            c.quad.corners[k] = {static_cast<float>(d.p[k][0]), static_cast<float>(d.p[k][1])};
        const tag_pair_selection one = select_tag_pair(&c, 1, filter.tag_id_a, filter.tag_id_b);
        margin_a = one.has_a ? c.decision_margin : margin_a;
        margin_b = one.has_b ? c.decision_margin : margin_b;
        merge_later(pair, one);
    }

    const float sx = static_cast<float>(source_width) / static_cast<float>(luma.width);
    const float sy = static_cast<float>(source_height) / static_cast<float>(luma.height);
    if (pair.has_a)
        result.a = to_source(pair.a, margin_a, sx, sy);
    if (pair.has_b)
        result.b = to_source(pair.b, margin_b, sx, sy);
    if (pair.has_a && pair.has_b)
        result.expected = crop_target_from_pair(pair.a, pair.b, luma.width, luma.height,
                                                source_width, source_height, filter.padding,
                                                canvas_width, canvas_height, filter.crop_shape);
    return result;
}

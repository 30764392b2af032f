#include "detect/tracking.h"
#include "detect/detector_config.h"

namespace {

// A NaN margin is not "at least" the threshold, so it is refused.
bool accepted(const tag_candidate &candidate) {
    return candidate.decision_margin >= fixed_detector_config.min_decision_margin &&
           candidate.hamming <= fixed_detector_config.max_hamming;
}

} // namespace

tag_pair_selection select_tag_pair(const tag_candidate *candidates, size_t count, int32_t tag_id_a,
                                   int32_t tag_id_b) {
    tag_pair_selection selection{};
    if (candidates == nullptr)
        return selection;
    for (size_t i = 0; i < count; ++i) {
        const tag_candidate &candidate = candidates[i];
        if (!accepted(candidate))
            continue;
        if (candidate.id == tag_id_a) {
            selection.has_a = true;
            selection.a = candidate.quad;
        } else if (candidate.id == tag_id_b) {
            selection.has_b = true;
            selection.b = candidate.quad;
        }
    }
    return selection;
}

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

namespace {

tag_quad scaled(const tag_quad &quad, float scale_x, float scale_y) {
    tag_quad out{quad.center_x * scale_x, quad.center_y * scale_y, {}};
    for (int i = 0; i < 4; ++i)
        out.corners[i] = {quad.corners[i].x * scale_x, quad.corners[i].y * scale_y};
    return out;
}

} // namespace

void add_other_markers(pass_markers &markers, const tag_candidate *candidates, size_t count,
                       int32_t tag_id_a, int32_t tag_id_b, float scale_x, float scale_y) {
    for (size_t i = 0; i < count && markers.count < pass_markers::capacity; ++i) {
        const tag_candidate &c = candidates[i];
        if (accepted(c) && c.id != tag_id_a && c.id != tag_id_b)
            markers.markers[markers.count++] = {c.id, marker_role::other,
                                                scaled(c.quad, scale_x, scale_y)};
    }
}

pass_markers markers_of_pass(const tag_pair_selection &selection, const tag_candidate *candidates,
                             size_t count, int32_t tag_id_a, int32_t tag_id_b, float scale_x,
                             float scale_y) {
    pass_markers markers{};
    markers.tag_a_seen = selection.has_a;
    markers.tag_b_seen = selection.has_b;
    if (selection.has_a)
        markers.markers[markers.count++] = {tag_id_a, marker_role::a,
                                            scaled(selection.a, scale_x, scale_y)};
    if (selection.has_b)
        markers.markers[markers.count++] = {tag_id_b, marker_role::b,
                                            scaled(selection.b, scale_x, scale_y)};
    add_other_markers(markers, candidates, count, tag_id_a, tag_id_b, scale_x, scale_y);
    return markers;
}

void apply_pass(tracking_status &status, const pass_result &pass, uint64_t now_ns) {
    if (pass.both_tags) {
        status.tags_lost = false;
        status.both_tags_seen = true;
        status.target_valid = pass.target.valid;
        if (pass.target.valid) {
            status.target_rect = {pass.target.center_x, pass.target.center_y, pass.target.width,
                                  pass.target.height};
            status.target_frame_width = pass.source_width;
            status.target_frame_height = pass.source_height;
        }
        return;
    }
    if (!pass.any_tag && !status.tags_lost)
        status.tags_lost_since_ns = now_ns;
    status.tags_lost = !pass.any_tag;
    status.both_tags_seen = false;
    if (!pass.any_tag)
        status.target_valid = false;
}

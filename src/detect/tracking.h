#pragma once

// From one pass's detections to what the tick follows: choosing tag A and tag B, and the
// tracking status a pass leaves behind. Host-free.
#include "detect/crop_geometry.h"

#include <cstddef>
#include <cstdint>

// One detection as the worker hands it over, detector types left behind.
struct tag_candidate {
    int id;
    int hamming;
    float decision_margin;
    tag_quad quad;
};

struct tag_pair_selection {
    bool has_a;
    bool has_b;
    tag_quad a;
    tag_quad b;
};

// Picks tag A and tag B among the accepted candidates; for a repeated id the last accepted
// candidate in list order wins.
tag_pair_selection select_tag_pair(const tag_candidate *candidates, size_t count, int32_t tag_id_a,
                                   int32_t tag_id_b);

// Merges a later batch of candidates into an earlier selection: the later tag of an id wins.
void merge_later(tag_pair_selection &into, const tag_pair_selection &later);

// What one pass saw, for tools and the setup view: whether tag A and tag B were accepted, and
// the accepted markers of the family (A and B as selected, then others in list order, as many
// as fit), their quads in source pixels.
enum class marker_role : uint8_t {
    a,
    b,
    other,
};

struct seen_marker {
    int32_t id;
    marker_role role;
    tag_quad quad;
};

struct pass_markers {
    static constexpr uint32_t capacity = 8;
    bool tag_a_seen;
    bool tag_b_seen;
    uint32_t count;
    seen_marker markers[capacity];
    // The source frame the quads are in (the worker sets it).
    int32_t source_width;
    int32_t source_height;
};

// The markers of a pass from its candidates, with the selection already made; quads scaled
// from detection to source pixels.
pass_markers markers_of_pass(const tag_pair_selection &selection, const tag_candidate *candidates,
                             size_t count, int32_t tag_id_a, int32_t tag_id_b, float scale_x,
                             float scale_y);

// Adds the accepted others among `candidates` to `markers`, while room is left.
void add_other_markers(pass_markers &markers, const tag_candidate *candidates, size_t count,
                       int32_t tag_id_a, int32_t tag_id_b, float scale_x, float scale_y);

struct crop_rect {
    float center_x;
    float center_y;
    float width;
    float height;
};

// What the passes publish for the tick. The target is in pixels of a source frame of
// target_frame_width x target_frame_height, which the tick needs when the source changes size.
struct tracking_status {
    bool target_valid;
    crop_rect target_rect;
    int32_t target_frame_width;
    int32_t target_frame_height;
    bool tags_lost;              // the last pass found neither tag
    bool both_tags_seen;         // the last pass found both
    uint64_t tags_lost_since_ns; // when the current loss began
};

// What one pass with a result array found. `target` and the source size count only with both.
struct pass_result {
    bool any_tag;
    bool both_tags;
    crop_target target;
    int32_t source_width;
    int32_t source_height;
};

// The status after a pass at `now_ns`. The loss time is stamped only at the pass that loses the
// tags; with one tag the last crop stays in force; with both, a pair without a usable crop
// clears the target but still counts as both seen.
void apply_pass(tracking_status &status, const pass_result &pass, uint64_t now_ns);

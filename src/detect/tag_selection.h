#pragma once

#include <cstddef>
#include <cstdint>

#include "detect/crop_geometry.h"

// Fixed acceptance thresholds; the settings keys of the same names only carry
// these as defaults and are not consulted.
inline constexpr float min_decision_margin = 20.0f;
inline constexpr int max_hamming = 0;

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

// Picks tag A and tag B among the accepted candidates; for a repeated id the
// last accepted candidate in list order wins.
tag_pair_selection select_tag_pair(const tag_candidate *candidates, size_t count, int32_t tag_id_a,
                                   int32_t tag_id_b);

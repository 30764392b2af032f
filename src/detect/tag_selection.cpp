#include "detect/tag_selection.h"

namespace {

// A NaN margin is not "at least" the threshold, so it is refused.
bool accepted(const tag_candidate &candidate) {
    return candidate.decision_margin >= min_decision_margin && candidate.hamming <= max_hamming;
}

} // namespace

tag_pair_selection select_tag_pair(const tag_candidate *candidates, size_t count, int32_t tag_id_a,
                                   int32_t tag_id_b) {
    tag_pair_selection selection{};
    if (candidates == nullptr) {
        return selection;
    }
    for (size_t i = 0; i < count; ++i) {
        const tag_candidate &candidate = candidates[i];
        if (!accepted(candidate)) {
            continue;
        }
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

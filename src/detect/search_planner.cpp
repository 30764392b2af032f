#include "detect/search_planner.h"

namespace {

search_plan whole(whole_reason reason) {
    return {search_kind::whole, reason, {}};
}

double seconds_between(uint64_t earlier_ns, uint64_t later_ns) {
    return later_ns > earlier_ns ? static_cast<double>(later_ns - earlier_ns) * 1e-9 : 0.0;
}

} // namespace

search_plan plan_search(const search_memory &memory, const pass_conditions &conditions) {
    if (!conditions.windows_enabled)
        return whole(whole_reason::windows_off);
    if (conditions.settings_changed)
        return whole(whole_reason::settings_changed);
    if (memory.last_pass_stale)
        return whole(whole_reason::after_stale_pass);
    if (!memory.markers_known)
        return whole(whole_reason::markers_unknown);
    if (conditions.sizes != memory.sizes)
        return whole(whole_reason::size_changed);
    // A clock that went backwards counts as due too.
    if (!memory.whole_searched || conditions.now_ns < memory.whole_ns ||
        conditions.now_ns - memory.whole_ns >= whole_search_every_ns)
        return whole(whole_reason::periodic);

    const double interval_s = seconds_between(memory.found_ns, conditions.now_ns);
    search_plan plan{search_kind::windows, whole_reason::none, {}};
    for (const tag_quad *quad : {&memory.a, &memory.b}) {
        const quad_extent extent = extent_of(*quad);
        plan.windows.rects[plan.windows.count++] =
            window_around(extent, window_margin(extent, conditions.reach, interval_s),
                          conditions.sizes.width, conditions.sizes.height);
    }
    merge_overlapping(plan.windows);
    const double picture = static_cast<double>(conditions.sizes.width) * conditions.sizes.height;
    if (static_cast<double>(total_area(plan.windows)) > max_window_share * picture)
        return whole(whole_reason::windows_too_large);
    return plan;
}

bool windows_missed(const tag_pair_selection &found) {
    return !(found.has_a && found.has_b);
}

void remember_pass(search_memory &memory, const pass_conditions &conditions, bool searched_whole,
                   const tag_pair_selection &found, bool stale) {
    memory.sizes = conditions.sizes;
    memory.last_pass_stale = stale;
    if (searched_whole) {
        memory.whole_searched = true;
        memory.whole_ns = conditions.now_ns;
    }
    memory.markers_known = !stale && found.has_a && found.has_b;
    if (memory.markers_known) {
        memory.a = found.a;
        memory.b = found.b;
        memory.found_ns = conditions.now_ns;
    }
}

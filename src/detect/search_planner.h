#pragma once

// Per pass: search windows around the markers' last corners, or the whole picture. Host-free:
// the caller passes the clock and tells what changed since the last pass.
#include "detect/search_windows.h"
#include "detect/tracking.h"

#include <cstdint>

// Nothing the whole-picture search would find, such as a second marker with a wanted id, stays
// unseen for longer than this.
inline constexpr uint64_t whole_search_every_ns = 2'000'000'000ull;

// Windows covering more of the picture than this cost about what the whole picture costs.
inline constexpr double max_window_share = 0.5;

enum class search_kind : uint8_t { whole, windows };

// Why a pass searches the whole picture.
enum class whole_reason : uint8_t {
    none, // a window pass
    windows_off,
    settings_changed,
    after_stale_pass,
    markers_unknown, // the last pass did not find both, or there was none
    size_changed,
    periodic,
    windows_too_large,
};

// The sizes a pass works at: the detection image, and the source frame it was made from.
struct pass_sizes {
    int32_t width;
    int32_t height;
    int32_t source_width;
    int32_t source_height;

    bool operator==(const pass_sizes &) const = default;
};

// What the planner keeps between passes.
struct search_memory {
    bool markers_known = false; // the last pass found both markers
    tag_quad a{};
    tag_quad b{};
    uint64_t found_ns = 0;
    bool last_pass_stale = false;
    bool whole_searched = false; // a whole-picture search ran since the memory was made
    uint64_t whole_ns = 0;       // when the last one ran
    pass_sizes sizes{};
};

struct pass_conditions {
    uint64_t now_ns;
    pass_sizes sizes;
    bool settings_changed; // since the last pass
    bool windows_enabled;
    marker_reach reach; // of the registered family
};

struct search_plan {
    search_kind kind;
    whole_reason reason;
    window_set windows; // for a window pass
};

search_plan plan_search(const search_memory &memory, const pass_conditions &conditions);

// A window pass that misses either marker searches the whole picture in the same pass.
bool windows_missed(const tag_pair_selection &found);

// What a pass leaves for the next. `searched_whole`: any part of the pass searched the whole
// picture. `stale`: the pass's result was thrown away (the markers changed during it).
void remember_pass(search_memory &memory, const pass_conditions &conditions, bool searched_whole,
                   const tag_pair_selection &found, bool stale);

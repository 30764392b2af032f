// Where a pass searches: the window geometry (margin, tile alignment, clipping, the part seen as
// in the whole picture, merging) and the planner (window pass or whole picture, and why).
#include "detect/detector.h"
#include "detect/search_planner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

namespace {

constexpr uint64_t ms = 1'000'000ull;
constexpr marker_reach reach_16h5{.quad_cells = 6, .outside_cells = 1};
constexpr marker_reach reach_circle{.quad_cells = 5, .outside_cells = 2};

tag_quad square(float left, float top, float side) {
    return {left + side / 2,
            top + side / 2,
            {{left, top}, {left + side, top}, {left + side, top + side}, {left, top + side}}};
}

TEST(MarkerReach, FollowsTheFamilyLayout) {
    for (const auto &[kind, want] : {std::pair{tag_family_kind::tag16h5, reach_16h5},
                                     std::pair{tag_family_kind::circle21h7, reach_circle}}) {
        const tag_family_handle family(kind);
        const marker_reach r =
            reach_of_family(family.get()->width_at_border, family.get()->total_width);
        EXPECT_EQ(std::tuple(r.quad_cells, r.outside_cells),
                  std::tuple(want.quad_cells, want.outside_cells));
    }
    EXPECT_EQ(reach_of_family(5, 8).outside_cells, 2) << "an odd difference rounds outward";
}

TEST(QuadExtent, BoxAndLongestSide) {
    const tag_quad q{0, 0, {{10, 20}, {70, 24}, {66, 90}, {8, 84}}};
    const quad_extent e = extent_of(q);
    EXPECT_EQ(std::tuple(e.min_x, e.min_y, e.max_x, e.max_y), std::tuple(8.0, 20.0, 70.0, 90.0));
    EXPECT_DOUBLE_EQ(e.longest_side, std::hypot(4.0, 66.0));
}

// Outer cells plus a pixel, the motion over the interval in marker sides (quad and outer cells),
// rounded up, plus the tile ring.
TEST(WindowMargin, FollowsTheRule) {
    const struct {
        marker_reach reach;
        float side;
        double interval_s;
        int32_t margin;
    } rows[] = {
        // 16h5, 60 px quad: 10 px cells, 80 px marker; 10 + 1 + 2.5 * 80 * 0.2 = 51, + 4.
        {.reach = reach_16h5, .side = 60, .interval_s = 0.2, .margin = 55},
        {.reach = reach_16h5, .side = 60, .interval_s = 0.0, .margin = 15},
        {.reach = reach_16h5, .side = 60, .interval_s = 1.0 / 30, .margin = 22},
        // Circle21h7, 50 px quad: 10 px cells, 90 px marker; 20 + 1 + 2.5 * 90 * 0.2 = 66, + 4.
        {.reach = reach_circle, .side = 50, .interval_s = 0.2, .margin = 70},
        // A clock that went backwards means no motion.
        {.reach = reach_circle, .side = 50, .interval_s = -1.0, .margin = 25},
    };
    for (const auto &r : rows)
        EXPECT_EQ(window_margin(extent_of(square(100, 100, r.side)), r.reach, r.interval_s),
                  r.margin)
            << r.side << " px after " << r.interval_s << " s";
}

TEST(WindowAround, GrownBoxOnTileEdgesClippedToTheImage) {
    const struct {
        quad_extent extent;
        int32_t margin, width = 960, height = 540;
        pixel_rect window;
    } rows[] = {
        // Pixels 101..150 grown by 10 are 91..160; outward onto tile edges.
        {.extent = {101.0, 201.5, 150.2, 260.0, 0}, .margin = 10, .window = {88, 188, 164, 272}},
        // Already on tile edges.
        {.extent = {100.0, 100.0, 147.0, 147.0, 0}, .margin = 12, .window = {88, 88, 160, 160}},
        {.extent = {3.0, 2.0, 40.0, 40.0, 0}, .margin = 10, .window = {0, 0, 52, 52}},
        // An image whose size is no multiple of the tile.
        {.extent = {930.0, 500.0, 958.5, 539.9, 0},
         .margin = 10,
         .width = 962,
         .height = 541,
         .window = {920, 488, 962, 541}},
        {.extent = {-80.0, 10.0, -40.0, 40.0, 0}, .margin = 10, .window = {0, 0, 0, 52}},
    };
    for (const auto &r : rows)
        EXPECT_EQ(window_around(r.extent, r.margin, r.width, r.height), r.window)
            << r.extent.min_x << "," << r.extent.min_y;

    // A quad with a broken corner gives the whole image.
    tag_quad broken = square(10, 10, 20);
    broken.corners[2].x = std::numeric_limits<float>::quiet_NaN();
    const quad_extent e = extent_of(broken);
    EXPECT_EQ(window_around(e, window_margin(e, reach_16h5, 0.2), 960, 540),
              (pixel_rect{0, 0, 960, 540}));
}

TEST(ExactPart, AllButTheOuterTileRingExceptAtImageEdges) {
    const struct {
        pixel_rect window, exact;
    } rows[] = {
        {.window = {88, 188, 164, 272}, .exact = {92, 192, 160, 268}},
        {.window = {0, 0, 52, 52}, .exact = {0, 0, 48, 48}},
        {.window = {916, 488, 962, 541}, .exact = {920, 492, 962, 541}},
        {.window = {0, 0, 962, 541}, .exact = {0, 0, 962, 541}},
        // The right edge on the last whole tile, short of the image's edge.
        {.window = {900, 0, 960, 40}, .exact = {904, 0, 956, 36}},
    };
    for (const auto &r : rows)
        EXPECT_EQ(exact_part(r.window, 962, 541), r.exact) << r.window.left << "," << r.window.top;
}

// What the detector reads for a quad: its box grown by the outer cells and a pixel.
TEST(MarkerInside, ChecksTheWholeReach) {
    const struct {
        marker_reach reach;
        float side; // of a quad at 100, 100: 10 px cells in both rows' families
        pixel_rect region;
        bool inside;
    } rows[] = {
        // 16h5 reads pixels 89 to 171.
        {.reach = reach_16h5, .side = 60, .region = {89, 89, 172, 172}, .inside = true},
        {.reach = reach_16h5, .side = 60, .region = {90, 89, 172, 172}, .inside = false},
        {.reach = reach_16h5, .side = 60, .region = {89, 90, 172, 172}, .inside = false},
        {.reach = reach_16h5, .side = 60, .region = {89, 89, 171, 172}, .inside = false},
        {.reach = reach_16h5, .side = 60, .region = {89, 89, 172, 171}, .inside = false},
        // Two outer cells: 79 to 171.
        {.reach = reach_circle, .side = 50, .region = {79, 79, 172, 172}, .inside = true},
        {.reach = reach_circle, .side = 50, .region = {80, 79, 172, 172}, .inside = false},
        {.reach = reach_circle, .side = 50, .region = {79, 80, 172, 172}, .inside = false},
    };
    for (const auto &r : rows)
        EXPECT_EQ(marker_inside(extent_of(square(100, 100, r.side)), r.reach, r.region), r.inside)
            << r.reach.outside_cells << ": " << r.region.left << "," << r.region.top << ","
            << r.region.right << "," << r.region.bottom;
    quad_extent broken = extent_of(square(100, 100, 60));
    broken.max_x = std::nan("");
    EXPECT_FALSE(marker_inside(broken, reach_16h5, {0, 0, 1000, 1000}));
}

// The margin, alignment and ring fit together: a still marker's reach lies in the exact part of
// its own window wherever it sits against the tile grid.
TEST(WindowAround, StillMarkerReachLiesInTheExactPart) {
    for (float left = 40; left < 48; left += 0.75f)
        for (const marker_reach &reach : {reach_16h5, reach_circle}) {
            const quad_extent e = extent_of(square(left, 61.3f, 47.9f));
            const pixel_rect w = window_around(e, window_margin(e, reach, 0.0), 960, 540);
            EXPECT_TRUE(marker_inside(e, reach, exact_part(w, 960, 540))) << left;
        }
}

TEST(MergeOverlapping, OverlappingWindowsBecomeTheirBox) {
    const struct {
        window_set in, out;
    } rows[] = {
        // Touching is not overlapping.
        {.in = {{{{0, 0, 40, 40}, {40, 0, 80, 40}}}, 2},
         .out = {{{{0, 0, 40, 40}, {40, 0, 80, 40}}}, 2}},
        {.in = {{{{0, 0, 44, 40}, {40, 8, 80, 60}}}, 2}, .out = {{{{0, 0, 80, 60}}}, 1}},
        {.in = {{{{40, 8, 80, 60}, {0, 0, 44, 40}}}, 2}, .out = {{{{0, 0, 80, 60}}}, 1}},
        {.in = {{{{0, 0, 80, 80}, {20, 20, 40, 40}}}, 2}, .out = {{{{0, 0, 80, 80}}}, 1}},
        {.in = {{{{0, 0, 80, 80}, {20, 20, 20, 40}}}, 2},
         .out = {{{{0, 0, 80, 80}, {20, 20, 20, 40}}}, 2}},
    };
    for (const auto &r : rows) {
        window_set s = r.in;
        merge_overlapping(s);
        ASSERT_EQ(s.count, r.out.count);
        for (size_t i = 0; i < s.count; ++i)
            EXPECT_EQ(s.rects[i], r.out.rects[i]) << i;
    }
    EXPECT_EQ(total_area({{{{0, 0, 40, 20}, {50, 50, 40, 90}}}, 2}), 800) << "empty ones skipped";
}

// --- The planner ---

const tag_quad quad_a = square(100, 100, 60);
const tag_quad quad_b = square(700, 360, 60);

tag_pair_selection both(const tag_quad &a, const tag_quad &b) {
    return {.has_a = true, .has_b = true, .a = a, .b = b};
}

pass_conditions at(uint64_t now_ns) {
    return {.now_ns = now_ns,
            .sizes = {960, 540, 1920, 1080},
            .settings_changed = false,
            .windows_enabled = true,
            .reach = reach_16h5};
}

pixel_rect window_for(const tag_quad &quad, double interval_s) {
    const quad_extent e = extent_of(quad);
    return window_around(e, window_margin(e, reach_16h5, interval_s), 960, 540);
}

// After a whole-picture pass at 1 s that found both markers.
search_memory after_whole_pass() {
    search_memory memory;
    remember_pass(memory, at(1000 * ms), true, both(quad_a, quad_b), false);
    return memory;
}

// Each window is the marker's box grown for the time since its corners were found, from the
// latest corners.
TEST(PlanSearch, WindowsAroundTheLatestCornersGrownForTheInterval) {
    search_memory memory = after_whole_pass();
    for (const uint64_t t : {1033ull, 1200ull, 1500ull}) {
        const search_plan plan = plan_search(memory, at(t * ms));
        ASSERT_EQ(plan.kind, search_kind::windows) << t;
        EXPECT_EQ(plan.reason, whole_reason::none);
        ASSERT_EQ(plan.windows.count, 2u);
        const double interval = static_cast<double>(t - 1000) / 1000;
        EXPECT_EQ(plan.windows.rects[0], window_for(quad_a, interval)) << t;
        EXPECT_EQ(plan.windows.rects[1], window_for(quad_b, interval)) << t;
    }
    const tag_quad moved = square(140, 120, 60);
    remember_pass(memory, at(1200 * ms), false, both(moved, quad_b), false);
    EXPECT_EQ(plan_search(memory, at(1400 * ms)).windows.rects[0], window_for(moved, 0.2));

    // Close markers: one window, searched once.
    search_memory close;
    remember_pass(close, at(1000 * ms), true, both(square(300, 200, 60), square(400, 200, 60)),
                  false);
    const search_plan plan = plan_search(close, at(1200 * ms));
    ASSERT_EQ(plan.windows.count, 1u);
    const pixel_rect a = window_for(square(300, 200, 60), 0.2);
    const pixel_rect b = window_for(square(400, 200, 60), 0.2);
    EXPECT_EQ(plan.windows.rects[0], (pixel_rect{a.left, a.top, b.right, b.bottom}));
}

TEST(PlanSearch, WholePictureAndWhy) {
    const search_memory known = after_whole_pass();
    search_memory stale = known;
    remember_pass(stale, at(1200 * ms), false, both(quad_a, quad_b), true);
    search_memory one_found = known;
    remember_pass(one_found, at(1200 * ms), false,
                  {.has_a = true, .has_b = false, .a = quad_a, .b = {}}, false);
    search_memory big = known;
    big.a = square(10, 10, 200);
    big.b = square(600, 300, 200);
    using enum whole_reason;
    // Each row at 1.2 s with windows on and unchanged sizes, but for what it names.
    const struct {
        const char *name;
        search_memory mem;
        uint64_t ms = 1200;
        bool windows = true, changed = false;
        pass_sizes sizes = {960, 540, 1920, 1080};
        whole_reason reason;
    } rows[] = {
        {.name = "first pass", .mem = {}, .ms = 1000, .reason = markers_unknown},
        {.name = "setting off", .mem = known, .windows = false, .reason = windows_off},
        {.name = "settings changed", .mem = known, .changed = true, .reason = settings_changed},
        {.name = "after a stale pass", .mem = stale, .ms = 1400, .reason = after_stale_pass},
        {.name = "one marker found", .mem = one_found, .ms = 1400, .reason = markers_unknown},
        {.name = "wider", .mem = known, .sizes = {964, 540, 1920, 1080}, .reason = size_changed},
        {.name = "taller", .mem = known, .sizes = {960, 544, 1920, 1080}, .reason = size_changed},
        {.name = "source width",
         .mem = known,
         .sizes = {960, 540, 1280, 1080},
         .reason = size_changed},
        {.name = "source height",
         .mem = known,
         .sizes = {960, 540, 1920, 720},
         .reason = size_changed},
        {.name = "two seconds on", .mem = known, .ms = 3000, .reason = periodic},
        {.name = "clock went back", .mem = known, .ms = 999, .reason = periodic},
        {.name = "windows over half the picture", .mem = big, .reason = windows_too_large},
    };
    for (const auto &r : rows) {
        pass_conditions c = at(r.ms * ms);
        c.windows_enabled = r.windows, c.settings_changed = r.changed, c.sizes = r.sizes;
        const search_plan plan = plan_search(r.mem, c);
        EXPECT_EQ(plan.kind, search_kind::whole) << r.name;
        EXPECT_EQ(plan.reason, r.reason) << r.name;
    }
}

// The 2 s run from the last pass that searched the whole picture, a fallback included; window
// passes do not restart them, a pass finding nothing does not either unless it searched whole.
TEST(PlanSearch, WholePictureAtLeastEveryTwoSeconds) {
    search_memory memory = after_whole_pass();
    for (uint64_t t = 1200; t < 3000; t += 200) {
        EXPECT_EQ(plan_search(memory, at(t * ms)).kind, search_kind::windows) << t;
        remember_pass(memory, at(t * ms), false, both(quad_a, quad_b), false);
    }
    EXPECT_EQ(plan_search(memory, at(2999'999'999ull)).kind, search_kind::windows);
    EXPECT_EQ(plan_search(memory, at(3000 * ms)).reason, whole_reason::periodic);

    search_memory fallback = after_whole_pass();
    remember_pass(fallback, at(2500 * ms), true, both(quad_a, quad_b), false);
    remember_pass(fallback, at(4400 * ms), false, both(quad_a, quad_b), false);
    EXPECT_EQ(plan_search(fallback, at(4499 * ms)).kind, search_kind::windows);
    EXPECT_EQ(plan_search(fallback, at(4500 * ms)).reason, whole_reason::periodic);

    search_memory lost = after_whole_pass();
    remember_pass(lost, at(1200 * ms), false, {}, false);
    EXPECT_EQ(lost.whole_ns, 1000 * ms);
}

TEST(RememberPass, StalePassesAreForgottenUntilAWholePictureFindsBoth) {
    search_memory memory = after_whole_pass();
    remember_pass(memory, at(1200 * ms), false, both(quad_a, quad_b), true);
    EXPECT_EQ(plan_search(memory, at(1400 * ms)).reason, whole_reason::after_stale_pass);
    remember_pass(memory, at(1400 * ms), true, both(quad_a, quad_b), false);
    EXPECT_EQ(plan_search(memory, at(1600 * ms)).kind, search_kind::windows);
}

TEST(WindowsMissed, UnlessBothMarkersWereFound) {
    for (const auto &[has_a, has_b, missed] :
         {std::tuple{true, true, false}, std::tuple{true, false, true},
          std::tuple{false, true, true}, std::tuple{false, false, true}})
        EXPECT_EQ(windows_missed({.has_a = has_a, .has_b = has_b, .a = quad_a, .b = quad_b}),
                  missed)
            << has_a << has_b;
}

} // namespace

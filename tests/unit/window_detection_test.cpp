// The detector on windows of the frame: corners mapped back, the part of a window seen as in the
// whole picture, the quad count, overlapping and unusable windows, the frame only read, and one
// pass with its whole-picture fallback.
#include "detect/window_detection.h"
#include "marker_scene.h"

#include <gtest/gtest.h>

#include <common/matd.h>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const tag_family_kind families[] = {tag_family_kind::tag16h5, tag_family_kind::circle21h7};

marker_reach reach_of(const tag_detector &d) {
    return reach_of_family(d.family.get()->width_at_border, d.family.get()->total_width);
}

// The last accepted detection of an id, as the selection would take it.
const apriltag_detection_t *accepted(const zarray_t *detections, int id) {
    const apriltag_detection_t *found = nullptr;
    for (int i = 0; i < zarray_size(detections); ++i) {
        apriltag_detection_t *d = nullptr;
        zarray_get(detections, i, &d);
        if (d->id == id && d->hamming == 0 && d->decision_margin >= 20.0f)
            found = d;
    }
    return found;
}

int count_id(const zarray_t *detections, int id) {
    int n = 0;
    for (int i = 0; i < zarray_size(detections); ++i) {
        apriltag_detection_t *d = nullptr;
        zarray_get(detections, i, &d);
        n += d->id == id;
    }
    return n;
}

// The window of a marker that does not move.
pixel_rect still_window(const apriltag_detection_t &d, const marker_reach &reach) {
    const quad_extent e = extent_of(d.p);
    return window_around(e, window_margin(e, reach, 0.0), 960, 540);
}

window_set one_window(const pixel_rect &r) {
    return {.rects = {r}, .count = 1};
}

struct pair_picture {
    tag_detector detector;
    grey_image picture;
    image_u8_t image;
    detection_run whole;

    explicit pair_picture(tag_family_kind kind, tag_scene scene = tag_scene::pair)
        : detector(kind, 1), picture(make_tag_scene(kind, scene, 960, 540).image),
          image(image_header(picture)),
          whole(run_detection(detector.detector.get(), image, nullptr)) {}
    apriltag_detector_t *get() const { return detector.detector.get(); }
};

// Corners, centre and homography come back in image coordinates, as the whole picture gives
// them up to the float the library keeps its quad corners in.
TEST(WindowDetection, MapsDetectionsBackToImageCoordinates) {
    for (const tag_family_kind kind : families) {
        SCOPED_TRACE(testing::Message() << "family " << static_cast<int>(kind));
        const pair_picture p(kind);
        const apriltag_detection_t *a = accepted(p.whole.detections.get(), 0);
        ASSERT_NE(a, nullptr);
        const window_set windows = one_window(still_window(*a, reach_of(p.detector)));
        ASSERT_GT(windows.rects[0].left, 0);
        ASSERT_GT(windows.rects[0].top, 0);
        const detection_run run = run_window_detection(p.get(), p.image, windows, nullptr);
        const apriltag_detection_t *w = accepted(run.detections.get(), 0);
        ASSERT_NE(w, nullptr);
        for (int i = 0; i < 4; ++i) {
            // The homography maps the unit square's (-1, 1), (1, 1), (1, -1), (-1, -1) to them.
            const double x = i == 1 || i == 2 ? 1 : -1, y = i < 2 ? 1 : -1;
            const matd_t *h = w->H;
            const double z = MATD_EL(h, 2, 0) * x + MATD_EL(h, 2, 1) * y + MATD_EL(h, 2, 2);
            EXPECT_NEAR(w->p[i][0], a->p[i][0], 1e-4) << i;
            EXPECT_NEAR(w->p[i][1], a->p[i][1], 1e-4) << i;
            EXPECT_NEAR((MATD_EL(h, 0, 0) * x + MATD_EL(h, 0, 1) * y + MATD_EL(h, 0, 2)) / z,
                        a->p[i][0], 1e-4)
                << i;
            EXPECT_NEAR((MATD_EL(h, 1, 0) * x + MATD_EL(h, 1, 1) * y + MATD_EL(h, 1, 2)) / z,
                        a->p[i][1], 1e-4)
                << i;
        }
        EXPECT_NEAR(w->c[0], a->c[0], 1e-4);
        EXPECT_NEAR(w->c[1], a->c[1], 1e-4);
        EXPECT_NEAR(w->decision_margin, a->decision_margin, 1e-3);
    }
}

// A window too tight for the marker's outer cells can still let the library decode it, from
// pixels thresholded otherwise than in the whole picture: such a detection is not reported.
TEST(WindowDetection, DropsMarkersReachingPastTheExactPart) {
    for (const tag_family_kind kind : families) {
        SCOPED_TRACE(testing::Message() << "family " << static_cast<int>(kind));
        const pair_picture p(kind);
        const apriltag_detection_t *a = accepted(p.whole.detections.get(), 0);
        ASSERT_NE(a, nullptr);
        const quad_extent e = extent_of(a->p);
        const marker_reach reach = reach_of(p.detector);
        int decoded_yet_dropped = 0;
        for (int32_t margin = 0; margin < window_margin(e, reach, 0.0); ++margin) {
            const window_set windows = one_window(window_around(e, margin, 960, 540));
            const detection_run run = run_window_detection(p.get(), p.image, windows, nullptr);
            const bool inside = marker_inside(e, reach, exact_part(windows.rects[0], 960, 540));
            EXPECT_EQ(accepted(run.detections.get(), 0) != nullptr, inside) << "margin " << margin;
            if (!inside) {
                const pixel_rect &r = windows.rects[0];
                image_u8_t header{r.width(), r.height(), p.image.stride,
                                  p.image.buf + r.top * p.image.stride + r.left};
                detections_ptr raw(apriltag_detector_detect(p.get(), &header));
                decoded_yet_dropped += accepted(raw.get(), 0) != nullptr;
            }
        }
        EXPECT_GT(decoded_yet_dropped, 0) << "the rule never mattered";
    }
}

// The library counts the quads of its last call only; a window pass sums its windows. Windows
// that overlap are searched once, so no marker comes twice; unusable ones are skipped.
TEST(WindowDetection, QuadsOverlapsAndUnusableWindows) {
    const pair_picture p(tag_family_kind::tag16h5);
    const window_set windows{.rects = {{{100, 80, 300, 260}, {640, 320, 840, 500}}}, .count = 2};
    int32_t quads[2];
    for (size_t i = 0; i < 2; ++i) {
        quads[i] =
            run_window_detection(p.get(), p.image, one_window(windows.rects[i]), nullptr).quads;
        EXPECT_GT(quads[i], 0);
    }
    EXPECT_EQ(run_window_detection(p.get(), p.image, windows, nullptr).quads, quads[0] + quads[1]);

    const window_set overlapping{.rects = {{{80, 60, 300, 280}, {96, 64, 320, 300}}}, .count = 2};
    const detection_run run = run_window_detection(p.get(), p.image, overlapping, nullptr);
    EXPECT_EQ(count_id(run.detections.get(), 0), 1);

    for (const pixel_rect &r : {pixel_rect{100, 100, 103, 200}, pixel_rect{100, 100, 200, 102},
                                pixel_rect{-4, 0, 100, 100}, pixel_rect{900, 500, 964, 540},
                                pixel_rect{200, 200, 100, 300}}) {
        const detection_run skipped =
            run_window_detection(p.get(), p.image, one_window(r), nullptr);
        ASSERT_TRUE(skipped.detections) << r.left;
        EXPECT_EQ(zarray_size(skipped.detections.get()), 0) << r.left;
        EXPECT_EQ(skipped.quads, 0) << r.left;
    }
}

// The windows are headers into the frame, which may be read-only: with the fixed configuration
// the library never writes into its input. A blur (sigma > 0) would, and dies here.
TEST(WindowDetection, OnlyReadsTheFrame) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    pair_picture p(tag_family_kind::tag16h5);
    const size_t bytes = p.picture.pixels.size();
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t mapped = (bytes + page - 1) / page * page;
    void *memory =
        mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    std::memcpy(memory, p.picture.pixels.data(), bytes);
    ASSERT_EQ(mprotect(memory, mapped, PROT_READ), 0);
    const image_u8_t image{960, 540, 960, static_cast<uint8_t *>(memory)};

    const apriltag_detection_t *a = accepted(p.whole.detections.get(), 0);
    const apriltag_detection_t *b = accepted(p.whole.detections.get(), 1);
    ASSERT_TRUE(a && b);
    const window_set windows{
        .rects = {{still_window(*a, reach_of(p.detector)), still_window(*b, reach_of(p.detector))}},
        .count = 2};
    const detection_run run = run_window_detection(p.get(), image, windows, nullptr);
    EXPECT_TRUE(accepted(run.detections.get(), 0) && accepted(run.detections.get(), 1));
    EXPECT_DEATH(
        {
            p.detector.detector->quad_sigma = 0.8f;
            run_detection(p.get(), image, nullptr);
        },
        "");
    munmap(memory, mapped);
}

uint64_t ticks = 0;
uint64_t tick_clock() {
    return ticks += 1000;
}

// Windows that find both markers end the pass. When a marker has jumped out of its window the
// same pass searches the whole picture, and counts the quads and time of both searches.
TEST(SearchPass, FallsBackToTheWholePictureInTheSamePass) {
    for (const tag_family_kind kind : families) {
        SCOPED_TRACE(testing::Message() << "family " << static_cast<int>(kind));
        const pair_picture pair(kind);
        const pair_picture jumped(kind, tag_scene::too_close);
        search_memory memory;
        const pass_conditions first{.now_ns = 1'000'000'000,
                                    .sizes = {960, 540, 960, 540},
                                    .settings_changed = false,
                                    .windows_enabled = true,
                                    .reach = reach_of(pair.detector)};
        remember_pass(memory, first, true, select_detected_tags(pair.whole.detections.get(), 0, 1),
                      false);
        pass_conditions later = first;
        later.now_ns += 200'000'000;
        const search_plan plan = plan_search(memory, later);
        ASSERT_EQ(plan.kind, search_kind::windows);

        const search_pass found = run_search_pass(pair.get(), pair.image, plan, 0, 1, tick_clock);
        EXPECT_FALSE(found.searched_whole);
        EXPECT_TRUE(found.tags.has_a && found.tags.has_b);
        EXPECT_EQ(found.run.duration_ns, 1000u);

        const detection_run windows_only =
            run_window_detection(jumped.get(), jumped.image, plan.windows, nullptr);
        ASSERT_FALSE(select_detected_tags(windows_only.detections.get(), 0, 1).has_a);
        const search_pass pass =
            run_search_pass(jumped.get(), jumped.image, plan, 0, 1, tick_clock);
        EXPECT_TRUE(pass.searched_whole);
        const tag_pair_selection want = select_detected_tags(jumped.whole.detections.get(), 0, 1);
        ASSERT_TRUE(want.has_a && want.has_b);
        ASSERT_TRUE(pass.tags.has_a && pass.tags.has_b);
        EXPECT_EQ(std::memcmp(&pass.tags.a, &want.a, sizeof(tag_quad)), 0);
        EXPECT_EQ(std::memcmp(&pass.tags.b, &want.b, sizeof(tag_quad)), 0);
        EXPECT_EQ(pass.run.quads, windows_only.quads + jumped.whole.quads);
        EXPECT_EQ(pass.run.duration_ns, 2000u);

        const search_pass whole =
            run_search_pass(jumped.get(), jumped.image,
                            {search_kind::whole, whole_reason::periodic, {}}, 0, 1, nullptr);
        EXPECT_TRUE(whole.searched_whole);
        EXPECT_EQ(whole.run.quads, jumped.whole.quads);
    }
}

} // namespace

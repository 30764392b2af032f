// Detection on drawn markers with the fixed detector settings, the size gate in
// front of the library, and tag selection by rule and over a result array.
#include "detect/detector.h"
#include "marker_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

// Accepted sizes at the edges of the gate run the library cleanly (watched by the sanitizers).
TEST(DetectableSize, KeepsTheLibraryAwayFromSizesItCannotTake) {
    const struct {
        int32_t w, h;
        bool ok;
    } cases[] = {
        {.w = 4, .h = 4, .ok = true},      {.w = 3, .h = 540, .ok = false},
        {.w = 960, .h = 3, .ok = false},   {.w = 0, .h = 0, .ok = false},
        {.w = -4, .h = 4, .ok = false},    {.w = 32767, .h = 4, .ok = true},
        {.w = 4, .h = 32767, .ok = true},  {.w = 32768, .h = 4, .ok = false},
        {.w = 4, .h = 32768, .ok = false}, {.w = 960, .h = 540, .ok = true},
        {.w = 1, .h = 1, .ok = false},
    };
    tag_detector detector(tag_family_kind::tag16h5);
    std::mt19937 random(11);
    for (const auto c : cases) {
        EXPECT_EQ(detectable_size(c.w, c.h), c.ok) << c.w << "x" << c.h;
        grey_image noise(c.ok ? c.w : 0, c.ok ? c.h : 0, 0);
        std::generate(noise.pixels.begin(), noise.pixels.end(), [&] { return random() % 120; });
        if (c.ok)
            detector.detect(noise);
    }
}

// Every drawn marker, the distractor included, is found at its drawn corners and centre.
TEST(DrawnMarkers, FoundWhereTheyWereDrawn) {
    for (const tag_family_kind kind : {tag_family_kind::tag16h5, tag_family_kind::circle21h7}) {
        tag_detector detector(kind);
        scene_picture scene = make_tag_scene(kind, tag_scene::pair, 960, 540);
        const std::vector<apriltag_detection_t> found = detector.detect(scene.image);
        for (const placed_marker &marker : scene.markers) {
            SCOPED_TRACE(testing::Message()
                         << "family " << static_cast<int>(kind) << ", id " << marker.id);
            const auto d = std::find_if(found.begin(), found.end(), [&](const auto &t) {
                return t.id == marker.id && t.hamming == 0;
            });
            ASSERT_TRUE(d != found.end());
            EXPECT_GE(d->decision_margin, 20.0f);
            const tag_quad want = expected_tag_quad(kind, marker.grid);
            EXPECT_NEAR(d->c[0], want.center_x, corner_tolerance);
            EXPECT_NEAR(d->c[1], want.center_y, corner_tolerance);
            for (int i = 0; i < 4; ++i) {
                EXPECT_NEAR(d->p[i][0], want.corners[i].x, corner_tolerance) << i;
                EXPECT_NEAR(d->p[i][1], want.corners[i].y, corner_tolerance) << i;
            }
        }
    }
}

// The quad's centre x tells which candidate was chosen; 0 means none.
tag_candidate cand(int id, int hamming, float margin, float marker) {
    return {id, hamming, margin, {marker, 0, {}}};
}

// By rule, and the same through a result array after enough null entries to split the list over
// the batches it is read in.
TEST(SelectTagPair, AcceptsAndPicksByRule) {
    const struct {
        const char *name;
        std::vector<tag_candidate> list;
        int32_t id_a = 0, id_b = 1;
        float a = 0, b = 0; // the chosen candidates' marks, 0: none
    } cases[] = {
        {.name = "empty", .list = {}},
        {.name = "margin just below", .list = {cand(0, 0, 19.99f, 1)}},
        {.name = "margin at the threshold", .list = {cand(0, 0, 20.0f, 1)}, .a = 1},
        {.name = "NaN margin", .list = {cand(0, 0, NAN, 1)}},
        {.name = "one corrected bit", .list = {cand(1, 1, 90.0f, 1)}},
        {.name = "both", .list = {cand(1, 0, 50, 2), cand(0, 0, 50, 1)}, .a = 1, .b = 2},
        {.name = "ids from the settings",
         .list = {cand(0, 0, 50, 1), cand(1, 0, 50, 2)},
         .id_a = 1,
         .id_b = 0,
         .a = 2,
         .b = 1},
        {.name = "same id twice: A first",
         .list = {cand(0, 0, 50, 1)},
         .id_a = 0,
         .id_b = 0,
         .a = 1},
        {.name = "other ids", .list = {cand(2, 0, 50, 1), cand(-1, 0, 50, 2)}},
        {.name = "last wins",
         .list = {cand(0, 0, 80, 1), cand(0, 0, 25, 2), cand(0, 0, 10, 3)},
         .a = 2},
        {.name = "rejected later entry", .list = {cand(1, 0, 30, 4), cand(1, 2, 99, 5)}, .b = 4},
    };
    for (const auto &c : cases) {
        std::vector<apriltag_detection_t> storage(c.list.size());
        for (size_t i = 0; i < c.list.size(); ++i) {
            const tag_candidate &t = c.list[i];
            storage[i].id = t.id, storage[i].hamming = t.hamming,
            storage[i].c[0] = static_cast<double>(t.quad.center_x);
            storage[i].decision_margin = t.decision_margin;
        }
        std::vector<apriltag_detection_t *> entries(15); // null ones first
        for (apriltag_detection_t &d : storage)
            entries.push_back(&d);
        zarray_t *array = zarray_create(sizeof(apriltag_detection_t *));
        for (apriltag_detection_t *&entry : entries)
            zarray_add(array, &entry);
        for (const tag_pair_selection &s :
             {select_tag_pair(c.list.data(), c.list.size(), c.id_a, c.id_b),
              select_detected_tags(array, c.id_a, c.id_b)}) {
            EXPECT_EQ(s.has_a ? s.a.center_x : 0, c.a) << c.name;
            EXPECT_EQ(s.has_b ? s.b.center_x : 0, c.b) << c.name;
        }
        zarray_destroy(array);
    }
    EXPECT_FALSE(select_tag_pair(nullptr, 3, 0, 1).has_a);
}

} // namespace

namespace {

// What a pass saw: A and B as selected, then the accepted others in order while room is left,
// scaled to source pixels; rejected ones and repeats of A and B are not listed.
TEST(PassMarkers, ListsTheSelectedPairThenAcceptedOthersScaled) {
    std::vector<tag_candidate> list = {
        cand(7, 0, 50, 1), cand(1, 0, 50, 2), cand(8, 1, 90, 3), cand(0, 0, 50, 4),
        cand(9, 0, 19, 5), cand(0, 0, 60, 6), cand(3, 0, 25, 7),
    };
    for (int id = 10; id < 20; ++id)
        list.push_back(cand(id, 0, 40, 10.0f + static_cast<float>(id)));
    const tag_pair_selection pair = select_tag_pair(list.data(), list.size(), 0, 1);
    const pass_markers seen = markers_of_pass(pair, list.data(), list.size(), 0, 1, 2.0f, 0.5f);
    ASSERT_TRUE(seen.tag_a_seen && seen.tag_b_seen);
    ASSERT_EQ(seen.count, pass_markers::capacity);
    const std::pair<int32_t, marker_role> want[] = {
        {0, marker_role::a},      {1, marker_role::b},      {7, marker_role::other},
        {3, marker_role::other},  {10, marker_role::other}, {11, marker_role::other},
        {12, marker_role::other}, {13, marker_role::other}};
    for (uint32_t i = 0; i < seen.count; ++i)
        EXPECT_EQ(std::pair(seen.markers[i].id, seen.markers[i].role), want[i]) << i;
    EXPECT_EQ(seen.markers[0].quad.center_x, 12.0f) << "the later A, scaled by 2";
    EXPECT_EQ(seen.markers[2].quad.center_x, 2.0f);
    const pass_markers none = markers_of_pass({}, nullptr, 0, 0, 1, 1.0f, 1.0f);
    EXPECT_EQ(std::tuple(none.tag_a_seen, none.tag_b_seen, none.count),
              std::tuple(false, false, 0u));
}

} // namespace

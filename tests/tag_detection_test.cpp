// Detection on drawn markers with the fixed detector settings, the size gate in
// front of the library, and tag selection by rule and over a result array.
#include "detect/tag_detection.h"
#include "detect_picture.h"
#include "expected_tags.h"

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
    } cases[] = {{4, 4, true},      {3, 540, false},  {960, 3, false},  {0, 0, false},
                 {-4, 4, false},    {32767, 4, true}, {4, 32767, true}, {32768, 4, false},
                 {4, 32768, false}, {960, 540, true}, {1, 1, false}};
    tag_detector detector(tag_family_tag16h5);
    std::mt19937 random(11);
    for (const auto c : cases) {
        EXPECT_EQ(detectable_size(c.w, c.h), c.ok) << c.w << "x" << c.h;
        gray_image noise(c.ok ? c.w : 0, c.ok ? c.h : 0, 0);
        std::generate(noise.pixels.begin(), noise.pixels.end(), [&] { return random() % 120; });
        if (c.ok)
            detector.detect(noise);
    }
}

// Every drawn marker, the distractor included, is found at its drawn corners and centre.
TEST(DrawnMarkers, FoundWhereTheyWereDrawn) {
    for (const int32_t kind : {tag_family_tag16h5, tag_family_circle21h7}) {
        tag_detector detector(kind);
        scene_picture scene = make_tag_scene(detector.family, tag_scene::pair, 960, 540);
        const std::vector<apriltag_detection_t> found = detector.detect(scene.image);
        for (const placed_marker &marker : scene.markers) {
            SCOPED_TRACE(testing::Message() << "family " << kind << ", id " << marker.id);
            const auto d = std::find_if(found.begin(), found.end(), [&](const auto &t) {
                return t.id == marker.id && t.hamming == 0;
            });
            ASSERT_TRUE(d != found.end());
            EXPECT_GE(d->decision_margin, 20.0f);
            const tag_quad want = expected_tag_quad(detector.family, marker.outer);
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
        int32_t id_a, id_b;
        float a, b;
    } cases[] = {
        {"empty", {}, 0, 1, 0, 0},
        {"margin just below", {cand(0, 0, 19.99f, 1)}, 0, 1, 0, 0},
        {"margin at the threshold", {cand(0, 0, 20.0f, 1)}, 0, 1, 1, 0},
        {"NaN margin", {cand(0, 0, NAN, 1)}, 0, 1, 0, 0},
        {"one corrected bit", {cand(1, 1, 90.0f, 1)}, 0, 1, 0, 0},
        {"both", {cand(1, 0, 50, 2), cand(0, 0, 50, 1)}, 0, 1, 1, 2},
        {"ids from the settings", {cand(0, 0, 50, 1), cand(1, 0, 50, 2)}, 1, 0, 2, 1},
        {"same id twice: A first", {cand(0, 0, 50, 1)}, 0, 0, 1, 0},
        {"other ids", {cand(2, 0, 50, 1), cand(-1, 0, 50, 2)}, 0, 1, 0, 0},
        {"last wins", {cand(0, 0, 80, 1), cand(0, 0, 25, 2), cand(0, 0, 10, 3)}, 0, 1, 2, 0},
        {"rejected later entry", {cand(1, 0, 30, 4), cand(1, 2, 99, 5)}, 0, 1, 0, 4},
    };
    for (const auto &c : cases) {
        std::vector<apriltag_detection_t> storage(c.list.size());
        for (size_t i = 0; i < c.list.size(); ++i) {
            const tag_candidate &t = c.list[i];
            storage[i].id = t.id, storage[i].hamming = t.hamming, storage[i].c[0] = t.quad.center_x;
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

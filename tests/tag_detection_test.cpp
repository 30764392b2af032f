// Detection on drawn markers with the fixed detector settings, the size gate in
// front of the library, and tag selection by rule and over a result array.
#include "detect/tag_detection.h"
#include "detect_picture.h"
#include "expected_tags.h"
#include "tag_scenes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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
    apriltag_family_t *family = create_tag_family(tag_family_tag16h5);
    std::mt19937 random(11);
    for (const auto c : cases) {
        EXPECT_EQ(detectable_size(c.w, c.h), c.ok) << c.w << "x" << c.h;
        gray_image noise(c.ok ? c.w : 0, c.ok ? c.h : 0, 0);
        for (uint8_t &pixel : noise.pixels)
            pixel = static_cast<uint8_t>(random() % 120);
        EXPECT_TRUE(!c.ok || detected_tags(family, noise).array != nullptr) << c.w << "x" << c.h;
    }
    destroy_tag_family(family, tag_family_tag16h5);
}

class DrawnMarkers : public testing::TestWithParam<int32_t> {
protected:
    apriltag_family_t *family = create_tag_family(GetParam());
    ~DrawnMarkers() override { destroy_tag_family(family, GetParam()); }
};

// Every drawn marker is found at its drawn corners; the selection hands A and B over, matched by
// id, as the detector's numbers in single precision.
TEST_P(DrawnMarkers, FoundWhereTheyWereDrawn) {
    scene_picture scene = make_tag_scene(family, tag_scene::pair, 960, 540);
    const detected_tags found(family, scene.image);
    for (const placed_marker &marker : scene.markers) {
        SCOPED_TRACE(testing::Message() << "id " << marker.id);
        const apriltag_detection_t *d = found.find(marker.id);
        ASSERT_NE(d, nullptr);
        EXPECT_GE(d->decision_margin, 20.0f);
        const tag_quad expected = expected_tag_quad(family, marker.outer);
        EXPECT_NEAR(d->c[0], expected.center_x, corner_tolerance);
        EXPECT_NEAR(d->c[1], expected.center_y, corner_tolerance);
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(d->p[i][0], expected.corners[i].x, corner_tolerance) << i;
            EXPECT_NEAR(d->p[i][1], expected.corners[i].y, corner_tolerance) << i;
        }
    }
    const tag_pair_selection tags = select_detected_tags(found.array, 2, 0);
    ASSERT_TRUE(tags.has_a && tags.has_b);
    for (const auto &[quad, d] : {std::pair{tags.a, found.find(2)}, {tags.b, found.find(0)}}) {
        tag_quad as_floats{static_cast<float>(d->c[0]), static_cast<float>(d->c[1]), {}};
        for (int i = 0; i < 4; ++i)
            as_floats.corners[i] = {static_cast<float>(d->p[i][0]), static_cast<float>(d->p[i][1])};
        EXPECT_EQ(std::memcmp(&quad, &as_floats, sizeof quad), 0) << "id " << d->id;
    }
}

// The faint picture is read, with the right ids and no corrected bit: only the margin refuses it.
TEST_P(DrawnMarkers, LowContrastDecodesBelowTheMarginAndIsRefused) {
    scene_picture scene = make_tag_scene(family, tag_scene::low_contrast, 960, 540);
    const detected_tags found(family, scene.image);
    for (int id : {0, 1}) {
        ASSERT_NE(found.find(id), nullptr) << id;
        EXPECT_LT(found.find(id)->decision_margin, 20.0f) << id;
    }
    const tag_pair_selection tags = select_detected_tags(found.array, 0, 1);
    EXPECT_FALSE(tags.has_a || tags.has_b);
}

INSTANTIATE_TEST_SUITE_P(Families, DrawnMarkers,
                         testing::Values(tag_family_tag16h5, tag_family_circle21h7));

// The quad's centre x tells which candidate was chosen; 0 means none.
tag_candidate cand(int id, int hamming, float margin, float marker) {
    return {id, hamming, margin, {marker, 0, {}}};
}

TEST(SelectTagPair, AcceptsAndPicksByRule) {
    const struct {
        const char *name;
        std::vector<tag_candidate> list;
        int32_t id_a, id_b;
        float a, b;
    } cases[] = {
        {"empty", {}, 0, 1, 0, 0},
        {"margin just below", {cand(0, 0, 19.99f, 1)}, 0, 1, 0, 0},
        {"margin exactly at the threshold", {cand(0, 0, 20.0f, 1)}, 0, 1, 1, 0},
        {"NaN margin", {cand(0, 0, NAN, 1)}, 0, 1, 0, 0},
        {"one corrected bit", {cand(1, 1, 90.0f, 1)}, 0, 1, 0, 0},
        {"both", {cand(1, 0, 50, 2), cand(0, 0, 50, 1)}, 0, 1, 1, 2},
        {"ids from the settings", {cand(0, 0, 50, 1), cand(1, 0, 50, 2)}, 1, 0, 2, 1},
        {"same id twice: A checked first", {cand(0, 0, 50, 1)}, 0, 0, 1, 0},
        {"other ids", {cand(2, 0, 50, 1), cand(-1, 0, 50, 2)}, 0, 1, 0, 0},
        {"last accepted wins",
         {cand(0, 0, 80, 1), cand(0, 0, 25, 2), cand(0, 0, 10, 3)},
         0,
         1,
         2,
         0},
        {"rejected later entry", {cand(1, 0, 30, 4), cand(1, 2, 99, 5)}, 0, 1, 0, 4},
    };
    for (const auto &c : cases) {
        const tag_pair_selection s = select_tag_pair(c.list.data(), c.list.size(), c.id_a, c.id_b);
        EXPECT_EQ(s.has_a ? s.a.center_x : 0, c.a) << c.name;
        EXPECT_EQ(s.has_b ? s.b.center_x : 0, c.b) << c.name;
    }
    EXPECT_FALSE(select_tag_pair(nullptr, 3, 0, 1).has_a);
}

// More entries than one batch, some null: the same answer as one selection over the whole list.
TEST(SelectDetectedTags, BatchesAgreeWithOneSelectionOverTheWholeArray) {
    const float margins[] = {25.0f, 19.99f, 30.0f, 20.0f};
    std::vector<apriltag_detection_t> storage(40);
    std::vector<tag_candidate> reference;
    zarray_t *array = zarray_create(sizeof(apriltag_detection_t *));
    for (size_t i = 0; i < storage.size(); ++i) {
        apriltag_detection_t &d = storage[i];
        d.id = static_cast<int>(i % 3);
        d.hamming = i % 7 == 3 ? 1 : 0;
        d.decision_margin = margins[i % 4];
        d.c[0] = static_cast<double>(i);
        apriltag_detection_t *entry = i % 13 == 5 ? nullptr : &d;
        zarray_add(array, &entry);
        if (entry)
            reference.push_back(cand(d.id, d.hamming, d.decision_margin, static_cast<float>(i)));
    }
    const tag_pair_selection expected = select_tag_pair(reference.data(), reference.size(), 0, 1);
    const tag_pair_selection got = select_detected_tags(array, 0, 1);
    zarray_destroy(array);
    ASSERT_TRUE(expected.has_a && expected.has_b && got.has_a && got.has_b);
    EXPECT_EQ(got.a.center_x, expected.a.center_x);
    EXPECT_EQ(got.b.center_x, expected.b.center_x);
}

} // namespace

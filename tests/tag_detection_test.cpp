// Detection on drawn markers with the fixed detector settings, the size gate
// in front of the library, and tag selection over a result array.
#include "detect/detector_setup.h"
#include "detect/tag_detection.h"
#include "expected_tags.h"
#include "tag_scenes.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct detector_fixture {
    int32_t kind;
    apriltag_family_t *family;
    apriltag_detector_t *detector;
    explicit detector_fixture(int32_t tag_family)
        : kind(tag_family), family(create_tag_family(tag_family)),
          detector(apriltag_detector_create()) {
        apriltag_detector_add_family(detector, family);
        configure_detector(detector, 2);
    }
    ~detector_fixture() {
        apriltag_detector_destroy(detector);
        destroy_tag_family(family, kind);
    }
    detector_fixture(const detector_fixture &) = delete;
    detector_fixture &operator=(const detector_fixture &) = delete;

    // Owned result array.
    struct result {
        zarray_t *array;
        ~result() { apriltag_detections_destroy(array); }
        std::vector<apriltag_detection_t *> all() const {
            std::vector<apriltag_detection_t *> out(static_cast<size_t>(zarray_size(array)));
            for (int i = 0; i < zarray_size(array); ++i)
                zarray_get(array, i, &out[static_cast<size_t>(i)]);
            return out;
        }
    };
    result detect(gray_image &image) {
        image_u8_t header{image.width, image.height, image.width, image.pixels.data()};
        return {apriltag_detector_detect(detector, &header)};
    }
};

TEST(DetectableSize, KeepsTheLibraryAwayFromSizesItCannotTake) {
    const struct {
        int32_t w, h;
        bool ok;
    } cases[] = {{4, 4, true},      {3, 540, false},  {960, 3, false},  {0, 0, false},
                 {-4, 4, false},    {32767, 4, true}, {4, 32767, true}, {32768, 4, false},
                 {4, 32768, false}, {960, 540, true}, {1, 1, false},    {3840, 2160, true}};
    for (const auto c : cases)
        EXPECT_EQ(detectable_size(c.w, c.h), c.ok) << c.w << "x" << c.h;
}

// Run under the address sanitizer, this shows the edges of the gate are safe.
TEST(DetectableSize, LibraryRunsCleanlyAtTheEdgesOfTheGate) {
    detector_fixture d(tag_family_tag16h5);
    for (const auto &size : {std::pair{4, 4}, std::pair{4, 32767}, std::pair{32767, 4}}) {
        gray_image image(size.first, size.second, 0);
        add_noise(image, 11, 120);
        const detector_fixture::result r = d.detect(image);
        EXPECT_NE(r.array, nullptr) << size.first << "x" << size.second;
    }
}

class DrawnMarkers : public ::testing::TestWithParam<int32_t> {};

const apriltag_detection_t *find_id(const std::vector<apriltag_detection_t *> &all, int id) {
    for (const apriltag_detection_t *d : all)
        if (d->id == id && d->hamming == 0)
            return d;
    return nullptr;
}

TEST_P(DrawnMarkers, FoundWhereTheyWereDrawn) {
    detector_fixture d(GetParam());
    scene_picture scene = make_tag_scene(d.family, tag_scene::pair, 960, 540);
    const detector_fixture::result r = d.detect(scene.image);
    const std::vector<apriltag_detection_t *> all = r.all();
    for (const placed_marker &marker : scene.markers) {
        SCOPED_TRACE(testing::Message() << "id " << marker.id);
        const apriltag_detection_t *found = find_id(all, marker.id);
        ASSERT_NE(found, nullptr);
        EXPECT_GE(found->decision_margin, 20.0f);
        const tag_quad expected = expected_tag_quad(d.family, marker.outer);
        EXPECT_NEAR(found->c[0], expected.center_x, corner_tolerance);
        EXPECT_NEAR(found->c[1], expected.center_y, corner_tolerance);
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(found->p[i][0], expected.corners[i].x, corner_tolerance) << i;
            EXPECT_NEAR(found->p[i][1], expected.corners[i].y, corner_tolerance) << i;
        }
    }
}

TEST_P(DrawnMarkers, SelectionTakesAAndBAsNearestFloats) {
    detector_fixture d(GetParam());
    scene_picture scene = make_tag_scene(d.family, tag_scene::pair, 960, 540);
    const detector_fixture::result r = d.detect(scene.image);
    const std::vector<apriltag_detection_t *> all = r.all();

    const tag_pair_selection tags = select_detected_tags(r.array, 0, 1);
    ASSERT_TRUE(tags.has_a);
    ASSERT_TRUE(tags.has_b);
    const apriltag_detection_t *a = find_id(all, 0);
    const apriltag_detection_t *b = find_id(all, 1);
    for (const auto &[quad, detection] : {std::pair{tags.a, a}, std::pair{tags.b, b}}) {
        EXPECT_EQ(quad.center_x, static_cast<float>(detection->c[0]));
        EXPECT_EQ(quad.center_y, static_cast<float>(detection->c[1]));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(quad.corners[i].x, static_cast<float>(detection->p[i][0]));
            EXPECT_EQ(quad.corners[i].y, static_cast<float>(detection->p[i][1]));
        }
    }

    const tag_pair_selection swapped = select_detected_tags(r.array, 2, 0);
    EXPECT_EQ(swapped.b.center_x, tags.a.center_x) << "ids are matched, not positions";
}

TEST_P(DrawnMarkers, LowContrastDecodesBelowTheMarginAndIsRefused) {
    detector_fixture d(GetParam());
    scene_picture scene = make_tag_scene(d.family, tag_scene::low_contrast, 960, 540);
    const detector_fixture::result r = d.detect(scene.image);
    const std::vector<apriltag_detection_t *> all = r.all();
    // The picture is read, with the right ids and no corrected bit: only the margin refuses it.
    for (int id : {0, 1}) {
        const apriltag_detection_t *found = find_id(all, id);
        ASSERT_NE(found, nullptr) << id;
        EXPECT_LT(found->decision_margin, 20.0f) << id;
    }
    const tag_pair_selection tags = select_detected_tags(r.array, 0, 1);
    EXPECT_FALSE(tags.has_a);
    EXPECT_FALSE(tags.has_b);
}

std::string family_name(const ::testing::TestParamInfo<int32_t> &param) {
    return param.param == tag_family_tag16h5 ? "tag16h5" : "circle21h7";
}

INSTANTIATE_TEST_SUITE_P(Families, DrawnMarkers,
                         ::testing::Values(tag_family_tag16h5, tag_family_circle21h7), family_name);

// More entries than one batch, with gaps: the same answer as selecting over
// the whole list at once.
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
        d.c[1] = 0.5;
        for (int k = 0; k < 4; ++k) {
            d.p[k][0] = static_cast<double>(i) + k;
            d.p[k][1] = 1.0 / (k + 1);
        }
        apriltag_detection_t *entry = i % 13 == 5 ? nullptr : &d;
        zarray_add(array, &entry);
        if (entry)
            reference.push_back({d.id, d.hamming, d.decision_margin,
                                 tag_quad{static_cast<float>(d.c[0]), 0.5f, {}}});
    }
    const tag_pair_selection expected = select_tag_pair(reference.data(), reference.size(), 0, 1);
    const tag_pair_selection got = select_detected_tags(array, 0, 1);
    zarray_destroy(array);

    ASSERT_TRUE(expected.has_a && expected.has_b);
    EXPECT_TRUE(got.has_a);
    EXPECT_TRUE(got.has_b);
    EXPECT_EQ(got.a.center_x, expected.a.center_x);
    EXPECT_EQ(got.b.center_x, expected.b.center_x);
}

} // namespace

// The built-in scene is only useful if what it claims to show is what a
// detector set up like the plug-in's finds in it.
#include "intake/downscale_luma.h"
#include "marker_pass.h"
#include "synthetic_scene.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

grey_image luma_of(const rgba_image &picture) {
    grey_image luma;
    luma.width = picture.width;
    luma.height = picture.height;
    luma.pixels.resize(static_cast<size_t>(luma.width) * luma.height);
    EXPECT_TRUE(downscale_luma(LUMA_RGBA, luma.pixels.data(), luma.width, luma.height, luma.width,
                               picture.pixels.data(), picture.width, picture.height,
                               4 * picture.width, false));
    return luma;
}

// Each corner the scene drew has a detected corner within `tolerance` pixels.
void expect_same_corners(const scene_marker &truth, const found_marker &found, float tolerance) {
    for (const scene_point &corner : truth.corners) {
        float nearest = 1e9f;
        for (const auto &detected : found.corners)
            nearest = std::min(nearest, std::hypot(detected[0] - corner.x, detected[1] - corner.y));
        EXPECT_LT(nearest, tolerance) << "corner at " << corner.x << "," << corner.y;
    }
}

struct family_case {
    const char *name;
    int32_t family;
};

class SceneMarkers : public ::testing::TestWithParam<family_case> {};

TEST_P(SceneMarkers, AreFoundWhereTheSceneDrewThemAndNotWhenHidden) {
    constexpr double seconds = 12.0;
    synthetic_scene scene;
    std::string error;
    ASSERT_TRUE(
        make_synthetic_scene(640, 360, seconds, 30.0, GetParam().family, 1, 0, scene, error))
        << error;
    marker_detector detector;
    ASSERT_TRUE(open_marker_detector(detector, GetParam().family, 1, 0));
    rgba_image picture;
    scene_marker truth[2];
    const double covered = (scene.cover_full + scene.cover_clear) * 0.5;
    const double gone = (scene.gone_from + scene.gone_until) * 0.5;
    const struct {
        double time;
        bool a_visible, b_visible;
    } moments[] = {{0.05 * seconds, true, true},     {0.2 * seconds, true, true},
                   {scene.key_times[3], true, true}, {scene.key_times[4], true, true},
                   {covered, true, false},           {gone, false, false},
                   {0.99 * seconds, true, true}};
    for (const auto &m : moments) {
        SCOPED_TRACE("at " + std::to_string(m.time) + " s");
        render_scene_frame(scene, static_cast<int32_t>(std::lround(m.time * 30.0)), picture, truth);
        EXPECT_EQ(truth[0].in_frame, m.a_visible);
        EXPECT_EQ(truth[1].in_frame, m.b_visible);
        const marker_frame found = detect_markers(detector, luma_of(picture), picture.width,
                                                  picture.height, 0.0f, 640, 360);
        EXPECT_EQ(found.a.found, m.a_visible);
        EXPECT_EQ(found.b.found, m.b_visible);
        if (found.a.found && m.a_visible)
            expect_same_corners(truth[0], found.a, 1.5f);
        if (found.b.found && m.b_visible)
            expect_same_corners(truth[1], found.b, 1.5f);
        EXPECT_EQ(found.expected.valid, m.a_visible && m.b_visible);
    }
    close_marker_detector(detector);
}

INSTANTIATE_TEST_SUITE_P(Families, SceneMarkers,
                         ::testing::Values(family_case{"tag16h5", 0}, family_case{"circle21h7", 1}),
                         [](const ::testing::TestParamInfo<family_case> &param) {
                             return std::string(param.param.name);
                         });

TEST(SyntheticScene, IsTheSameEveryTime) {
    synthetic_scene first, second;
    std::string error;
    ASSERT_TRUE(make_synthetic_scene(320, 180, 4.0, 30.0, 0, 0, 1, first, error));
    ASSERT_TRUE(make_synthetic_scene(320, 180, 4.0, 30.0, 0, 0, 1, second, error));
    rgba_image a, b;
    scene_marker markers[2];
    render_scene_frame(first, 40, a, markers);
    render_scene_frame(second, 40, b, markers);
    EXPECT_EQ(a.pixels, b.pixels);
}

TEST(SyntheticScene, RefusesAnIdTheFamilyDoesNotHave) {
    synthetic_scene scene;
    std::string error;
    EXPECT_FALSE(make_synthetic_scene(320, 180, 4.0, 30.0, 0, 0, 99, scene, error));
    EXPECT_FALSE(error.empty());
}

} // namespace

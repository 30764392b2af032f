// The built-in scene against the tool's own detection: the preview's verdicts rest on the scene
// drawing findable markers exactly where it says, and hiding them when its story says so.
#include "intake/luma.h"
#include "marker_pass.h"
#include "preview_options.h"
#include "synthetic_scene.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

// Printed markers drawn sharp, without blur or noise: corners land closer than on the
// detection tests' scenes.
constexpr float corner_slack = 1.0f;

grey_image luma_of(const rgba_image &picture) {
    grey_image luma(picture.width, picture.height);
    for (int32_t y = 0; y < picture.height; ++y)
        for (int32_t x = 0; x < picture.width; ++x)
            luma.at(x, y) = luma_from_rgb(picture.at(x, y));
    return luma;
}

// Ids swapped against the defaults, so that a scene drawing the default ids fails.
TEST(SyntheticScene, MarkersAreFoundWhereTheSceneDrewThem) {
    for (const tag_family_kind family : {tag_family_kind::tag16h5, tag_family_kind::circle21h7}) {
        SCOPED_TRACE(family_name(family));
        settings_snapshot filter = default_settings_snapshot;
        filter.tag_family = family;
        filter.tag_id_a = 1;
        filter.tag_id_b = 0;
        synthetic_scene scene;
        std::string error;
        ASSERT_TRUE(make_synthetic_scene(640, 360, default_scene_seconds, scene_fps, family,
                                         filter.tag_id_a, filter.tag_id_b, scene, error))
            << error;
        const tag_detector detector(family);
        int both_found = 0;
        for (const scene_moment &moment : scene_moments(scene)) {
            SCOPED_TRACE(moment.label);
            rgba_image picture;
            scene_marker truth[2];
            render_scene_frame(scene, static_cast<int32_t>(std::lround(moment.time * scene.fps)),
                               picture, truth);
            const marker_frame found =
                detect_markers(detector, filter, luma_of(picture), 640, 360, 640, 360);
            both_found += found.a.found && found.b.found;
            for (int m = 0; m < 2; ++m) {
                const found_marker &f = m == 0 ? found.a : found.b;
                ASSERT_EQ(f.found, truth[m].in_frame) << "tag "
                                                      << "AB"[m];
                // The detector's corners run the other way round, from the bottom left.
                for (int i = 0; f.found && i < 4; ++i) {
                    const scene_point &want = truth[m].corners[static_cast<size_t>(3 - i)];
                    EXPECT_NEAR(f.corners[i][0], want.x, corner_slack) << "tag "
                                                                       << "AB"[m] << i;
                    EXPECT_NEAR(f.corners[i][1], want.y, corner_slack) << "tag "
                                                                       << "AB"[m] << i;
                }
            }
        }
        // Following, tilted and back closer: else the checks above could hold vacuously.
        EXPECT_GE(both_found, 3);
    }
}

} // namespace

// On pictures of the built-in scene: a detector set up like the plug-in's finds
// the markers where the scene drew them (and not while covered or gone), and the
// crop estimate finds the region of a plain resampling drawn as the filter draws it.
#include "crop_estimate.h"
#include "intake/downscale_luma.h"
#include "marker_pass.h"
#include "synthetic_scene.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(ScenePictures, MarkersAreFoundWhereDrawnAndNotWhenHidden) {
    for (const int32_t family : {0, 1}) {
        synthetic_scene scene;
        std::string error;
        ASSERT_TRUE(make_synthetic_scene(640, 360, 12.0, 30.0, family, 1, 0, scene, error));
        marker_detector detector;
        ASSERT_TRUE(open_marker_detector(detector, family, 1, 0));
        // Both in view (moving, scaling, tilting), tag B covered, both gone, back closer.
        const struct {
            double time;
            bool a, b;
        } moments[] = {{0.6, true, true},
                       {2.4, true, true},
                       {scene.key_times[3], true, true},
                       {scene.key_times[4], true, true},
                       {(scene.cover_full + scene.cover_clear) * 0.5, true, false},
                       {(scene.gone_from + scene.gone_until) * 0.5, false, false},
                       {11.88, true, true}};
        for (const auto &m : moments) {
            SCOPED_TRACE("family " + std::to_string(family) + " at " + std::to_string(m.time));
            rgba_image picture;
            scene_marker truth[2];
            render_scene_frame(scene, static_cast<int32_t>(std::lround(m.time * 30)), picture,
                               truth);
            grey_image luma{640, 360, std::vector<uint8_t>(640 * 360)};
            ASSERT_TRUE(downscale_luma(LUMA_RGBA, luma.pixels.data(), 640, 360, 640,
                                       picture.pixels.data(), 640, 360, 4 * 640, false));
            const marker_frame found = detect_markers(detector, luma, 640, 360, 0.0f, 640, 360);
            const bool drawn[2] = {m.a, m.b};
            const found_marker *seen[2] = {&found.a, &found.b};
            for (int i = 0; i < 2; ++i) {
                EXPECT_EQ(truth[i].in_frame, drawn[i]) << "tag " << i;
                EXPECT_EQ(seen[i]->found, drawn[i]) << "tag " << i;
                // Each corner drawn has a detected corner within a pixel and a half.
                for (const scene_point &corner : truth[i].corners) {
                    float nearest = 1e9f;
                    for (const auto &c : seen[i]->corners)
                        nearest = std::min(nearest, std::hypot(c[0] - corner.x, c[1] - corner.y));
                    EXPECT_TRUE(!seen[i]->found || !drawn[i] || nearest < 1.5f) << nearest;
                }
            }
        }
        close_marker_detector(detector);
    }
}

// Each output pixel samples the input bilinearly at uv * size + offset, edges clamped.
rgba_image crop_like_the_filter(const rgba_image &in, float left, float top, float width,
                                float height) {
    rgba_image out = make_rgba_image(in.width, in.height);
    const float w = static_cast<float>(in.width), h = static_cast<float>(in.height);
    for (int32_t v = 0; v < in.height; ++v)
        for (int32_t u = 0; u < in.width; ++u) {
            const float x = std::clamp((left + (u + 0.5f) / w * width) * w - 0.5f, 0.0f, w - 1);
            const float y = std::clamp((top + (v + 0.5f) / h * height) * h - 0.5f, 0.0f, h - 1);
            const int32_t x0 = std::min(static_cast<int32_t>(x), in.width - 2);
            const int32_t y0 = std::min(static_cast<int32_t>(y), in.height - 2);
            const float fx = x - x0, fy = y - y0;
            for (int c = 0; c < 4; ++c) {
                const uint8_t *p = in.row(y0) + 4 * x0 + c, *q = in.row(y0 + 1) + 4 * x0 + c;
                const float upper = p[0] + (p[4] - p[0]) * fx, lower = q[0] + (q[4] - q[0]) * fx;
                out.row(v)[4 * u + c] =
                    static_cast<uint8_t>(std::lround(upper + (lower - upper) * fy));
            }
        }
    return out;
}

TEST(ScenePictures, CropEstimateFindsTheRegionTheFilterShows) {
    synthetic_scene scene;
    std::string error;
    ASSERT_TRUE(make_synthetic_scene(640, 360, 6.0, 30.0, 0, 0, 1, scene, error)) << error;
    rgba_image input;
    scene_marker markers[2];
    render_scene_frame(scene, 0, input, markers);
    // Each region is estimated with the one before as the previous estimate: big
    // jumps must not be held near it, small steps (a crop easing) must follow it.
    // The last is off the input's aspect, as rounding and the size limits can leave it.
    const float regions[][4] = {
        {0.0f, 0.0f, 1.0f, 1.0f},      {0.25f, 0.25f, 0.5f, 0.5f},  {0.6f, 0.55f, 0.3f, 0.3f},
        {0.4f, 0.3f, 0.1f, 0.1f},      {0.2f, 0.2f, 0.5f, 0.5f},    {0.21f, 0.2f, 0.492f, 0.492f},
        {0.22f, 0.2f, 0.484f, 0.484f}, {0.0f, 0.25f, 0.3f, 0.315f},
    };
    const grey_pyramid grey = make_grey_pyramid(input);
    crop_estimate previous; // the whole input, not yet seen
    for (const auto &[left, top, width, height] : regions) {
        const rgba_image out = crop_like_the_filter(input, left, top, width, height);
        previous = estimate_crop(grey, out, make_grey_pyramid(out), &previous);
        ASSERT_EQ(previous.view, crop_view::shown) << left << "," << top << " " << width;
        // Half a percent of the input is about three pixels here.
        EXPECT_NEAR(previous.left, left, 0.005f);
        EXPECT_NEAR(previous.top, top, 0.005f);
        EXPECT_NEAR(previous.width, width, 0.005f);
        EXPECT_NEAR(previous.height, height, 0.005f);
    }
    // A picture that matches nowhere is not taken for a crop.
    rgba_image flat = make_rgba_image(640, 360);
    std::fill(flat.pixels.begin(), flat.pixels.end(), uint8_t{200});
    EXPECT_EQ(estimate_crop(grey, flat, make_grey_pyramid(flat), nullptr).view, crop_view::unknown);
}

} // namespace

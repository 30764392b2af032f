#include "crop_estimate.h"
#include "synthetic_scene.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace {

rgba_image scene_picture(int32_t width, int32_t height) {
    synthetic_scene scene;
    std::string error;
    EXPECT_TRUE(make_synthetic_scene(width, height, 6.0, 30.0, 0, 0, 1, scene, error)) << error;
    rgba_image picture;
    scene_marker markers[2];
    render_scene_frame(scene, 0, picture, markers);
    return picture;
}

// What the crop effect draws: each output pixel samples the input bilinearly at
// uv * size + offset, edges clamped.
rgba_image crop_like_the_filter(const rgba_image &in, float left, float top, float width,
                                float height) {
    rgba_image out = make_rgba_image(in.width, in.height);
    for (int32_t v = 0; v < out.height; ++v) {
        for (int32_t u = 0; u < out.width; ++u) {
            const float x =
                (left + (static_cast<float>(u) + 0.5f) / static_cast<float>(out.width) * width) *
                    static_cast<float>(in.width) -
                0.5f;
            const float y =
                (top + (static_cast<float>(v) + 0.5f) / static_cast<float>(out.height) * height) *
                    static_cast<float>(in.height) -
                0.5f;
            const float cx = std::clamp(x, 0.0f, static_cast<float>(in.width - 1));
            const float cy = std::clamp(y, 0.0f, static_cast<float>(in.height - 1));
            const int32_t x0 = std::min(static_cast<int32_t>(cx), in.width - 2);
            const int32_t y0 = std::min(static_cast<int32_t>(cy), in.height - 2);
            const float fx = cx - static_cast<float>(x0);
            const float fy = cy - static_cast<float>(y0);
            for (int c = 0; c < 4; ++c) {
                const float a = in.row(y0)[4 * x0 + c], b = in.row(y0)[4 * (x0 + 1) + c];
                const float d = in.row(y0 + 1)[4 * x0 + c], e = in.row(y0 + 1)[4 * (x0 + 1) + c];
                const float top_mix = a + (b - a) * fx;
                const float bottom_mix = d + (e - d) * fx;
                out.row(v)[4 * u + c] =
                    static_cast<uint8_t>(std::lround(top_mix + (bottom_mix - top_mix) * fy));
            }
        }
    }
    return out;
}

crop_estimate estimate(const rgba_image &in, const rgba_image &out,
                       const crop_estimate *previous = nullptr) {
    return estimate_crop(make_grey_pyramid(in), out, make_grey_pyramid(out), previous);
}

struct crop_case {
    const char *name;
    float left, top, width, height;
};

class CropEstimate : public ::testing::TestWithParam<crop_case> {};

TEST_P(CropEstimate, FindsTheRegionTheFilterShows) {
    static const rgba_image input = scene_picture(640, 360);
    const crop_case c = GetParam();
    const crop_estimate found =
        estimate(input, crop_like_the_filter(input, c.left, c.top, c.width, c.height));
    ASSERT_EQ(found.view, crop_view::shown) << "residual " << found.residual;
    // Half a percent of the input is about three pixels here.
    EXPECT_NEAR(found.left, c.left, 0.005f);
    EXPECT_NEAR(found.top, c.top, 0.005f);
    EXPECT_NEAR(found.width, c.width, 0.005f);
    EXPECT_NEAR(found.height, c.height, 0.005f);
}

INSTANTIATE_TEST_SUITE_P(
    Regions, CropEstimate,
    ::testing::Values(
        crop_case{"whole", 0.0f, 0.0f, 1.0f, 1.0f},
        crop_case{"centre_half", 0.25f, 0.25f, 0.5f, 0.5f},
        crop_case{"lower_right", 0.6f, 0.55f, 0.3f, 0.3f},
        crop_case{"tenth", 0.4f, 0.3f, 0.1f, 0.1f},
        // Rounding and the size limits can leave a crop a little off the input's aspect.
        crop_case{"at_left_edge_stretched", 0.0f, 0.25f, 0.3f, 0.315f}),
    [](const ::testing::TestParamInfo<crop_case> &param) { return std::string(param.param.name); });

TEST(CropEstimateTracking, FollowsAMovingCropFromThePreviousEstimate) {
    const rgba_image input = scene_picture(640, 360);
    crop_estimate previous = estimate(input, crop_like_the_filter(input, 0.2f, 0.2f, 0.5f, 0.5f));
    ASSERT_EQ(previous.view, crop_view::shown);
    // Small steps, as between two frames of a crop easing toward its target.
    for (int step = 1; step <= 5; ++step) {
        const float left = 0.2f + 0.01f * static_cast<float>(step);
        const float width = 0.5f - 0.008f * static_cast<float>(step);
        const crop_estimate next =
            estimate(input, crop_like_the_filter(input, left, 0.2f, width, width), &previous);
        ASSERT_EQ(next.view, crop_view::shown);
        EXPECT_NEAR(next.left, left, 0.005f);
        EXPECT_NEAR(next.width, width, 0.005f);
        previous = next;
    }
}

TEST(CropEstimateCases, TransparentOutputIsHidden) {
    const rgba_image input = scene_picture(320, 180);
    EXPECT_EQ(estimate(input, make_rgba_image(320, 180)).view, crop_view::hidden);
}

TEST(CropEstimateCases, PicturesThatMatchNowhereAreUnknown) {
    const rgba_image input = scene_picture(320, 180);
    rgba_image flat = make_rgba_image(320, 180);
    std::fill(flat.pixels.begin(), flat.pixels.end(), uint8_t{200});
    EXPECT_EQ(estimate(input, flat).view, crop_view::unknown);

    rgba_image noise = make_rgba_image(320, 180);
    std::mt19937 random(7);
    for (size_t i = 0; i < noise.pixels.size(); ++i)
        noise.pixels[i] = i % 4 == 3 ? 255 : static_cast<uint8_t>(random() & 0xff);
    EXPECT_EQ(estimate(input, noise).view, crop_view::unknown);
}

} // namespace

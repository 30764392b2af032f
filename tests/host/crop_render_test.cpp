// The real filter on a raw-frame source, drawn by the host and read back.
#include "filter_fixture.h"
#include "filtered_source.h"
#include "host_environment.h"
#include "module_data_dir.h"

#include <gtest/gtest.h>
#include <string>

namespace {

constexpr int32_t picture_width = 320;
constexpr int32_t picture_height = 180;

const char *format_name(video_format format) {
    return get_video_format_name(format);
}

// The host converts YUV back to RGB on the graphics card: 8-bit limited-range
// luma carries about 0.86 levels per step and the shader rounds once more, so
// one or two levels of difference are conversion, not sampling.
int colour_tolerance(video_format format) {
    return format == VIDEO_FORMAT_BGRA ? 0 : 2;
}

rgb_picture picture_for(video_format format) {
    return format == VIDEO_FORMAT_BGRA ? test_pattern(picture_width, picture_height)
                                       : grey_test_pattern(picture_width, picture_height);
}

data_ptr settings_with(bool tracking, bool hide) {
    data_ptr settings = default_settings();
    obs_data_set_bool(settings.get(), "enable_tracking", tracking);
    obs_data_set_bool(settings.get(), "hide_without_both_tags", hide);
    obs_data_set_double(settings.get(), "follow_half_life_ms", 0.0);
    return settings;
}

// Tracking goes on only after the last frame arrived, so neither the intake
// nor the worker runs again: the target written here stays in force and the
// host's own tick turns it into the crop the render draws.
void hold_target(filtered_source &f, obs_data_t *settings, crop_rect rect, bool both_seen) {
    obs_data_set_bool(settings, "enable_tracking", true);
    f.update(settings);
    filter_instance *instance = f.instance();
    mutex_lock lock(instance->frame_mutex);
    instance->frame_width = picture_width;
    instance->frame_height = picture_height;
    instance->frame_usable = true;
    instance->target_valid = true;
    instance->target_rect = rect;
    instance->target_frame_width = picture_width;
    instance->target_frame_height = picture_height;
    instance->tags_lost = false;
    instance->both_tags_seen = both_seen;
}

bool crop_becomes(const filtered_source &f, const crop_parameters &expected) {
    return wait_until([&] { return same_crop(f.crop(), expected); });
}

constexpr crop_rect centre_quarter = {picture_width * 0.5f, picture_height * 0.5f,
                                      picture_width * 0.5f, picture_height * 0.5f};
constexpr crop_parameters centre_quarter_crop = {0.5f, 0.5f, 0.25f, 0.25f, 1.0f};

class CropRender : public ::testing::TestWithParam<video_format> {};

TEST_P(CropRender, FreshFilterShowsTheSourceUnchanged) {
    const video_format format = GetParam();
    data_ptr settings = default_settings();
    filtered_source f("fresh", settings.get());
    ASSERT_TRUE(f.ready());
    const rgb_picture picture = picture_for(format);
    ASSERT_TRUE(f.show(picture, format));
    EXPECT_TRUE(same_crop(f.crop(), identity_crop()));

    const rgba_image out = f.render();
    const image_difference d = compare_images(out, opaque(picture));
    EXPECT_LE(d.max_rgb, colour_tolerance(format)) << format_name(format) << ": " << describe(d);
    EXPECT_EQ(d.max_alpha, 0) << format_name(format);
}

INSTANTIATE_TEST_SUITE_P(Formats, CropRender, ::testing::ValuesIn(pushed_formats),
                         [](const auto &param) { return std::string(format_name(param.param)); });

// The sampling reference is bilinear at pixel centres, as the effect's linear
// sampler; the graphics card interpolates with a few bits of fraction, which
// costs at most a level or two at the pattern's sharp cell edges.
constexpr int sampling_tolerance = 2;

TEST(CropRender, TheCentreQuarterFillsTheOutput) {
    data_ptr settings = settings_with(false, false);
    filtered_source f("quarter", settings.get());
    ASSERT_TRUE(f.ready());
    const rgb_picture picture = test_pattern(picture_width, picture_height);
    ASSERT_TRUE(f.show(picture, VIDEO_FORMAT_BGRA));
    hold_target(f, settings.get(), centre_quarter, true);
    ASSERT_TRUE(crop_becomes(f, centre_quarter_crop));

    const image_difference d =
        compare_images(f.render(), crop_reference(picture, 0.25f, 0.25f, 0.5f, 0.5f, picture_width,
                                                  picture_height));
    EXPECT_LE(d.max_rgb, sampling_tolerance) << describe(d);
    EXPECT_EQ(d.max_alpha, 0);
}

TEST(CropRender, HiddenOutputIsFullyTransparent) {
    data_ptr settings = settings_with(true, true);
    filtered_source f("hidden", settings.get());
    ASSERT_TRUE(f.ready());
    const rgb_picture picture = test_pattern(picture_width, picture_height);
    ASSERT_TRUE(f.show(picture, VIDEO_FORMAT_BGRA));
    ASSERT_TRUE(crop_becomes(f, {1.0f, 1.0f, 0.0f, 0.0f, 0.0f})) << "no markers in the picture";

    const rgba_image out = f.render();
    ASSERT_EQ(out.width, picture_width);
    rgba_image nothing = out;
    std::fill(nothing.rgba.begin(), nothing.rgba.end(), uint8_t{0});
    const image_difference d = compare_images(out, nothing);
    EXPECT_EQ(d.max_rgb, 0) << describe(d);
    EXPECT_EQ(d.max_alpha, 0) << describe(d);
}

TEST(CropRender, TrackingOffShowsTheSourceUnchanged) {
    data_ptr settings = settings_with(false, false);
    filtered_source f("tracking-off", settings.get());
    ASSERT_TRUE(f.ready());
    const rgb_picture picture = test_pattern(picture_width, picture_height);
    ASSERT_TRUE(f.show(picture, VIDEO_FORMAT_BGRA));
    hold_target(f, settings.get(), centre_quarter, true);
    ASSERT_TRUE(crop_becomes(f, centre_quarter_crop));

    obs_data_set_bool(settings.get(), "enable_tracking", false);
    f.update(settings.get());
    ASSERT_TRUE(crop_becomes(f, identity_crop()));
    const image_difference d = compare_images(f.render(), opaque(picture));
    EXPECT_EQ(d.max_rgb, 0) << describe(d);
    EXPECT_EQ(d.max_alpha, 0);
}

// An effect of the tests' own with the same parameters that swaps red and
// blue: whatever the filter shows has gone through its effect.
constexpr char marked_effect[] = R"(
uniform float4x4 ViewProj;
uniform texture2d image;
uniform float2 mul_val;
uniform float2 add_val;
uniform float visibility;

sampler_state textureSampler {
	Filter   = Linear;
	AddressU = Clamp;
	AddressV = Clamp;
};

struct VertData {
	float4 pos : POSITION;
	float2 uv  : TEXCOORD0;
};

VertData VSMarked(VertData v_in)
{
	VertData vert_out;
	vert_out.pos = mul(float4(v_in.pos.xyz, 1.0), ViewProj);
	vert_out.uv  = v_in.uv * mul_val + add_val;
	return vert_out;
}

float4 PSMarked(VertData v_in) : TARGET
{
	return image.Sample(textureSampler, v_in.uv).bgra * visibility;
}

technique Draw
{
	pass
	{
		vertex_shader = VSMarked(v_in);
		pixel_shader  = PSMarked(v_in);
	}
}
)";

TEST(CropRender, TrackingOffStillDrawsThroughTheEffect) {
    module_data_dir data("marked-effect");
    data.write("effects/pinvaler.effect", marked_effect);
    data_ptr settings = settings_with(false, false);
    filtered_source f("marked", settings.get());
    ASSERT_TRUE(f.ready());
    const rgb_picture picture = test_pattern(picture_width, picture_height);
    ASSERT_TRUE(f.show(picture, VIDEO_FORMAT_BGRA));

    rgb_picture swapped = picture;
    for (size_t i = 0; i < swapped.rgb.size(); i += 3)
        std::swap(swapped.rgb[i], swapped.rgb[i + 2]);
    const image_difference d = compare_images(f.render(), opaque(swapped));
    EXPECT_EQ(d.max_rgb, 0) << describe(d);
}

} // namespace

// The tick on a real instance: what it copies in, what it publishes for the render.
#include "filter_fixture.h"
#include "host_environment.h"

#include <gtest/gtest.h>
#include <util/platform.h>

namespace {

class ZoomTick : public ::testing::Test {
protected:
    void SetUp() override {
        settings = default_settings();
        obs_data_set_double(settings.get(), "follow_half_life_ms", 0.0);
        instance = create_instance(settings.get());
        ASSERT_NE(instance, nullptr);
    }
    void apply(void (*edit)(obs_data_t *)) {
        edit(settings.get());
        filter_update(instance.get(), settings.get());
    }
    // What the worker and the intake would have published.
    void publish(bool target_valid, crop_rect rect, bool both_seen, bool usable = true) {
        mutex_lock lock(instance->frame_mutex);
        instance->frame_width = 1920;
        instance->frame_height = 1080;
        instance->frame_usable = usable;
        instance->target_valid = target_valid;
        instance->target_rect = rect;
        instance->target_frame_width = 1920;
        instance->target_frame_height = 1080;
        instance->both_tags_seen = both_seen;
        instance->tags_lost = !target_valid && !both_seen;
    }
    crop_parameters tick(float seconds = 1.0f / 30.0f) {
        video_tick(instance.get(), seconds);
        return read_locked<crop_parameters>(instance->render_mutex, [&] { return instance->crop; });
    }
    data_ptr settings;
    instance_ptr instance;
};

constexpr crop_rect centre_quarter = {960.0f, 540.0f, 960.0f, 540.0f};

void expect_identity(const crop_parameters &c, float visibility) {
    EXPECT_EQ(c.crop_scale_x, 1.0f);
    EXPECT_EQ(c.crop_scale_y, 1.0f);
    EXPECT_EQ(c.crop_offset_x, 0.0f);
    EXPECT_EQ(c.crop_offset_y, 0.0f);
    EXPECT_EQ(c.crop_visibility, visibility);
}

TEST_F(ZoomTick, FollowsThePublishedTarget) {
    publish(true, centre_quarter, true);
    const crop_parameters c = tick();
    EXPECT_FLOAT_EQ(c.crop_scale_x, 0.5f);
    EXPECT_FLOAT_EQ(c.crop_scale_y, 0.5f);
    EXPECT_FLOAT_EQ(c.crop_offset_x, 0.25f);
    EXPECT_FLOAT_EQ(c.crop_offset_y, 0.25f);
    EXPECT_EQ(c.crop_visibility, 1.0f);
    EXPECT_TRUE(instance->zoom.zoom_valid);
}

TEST_F(ZoomTick, TrackingOffAndUnusableFramesShowTheWholeSourceEvenWhenHiding) {
    apply([](obs_data_t *s) { obs_data_set_bool(s, "hide_without_both_tags", true); });
    publish(true, centre_quarter, true);
    tick();
    const zoom_state zoom_before = instance->zoom;

    publish(true, centre_quarter, false, /*usable=*/false);
    expect_identity(tick(), 1.0f);

    publish(true, centre_quarter, false);
    apply([](obs_data_t *s) { obs_data_set_bool(s, "enable_tracking", false); });
    expect_identity(tick(), 1.0f);
    EXPECT_EQ(instance->zoom.zoom_center_x, zoom_before.zoom_center_x) << "zoom state untouched";
    EXPECT_TRUE(instance->zoom.zoom_valid);
}

TEST_F(ZoomTick, HidesWhileBothMarkersAreNotSeen) {
    apply([](obs_data_t *s) { obs_data_set_bool(s, "hide_without_both_tags", true); });
    publish(false, {}, false);
    EXPECT_EQ(tick().crop_visibility, 0.0f);
    publish(true, centre_quarter, true);
    const crop_parameters back = tick();
    EXPECT_EQ(back.crop_visibility, 1.0f) << "visible again in the same tick";
    EXPECT_FLOAT_EQ(back.crop_scale_x, 0.5f);
}

TEST_F(ZoomTick, RefreshesTheCanvasSizeForTheWorker) {
    {
        mutex_lock lock(instance->frame_mutex);
        instance->canvas_width = 0;
        instance->canvas_height = 0;
    }
    tick();
    EXPECT_EQ(instance->canvas_width, host_setup::canvas_width);
    EXPECT_EQ(instance->canvas_height, host_setup::canvas_height);
}

TEST_F(ZoomTick, NullInstanceIsIgnored) {
    video_tick(nullptr, 0.1f);
}

} // namespace

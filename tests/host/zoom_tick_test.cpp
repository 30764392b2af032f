// The tick on a real instance: what it copies in, what it publishes for the render.
#include "filter_fixture.h"
#include "host_environment.h"

#include <gtest/gtest.h>

namespace {

class ZoomTick : public ::testing::Test {
protected:
    void SetUp() override {
        obs_data_set_double(settings.get(), "follow_half_life_ms", 0.0);
        obs_data_set_bool(settings.get(), "hide_without_both_tags", true);
        instance = create_instance(settings.get());
        ASSERT_NE(instance, nullptr);
    }
    // What the worker and the intake would have published; the tick's result for the render.
    auto tick(bool target_valid, bool both_seen, bool usable = true) {
        {
            mutex_lock lock(instance->frame_mutex);
            instance->frame_width = instance->target_frame_width = 1920;
            instance->frame_height = instance->target_frame_height = 1080;
            instance->frame_usable = usable;
            instance->target_valid = target_valid;
            instance->target_rect = {960.0f, 540.0f, 960.0f, 540.0f}; // the centre quarter
            instance->both_tags_seen = both_seen;
            instance->tags_lost = !target_valid && !both_seen;
        }
        video_tick(instance.get(), 1.0f / 30.0f);
        const crop_parameters c =
            read_locked<crop_parameters>(instance->render_mutex, [&] { return instance->crop; });
        return std::tuple(c.crop_scale_x, c.crop_scale_y, c.crop_offset_x, c.crop_offset_y,
                          c.crop_visibility);
    }
    data_ptr settings = default_settings();
    instance_ptr instance;
};

const auto identity = std::tuple(1.0f, 1.0f, 0.0f, 0.0f, 1.0f);

TEST_F(ZoomTick, HidesWithoutBothMarkersAndFollowsTheTarget) {
    {
        mutex_lock lock(instance->frame_mutex);
        instance->canvas_width = instance->canvas_height = 0;
    }
    EXPECT_EQ(std::get<4>(tick(false, false)), 0.0f);
    EXPECT_EQ(instance->canvas_width, host_setup::canvas_width) << "refreshed for the worker";
    EXPECT_EQ(instance->canvas_height, host_setup::canvas_height);
    EXPECT_EQ(tick(true, true), std::tuple(0.5f, 0.5f, 0.25f, 0.25f, 1.0f))
        << "visible again in the same tick";
    video_tick(nullptr, 0.1f);
}

TEST_F(ZoomTick, TrackingOffAndUnusableFramesShowTheWholeSourceEvenWhenHiding) {
    tick(true, true);
    const zoom_state zoom_before = instance->zoom;
    EXPECT_EQ(tick(true, false, /*usable=*/false), identity);
    obs_data_set_bool(settings.get(), "enable_tracking", false);
    filter_update(instance.get(), settings.get());
    EXPECT_EQ(tick(false, false), identity);
    EXPECT_EQ(instance->zoom.zoom_center_x, zoom_before.zoom_center_x) << "zoom state untouched";
    EXPECT_TRUE(instance->zoom.zoom_valid);
}

} // namespace

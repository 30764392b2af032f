// The tick on a real instance: what it copies in, what it publishes for the render.
#include "host_harness.h"

#include <gtest/gtest.h>

namespace {

TEST(ZoomTick, HidesFollowsAndShowsTheWholeSourceWhenTrackingIsOffOrTheFrameUnusable) {
    data_ptr settings = default_settings();
    obs_data_set_double(settings.get(), "follow_half_life_ms", 0.0);
    obs_data_set_bool(settings.get(), "hide_without_both_tags", true);
    instance_ptr instance = create_instance(settings.get());
    ASSERT_NE(instance, nullptr);
    // Publishes what the worker and the intake would have, ticks, returns what the render gets.
    const auto tick = [&](bool target_valid, bool both_seen, bool usable) {
        read_locked<bool>(instance->frame_mutex, [&] {
            instance->frame_width = instance->target_frame_width = 1920;
            instance->frame_height = instance->target_frame_height = 1080;
            instance->target_rect = {960.0f, 540.0f, 960.0f, 540.0f}; // the centre quarter
            instance->target_valid = target_valid;
            instance->tags_lost = !target_valid && !both_seen;
            instance->both_tags_seen = both_seen;
            return instance->frame_usable = usable;
        });
        video_tick(instance.get(), 1.0f / 30.0f);
        const auto c =
            read_locked<crop_parameters>(instance->render_mutex, [&] { return instance->crop; });
        return std::tuple(c.crop_scale_x, c.crop_scale_y, c.crop_offset_x, c.crop_offset_y,
                          c.crop_visibility);
    };
    const auto identity = std::tuple(1.0f, 1.0f, 0.0f, 0.0f, 1.0f);
    read_locked<bool>(instance->frame_mutex, [&] { return instance->canvas_width = 0; });
    EXPECT_EQ(std::get<4>(tick(false, false, true)), 0.0f) << "hidden";
    EXPECT_EQ(instance->canvas_width, host_setup::canvas_width) << "refreshed for the worker";
    EXPECT_EQ(tick(true, true, true), std::tuple(0.5f, 0.5f, 0.25f, 0.25f, 1.0f));
    const float zoom_center_x = instance->zoom.zoom_center_x;
    EXPECT_EQ(tick(true, false, false), identity) << "unusable frame, even while hiding";
    obs_data_set_bool(settings.get(), "enable_tracking", false);
    filter_update(instance.get(), settings.get());
    EXPECT_EQ(tick(false, false, true), identity) << "tracking off, even while hiding";
    EXPECT_EQ(instance->zoom.zoom_center_x, zoom_center_x) << "zoom state untouched";
    video_tick(nullptr, 0.1f);
}

} // namespace

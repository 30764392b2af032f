// A filter the host still draws after it was taken off its source: a user
// removed it while the host was drawing a frame, or the host draws the filter
// on its own.
#include "host_environment.h"

#include <gtest/gtest.h>
#include <obs.h>

namespace {

TEST(DetachedFilter, IsDrawnAsNothingWithoutHarm) {
    obs_source_t *filter = obs_source_create_private("pinvaler_filter", "detached", nullptr);
    ASSERT_NE(filter, nullptr);
    const size_t mark = log_mark();
    for (int frame = 0; frame < 2; ++frame) {
        obs_enter_graphics();
        obs_source_video_render(filter);
        obs_leave_graphics();
    }
    EXPECT_EQ(count_log_since(mark, LOG_INFO, "filter 'detached' being processed with no target!"),
              2u)
        << "the host refused to begin the filter";
    obs_source_release(filter);
    obs_wait_for_destroy_queue();
}

} // namespace

#include "run_summary.h"

#include <gtest/gtest.h>

namespace {

constexpr int32_t width = 1280, height = 720;

// A frame of second `s` where both markers are seen and the crop sits `offset`
// of the wanted width away from where the pair wants it.
frame_record tracked(double s, float offset, float size_ratio = 1.0f) {
    frame_record f;
    f.seconds = s;
    f.found_a = f.found_b = true;
    f.margin_a = 100.0f;
    f.margin_b = 120.0f;
    f.side_a = f.side_b = 80.0f;
    f.detect_ms = 30.0;
    f.expected_valid = true;
    f.expected_x = 640.0f;
    f.expected_y = 360.0f;
    f.expected_w = 400.0f;
    f.expected_h = 225.0f;
    f.view = crop_view::shown;
    f.crop_x = 640.0f + offset * 400.0f;
    f.crop_y = 360.0f;
    f.crop_w = 400.0f * size_ratio;
    f.crop_h = 225.0f * size_ratio;
    return f;
}

frame_record lost(double s, crop_view view, float crop_w = 1280.0f) {
    frame_record f;
    f.seconds = s;
    f.view = view;
    f.crop_x = 640.0f;
    f.crop_y = 360.0f;
    f.crop_w = crop_w;
    f.crop_h = crop_w * 720.0f / 1280.0f;
    return f;
}

TEST(RunSummary, JudgesEachSecondOnItsOwnFrames) {
    std::vector<frame_record> frames;
    for (int i = 0; i < 10; ++i)
        frames.push_back(tracked(0.1 * i, 0.05f)); // close: following
    for (int i = 0; i < 10; ++i)
        frames.push_back(tracked(1.0 + 0.1 * i, 0.30f)); // far off the pair
    for (int i = 0; i < 10; ++i)
        frames.push_back(tracked(2.0 + 0.1 * i, 0.0f, 2.0f)); // right place, twice too wide
    for (int i = 0; i < 10; ++i)
        frames.push_back(i < 6 ? lost(3.0 + 0.1 * i, crop_view::shown)
                               : tracked(3.0 + 0.1 * i, 0.0f)); // markers in 4 of 10 frames
    for (int i = 0; i < 10; ++i)
        frames.push_back(lost(4.0 + 0.1 * i, crop_view::hidden));
    for (int i = 0; i < 10; ++i)
        frames.push_back(lost(5.0 + 0.1 * i, crop_view::unknown));

    const std::vector<second_summary> s = summarise_seconds(frames, width, height);
    ASSERT_EQ(s.size(), 6u);
    EXPECT_TRUE(s[0].both_markers);
    EXPECT_TRUE(s[0].following);
    EXPECT_EQ(s[0].shows, second_shows::crop);
    EXPECT_NEAR(s[0].offset, 0.05f, 1e-4f);
    EXPECT_FLOAT_EQ(s[0].margin_a, 100.0f);
    EXPECT_FLOAT_EQ(s[0].margin_b, 120.0f);
    EXPECT_FALSE(s[1].following);
    EXPECT_FALSE(s[2].following);
    EXPECT_FALSE(s[3].both_markers);
    EXPECT_FALSE(s[3].following);
    EXPECT_EQ(s[3].frames_both, 4);
    EXPECT_EQ(s[3].shows, second_shows::whole);
    EXPECT_EQ(s[4].shows, second_shows::hidden);
    EXPECT_EQ(s[5].shows, second_shows::unknown);

    const run_totals t = total_up(s, 60, 2);
    EXPECT_EQ(result_line(t), "result seconds=6 both_markers=3 following=1 zoomed=3 whole=1 "
                              "hidden=1 unknown=1 frames=60 late_frames=2");
}

TEST(RunSummary, AWholeFrameNeverCountsAsFollowing) {
    std::vector<frame_record> frames;
    for (int i = 0; i < 10; ++i) {
        frame_record f = tracked(0.1 * i, 0.0f);
        // The pair wants (almost) everything; the filter shows everything.
        f.expected_w = 1240.0f;
        f.crop_w = 1280.0f;
        f.crop_h = 720.0f;
        frames.push_back(f);
    }
    const std::vector<second_summary> s = summarise_seconds(frames, width, height);
    EXPECT_EQ(s[0].shows, second_shows::whole);
    EXPECT_FALSE(s[0].following);
}

} // namespace

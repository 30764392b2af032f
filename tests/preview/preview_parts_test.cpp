// The rules behind the tool's verdicts: what it refuses to run, and how a second
// of frames is judged.
#include "preview_options.h"
#include "run_summary.h"

#include <gtest/gtest.h>

namespace {

// The filter normalises out-of-range settings; the tool refuses them, naming
// the option, instead of previewing something other than what was asked.
TEST(PreviewOptions, RefusesWhatTheFilterWouldQuietlyChange) {
    const std::vector<std::vector<std::string>> refused = {
        {"--ids", "0,0"},         {"--ids", "0,2"},          {"--ids", "0"},
        {"--family", "tag36h11"}, {"--detect-width", "100"}, {"--detect-width", "4000"},
        {"--detect-fps", "0.5"},  {"--half-life-ms", "-1"},  {"--padding", "nan"},
        {"--size", "641x360"},    {"--size", "64x36"},       {"--size", "1280"},
        {"--seconds", "0"},       {"--seconds", "x"},        {"--input"},
        {"--fast=yes"},           {"--frobnicate"},
    };
    for (const auto &args : refused) {
        const options_result r = parse_preview_options(args);
        EXPECT_FALSE(r.ok) << args.front();
        EXPECT_NE(r.error.find(args.front().substr(0, args.front().find('='))), std::string::npos)
            << r.error;
    }
}

// Each row is a second of ten frames of a 1280x720 source, the pair wanting a
// crop `wanted` wide at the centre. The first `seen` frames see both markers and
// show a crop `shown` wide, `off` of `wanted` to the right; the others see no
// marker and show the whole frame.
TEST(RunSummary, JudgesEachSecondOnItsOwnFrames) {
    const struct {
        float off, shown, wanted;
        int32_t seen;
        crop_view view;
        bool both_markers, following;
        second_shows shows;
    } rows[] = {
        {0.05f, 400, 400, 10, crop_view::shown, true, true, second_shows::crop},
        {0.30f, 400, 400, 10, crop_view::shown, true, false, second_shows::crop},   // far off
        {0.0f, 800, 400, 10, crop_view::shown, true, false, second_shows::crop},    // too wide
        {0.0f, 400, 400, 4, crop_view::shown, false, false, second_shows::whole},   // mostly lost
        {0.0f, 1280, 1240, 10, crop_view::shown, true, false, second_shows::whole}, // not zoomed
        {0.0f, 0, 0, 0, crop_view::hidden, false, false, second_shows::hidden},
        {0.0f, 0, 0, 0, crop_view::unknown, false, false, second_shows::unknown},
    };
    std::vector<frame_record> frames;
    for (size_t s = 0; s < std::size(rows); ++s)
        for (int32_t i = 0; i < 10; ++i) {
            const auto &r = rows[s];
            const bool seen = i < r.seen;
            const float w = seen ? r.shown : 1280.0f;
            // In frame_record's order: time, markers (no details), view, crop, wanted crop.
            frames.push_back({static_cast<double>(s) + 0.1 * i, seen, seen, 0, 0, 0, 0, 0, r.view,
                              640.0f + (seen ? r.off * r.wanted : 0.0f), 360, w, w * 0.5625f, seen,
                              640, 360, r.wanted, r.wanted * 0.5625f});
        }
    const std::vector<second_summary> seconds = summarise_seconds(frames, 1280, 720);
    ASSERT_EQ(seconds.size(), std::size(rows));
    for (size_t s = 0; s < std::size(rows); ++s) {
        EXPECT_EQ(seconds[s].both_markers, rows[s].both_markers) << "second " << s;
        EXPECT_EQ(seconds[s].following, rows[s].following) << "second " << s;
        EXPECT_EQ(seconds[s].shows, rows[s].shows) << "second " << s;
    }
    EXPECT_NEAR(seconds[0].offset, 0.05f, 1e-4f);
    EXPECT_EQ(result_line(total_up(seconds, 70, 2)),
              "result seconds=7 both_markers=4 following=1 zoomed=3 whole=2 hidden=1 unknown=1 "
              "frames=70 late_frames=2");
}

} // namespace

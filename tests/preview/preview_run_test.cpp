// The tool run as a user runs it, in the real host with the built plug-in (under xvfb-run).
#include "marker_pass.h"
#include "run_summary.h"
#include "video_writer.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <tuple>

namespace {

const std::string scratch = PINVALER_PREVIEW_SCRATCH;
constexpr size_t npos = std::string::npos;

struct tool_run {
    int status = -1;
    std::string out, err;
};

void clear_scratch() {
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directories(scratch);
}

// Runs in the scratch folder, so paths in `args` are relative to it.
tool_run run_tool(const std::string &args) {
    const std::string command =
        "cd '" + scratch + "' && '" PINVALER_PREVIEW_TOOL "' " + args + " >stdout.txt 2>stderr.txt";
    const int raw = std::system(command.c_str());
    const auto slurp = [](const std::string &path) {
        return std::string(std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {});
    };
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(scratch + "/stdout.txt"),
            slurp(scratch + "/stderr.txt")};
}

// A field of "result seconds=6 both_markers=4 ...", the summary's last line; -1 if missing.
int result_field(const std::string &out, const std::string &key) {
    const size_t at = out.find(" " + key + "=", out.rfind("\nresult "));
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + key.size() + 2);
}

// Settings the filter would quietly normalise are refused too, naming the option.
TEST(PreviewRun, FailsClearlyOnBadInputOutputOrPlugin) {
    clear_scratch();
    std::ofstream(scratch + "/notes.mp4") << "not a video\n";
    const std::tuple<std::string, int, const char *> cases[] = {
        {"--input none.mp4", 3, "none.mp4: no such file"},
        {"--input notes.mp4 --out o", 3, "notes.mp4: not a video file"},
        {"--seconds 1 --size 320x180 --out notes.mp4/o", 4, "cannot create the output folder"},
        {"--seconds 1 --size 320x180 --out o --module none.so", 5, "no plug-in at"},
        {"--seconds 1 --size 320x180 --out o --module notes.mp4", 5, "did not load"},
        {"--ids 0,0", 2, "--ids"},
        {"--detect-width 4000", 2, "--detect-width"},
        {"--size 641x360", 2, "--size"},
    };
    for (const auto &[args, status, message] : cases) {
        const tool_run run = run_tool(args);
        EXPECT_EQ(run.status, status) << args << "\n" << run.out << run.err;
        EXPECT_NE(run.err.find(message), npos) << args << "\n" << run.err;
    }
}

// One scene run per feed serves every check: raw frames, read as they come, and the picture drawn
// on the GPU, read back. Hiding also shows that transparent output survives the lossless spool.
TEST(PreviewRun, BuiltInSceneShowsTheCropFollowingBothMarkers) {
    clear_scratch();
    for (const bool gpu : {false, true}) {
        const std::string out = gpu ? "gpu" : "scene";
        const tool_run run =
            run_tool(std::string(gpu ? "--gpu-source " : "") +
                     "--hide-without-both --seconds 6 --size=320x180 --out " + out);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        SCOPED_TRACE(run.out);
        EXPECT_EQ(result_field(run.out, "frames"), 180);
        // Both markers are in view for most of the scene, and the crop should be on them then.
        EXPECT_GE(result_field(run.out, "both_markers"), 4);
        EXPECT_GE(2 * result_field(run.out, "following"), result_field(run.out, "both_markers"));
        EXPECT_GE(result_field(run.out, "hidden"), 1);
        EXPECT_EQ(run.out.find("; shown as a picture drawn on the GPU") != npos, gpu);
        EXPECT_NE(
            run.out.find(gpu ? "\nPinvale: reading the picture as drawn (the source draws on "
                               "the GPU and hands over no raw frames)\n"
                             : "\nPinvale: reading the source's raw frames (BGRA, 320x180)\n"),
            npos);
        EXPECT_FALSE(std::filesystem::exists(scratch + "/" + out + "/.filter-output.mkv"));
    }
    // What the tool's --check says of a file: "<file>: h264, 640x180, 180 frames, 6.00 s".
    EXPECT_NE(run_tool("--check scene/side-by-side.mp4").out.find(", 640x180, 180 frames"), npos);
    EXPECT_NE(run_tool("--check scene/contact-sheet.png").out.find(": png, "), npos);

    // Its own video as a clip: decoded by FFmpeg and fed to the host as decoded.
    const tool_run clip = run_tool("--input scene/side-by-side.mp4 --seconds 1 --fast --out clip");
    ASSERT_EQ(clip.status, 0) << clip.out << clip.err;
    EXPECT_NE(clip.out.find("frames go in as decoded"), npos) << clip.out;
    EXPECT_EQ(result_field(clip.out, "frames"), 30) << clip.out;
}

// A still clip with nothing to match on but the markers over a gradient: the summary reports the
// filter's own crop, on the pair from the second second on, where its geometry wants it.
TEST(PreviewRun, LowTextureClipReportsTheFiltersOwnCrop) {
    clear_scratch();
    constexpr int32_t width = 640, height = 360, seconds = 4;
    rgba_image frame(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t *p = frame.at(x, y);
            p[0] = p[1] = p[2] = static_cast<uint8_t>(70 + 110 * y / height);
            p[3] = 255;
        }
    const tag_detector detector(tag_family_kind::tag16h5);
    // Off the middle: a picture that tells nothing vertically pulls an estimate there.
    const scene_quad grids[2] = {{{{60, 20}, {140, 20}, {140, 100}, {60, 100}}},
                                 {{{440, 130}, {520, 130}, {520, 210}, {440, 210}}}};
    for (int id = 0; id < 2; ++id)
        draw_marker(frame, *marker_pattern_of(detector.family.get(), id, true), grids[id], 1.0, 20,
                    235);
    video_writer writer;
    std::string error;
    ASSERT_TRUE(open_video_writer(writer, scratch + "/gradient.mp4", width, height, {30, 1},
                                  video_quality::viewing, error))
        << error;
    for (int i = 0; i < seconds * 30; ++i)
        ASSERT_TRUE(write_video_frame(writer, frame, error)) << error;
    ASSERT_TRUE(finish_video_writer(writer, error)) << error;

    // Where the filter's geometry puts the crop, on the tool's canvas (the source's size).
    grey_image luma(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            luma.at(x, y) = frame.at(x, y)[1];
    const marker_frame found =
        detect_markers(detector, default_settings_snapshot, luma, width, height, width, height);
    ASSERT_TRUE(found.expected.valid);

    const tool_run run = run_tool("--input gradient.mp4 --out gradient");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    SCOPED_TRACE(run.out);
    EXPECT_EQ(result_field(run.out, "seconds"), seconds);
    EXPECT_EQ(result_field(run.out, "both_markers"), seconds);
    EXPECT_GE(result_field(run.out, "following"), seconds - 1);
    EXPECT_GE(result_field(run.out, "zoomed"), seconds - 1);
    EXPECT_EQ(result_field(run.out, "hidden"), 0);
    // The last second's row: "crop WxH at LEFT,TOP" in source pixels, the filter's exact crop.
    const size_t row = run.out.find("\n    3-4 ");
    ASSERT_NE(row, npos);
    float w = 0, h = 0, left = 0, top = 0;
    ASSERT_EQ(std::sscanf(run.out.c_str() + run.out.find(" crop ", row), " crop %fx%f at %f,%f", &w,
                          &h, &left, &top),
              4);
    const crop_target &t = found.expected;
    EXPECT_NEAR(w, t.width, 1.0f);
    EXPECT_NEAR(h, t.height, 1.0f);
    EXPECT_NEAR(left, t.center_x - t.width / 2, 1.0f);
    EXPECT_NEAR(top, t.center_y - t.height / 2, 1.0f);
}

// A second of ten 1280x720 frames, the pair wanting a crop `wanted` wide at the centre: the first
// `seen` see both markers and show a crop `shown` wide, `off` of `wanted` to the right; the others
// see none and show the whole frame.
TEST(RunSummary, JudgesEachSecondOnItsOwnFrames) {
    const struct {
        float off, shown, wanted;
        int32_t seen;
        bool both_markers, following;
    } rows[] = {
        {0.05f, 400, 400, 10, true, true},   // close
        {0.3f, 400, 400, 10, true, false},   // far off the pair
        {0.0f, 800, 400, 10, true, false},   // twice too wide
        {0.0f, 400, 400, 4, false, false},   // markers lost in most frames: the whole frame
        {0.0f, 1280, 1240, 10, true, false}, // the pair wants nearly everything: not zoomed
    };
    std::vector<frame_record> frames;
    for (size_t s = 0; s < std::size(rows); ++s)
        for (int32_t i = 0; i < 10; ++i) {
            const auto &r = rows[s];
            const bool seen = i < r.seen;
            const float w = seen ? r.shown : 1280.0f;
            const float centre_x = 640.0f + (seen ? r.off * r.wanted : 0.0f);
            frames.push_back(
                {.seconds = static_cast<double>(s) + 0.1 * i,
                 .found_a = seen,
                 .found_b = seen,
                 .view = {true, centre_x - w * 0.5f, 360 - w * 0.5625f * 0.5f, w, w * 0.5625f},
                 .expected_valid = seen,
                 .expected_x = 640,
                 .expected_y = 360,
                 .expected_w = r.wanted,
                 .expected_h = r.wanted * 0.5625f});
        }
    const std::vector<second_summary> seconds = summarise_seconds(frames, 1280, 720);
    ASSERT_EQ(seconds.size(), std::size(rows));
    for (size_t s = 0; s < std::size(rows); ++s)
        EXPECT_EQ(std::pair(seconds[s].both_markers, seconds[s].following),
                  std::pair(rows[s].both_markers, rows[s].following))
            << "second " << s << ": both markers, following";
}

} // namespace

// The tool itself, run as a user runs it: the real host, the built plug-in, a
// short built-in scene. The host needs a display: CTest runs this under xvfb-run.
// The scene runs, last, leave their outputs in the build tree for a look.
#include "run_summary.h"

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

// Settings the filter would quietly normalise are refused too, naming the option,
// rather than previewing something other than what was asked.
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

// One scene run serves every check. Hiding while the markers are not both seen
// also shows that transparent output survives the tool's lossless spool. The
// scene goes in as raw frames, which the filter reads as they come.
TEST(PreviewRun, BuiltInSceneShowsTheCropFollowingBothMarkers) {
    clear_scratch();
    const tool_run run = run_tool("--hide-without-both --seconds 6 --size=320x180 --out scene");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    SCOPED_TRACE(run.out);
    EXPECT_EQ(result_field(run.out, "frames"), 180);
    // Both markers are in view for most of the scene (then one is covered, then
    // both are gone for a while), and the crop should be on them then.
    EXPECT_GE(result_field(run.out, "both_markers"), 4);
    EXPECT_GE(2 * result_field(run.out, "following"), result_field(run.out, "both_markers"));
    EXPECT_GE(result_field(run.out, "hidden"), 1);
    EXPECT_EQ(result_field(run.out, "unknown"), 0);
    EXPECT_NE(run.out.find("\nPinvale: reading the source's raw frames (BGRA, 320x180)\n"), npos);
    // What the tool's --check says of a file: "<file>: h264, 640x180, 180 frames, 6.00 s".
    EXPECT_NE(run_tool("--check scene/side-by-side.mp4").out.find(", 640x180, 180 frames"), npos);
    EXPECT_NE(run_tool("--check scene/contact-sheet.png").out.find(": png, "), npos);
    EXPECT_FALSE(std::filesystem::exists(scratch + "/scene/.filter-output.mkv"));

    // Its own video as a clip: decoded by FFmpeg and fed to the host as decoded.
    const tool_run clip = run_tool("--input scene/side-by-side.mp4 --seconds 1 --fast --out clip");
    ASSERT_EQ(clip.status, 0) << clip.out << clip.err;
    EXPECT_NE(clip.out.find("frames go in as decoded"), npos) << clip.out;
    EXPECT_EQ(result_field(clip.out, "frames"), 30) << clip.out;
}

// The same scene drawn on the GPU, as an image or a capture source is: the filter reads the
// picture back and follows the markers as it does on raw frames.
TEST(PreviewRun, BuiltInSceneDrawnOnTheGpuIsFollowedToo) {
    std::filesystem::remove_all(scratch + "/gpu");
    std::filesystem::create_directories(scratch);
    const tool_run run =
        run_tool("--gpu-source --hide-without-both --seconds 6 --size=320x180 --out gpu");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    SCOPED_TRACE(run.out);
    EXPECT_NE(run.out.find("; shown as a picture drawn on the GPU"), npos);
    EXPECT_NE(run.out.find("\nPinvale: reading the picture as drawn (the source draws on the GPU "
                           "and hands over no raw frames)\n"),
              npos);
    EXPECT_EQ(result_field(run.out, "frames"), 180);
    EXPECT_GE(result_field(run.out, "both_markers"), 4);
    EXPECT_GE(2 * result_field(run.out, "following"), result_field(run.out, "both_markers"));
    EXPECT_GE(result_field(run.out, "hidden"), 1);
    EXPECT_EQ(result_field(run.out, "unknown"), 0);
}

// How a second of ten frames of a 1280x720 source is judged, the pair wanting a
// crop `wanted` wide at the centre: the first `seen` frames see both markers and
// show a crop `shown` wide, `off` of `wanted` to the right; the others see no
// marker and show the whole frame. The run's verdicts mean only what this holds.
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
            // In frame_record's order: time, markers (no details), view, crop, wanted crop.
            frames.push_back({static_cast<double>(s) + 0.1 * i, seen, seen, 0, 0, 0, 0, 0,
                              crop_view::shown, 640.0f + (seen ? r.off * r.wanted : 0.0f), 360, w,
                              w * 0.5625f, seen, 640, 360, r.wanted, r.wanted * 0.5625f});
        }
    const std::vector<second_summary> seconds = summarise_seconds(frames, 1280, 720);
    ASSERT_EQ(seconds.size(), std::size(rows));
    for (size_t s = 0; s < std::size(rows); ++s)
        EXPECT_EQ(std::pair(seconds[s].both_markers, seconds[s].following),
                  std::pair(rows[s].both_markers, rows[s].following))
            << "second " << s << ": both markers, following";
}

} // namespace

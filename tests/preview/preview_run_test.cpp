// The tool itself, run as a user runs it: the real host, the built plug-in, a
// short built-in scene. The host needs a display: CTest runs this under xvfb-run.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace {

const std::string scratch = "/tmp/pinvaler-preview-" + std::to_string(getpid());

class PreviewRun : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(scratch); }
    void TearDown() override { std::filesystem::remove_all(scratch); }
};

struct tool_run {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string &path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

tool_run run_tool(const std::string &args) {
    const std::string out = scratch + "/stdout.txt", err = scratch + "/stderr.txt";
    const std::string command =
        "'" PINVALER_PREVIEW_TOOL "' " + args + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
}

// A field of "result seconds=6 both_markers=4 ...", the summary's last line; -1 if missing.
int result_field(const std::string &out, const std::string &key) {
    const size_t at = out.find(" " + key + "=", out.rfind("\nresult "));
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + key.size() + 2);
}

// What the tool's --check says of a file it wrote: "<file>: h264, 1280x360, 180 frames, 6.00 s".
std::string decoded(const std::string &file) {
    return run_tool("--check '" + file + "'").out;
}

// One scene run serves every check. Hiding while the markers are not both seen
// also shows that transparent output survives the tool's lossless spool.
TEST_F(PreviewRun, BuiltInSceneShowsTheCropFollowingBothMarkers) {
    const std::string out = scratch + "/out";
    const tool_run run =
        run_tool("--hide-without-both --seconds 6 --size 640x360 --out '" + out + "'");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    SCOPED_TRACE(run.out);
    EXPECT_NE(run.out.find("\"Pinvale Marker Zoom\""), std::string::npos);
    const auto result = [&](const char *key) { return result_field(run.out, key); };
    EXPECT_EQ(result("seconds"), 6);
    EXPECT_EQ(result("frames"), 180);
    // Both markers are in view for most of the scene (then one is covered, then
    // both are gone for a while), and the crop should be on them then.
    EXPECT_GE(result("both_markers"), 4);
    EXPECT_GE(2 * result("following"), result("both_markers"));
    EXPECT_GE(result("zoomed"), result("following"));
    EXPECT_GE(result("hidden"), 1);
    EXPECT_EQ(result("unknown"), 0);
    EXPECT_NE(decoded(out + "/side-by-side.mp4").find(", 1280x360, 180 frames"), std::string::npos);
    EXPECT_NE(decoded(out + "/contact-sheet.png").find(": png, "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out + "/.filter-output.mkv"));

    // Its own video as a clip: decoded by FFmpeg and fed to the host as decoded.
    const tool_run clip = run_tool(
        "--input '" + out + "/side-by-side.mp4' --seconds 1 --fast --out '" + scratch + "/clip'");
    ASSERT_EQ(clip.status, 0) << clip.out << clip.err;
    EXPECT_NE(clip.out.find("frames go in as decoded"), std::string::npos) << clip.out;
    EXPECT_EQ(result_field(clip.out, "frames"), 30) << clip.out;
    EXPECT_NE(decoded(scratch + "/clip/side-by-side.mp4").find(", 1920x270, 30 frames"),
              std::string::npos);
}

TEST_F(PreviewRun, FailsClearlyOnBadInputOutputOrPlugin) {
    const std::string text = scratch + "/notes.mp4", scene = "--seconds 1 --size 320x180 ";
    const std::string out = " --out '" + scratch + "/o'";
    std::ofstream(text) << "not a video\n";
    std::ofstream(scratch + "/a-file") << "in the way\n";
    const std::tuple<std::string, int, const char *> cases[] = {
        {"--input '" + scratch + "/none.mp4'", 3, "none.mp4: no such file"},
        {"--input '" + text + "'" + out, 3, "notes.mp4: not a video file"},
        {scene + "--out '" + scratch + "/a-file/out'", 4, "cannot create the output folder"},
        {scene + "--module '" + scratch + "/none.so'" + out, 5, "no plug-in at"},
        {scene + "--module '" + text + "'" + out, 5, "did not load"},
        {"--ids 0,0", 2, "--ids"},
    };
    for (const auto &[args, status, message] : cases) {
        const tool_run run = run_tool(args);
        EXPECT_EQ(run.status, status) << args << "\n" << run.out << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << args << "\n" << run.err;
    }
}

} // namespace

// The tool itself, run as a user runs it: the real host, the built plug-in, a
// short built-in scene. The host needs a display: CTest runs this under xvfb-run.
#include "clip_reader.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct tool_run {
    int status = -1;
    std::string out, err;
};

struct scratch_dir {
    std::string path;
    scratch_dir() {
        char name[] = "/tmp/pinvaler-preview-XXXXXX";
        path = mkdtemp(name);
    }
    ~scratch_dir() { std::filesystem::remove_all(path); }
};

std::string slurp(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

tool_run run_tool(const scratch_dir &dir, const std::string &args) {
    const std::string out = dir.path + "/stdout.txt";
    const std::string err = dir.path + "/stderr.txt";
    const std::string command =
        std::string("'") + PINVALER_PREVIEW_TOOL + "' " + args + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    tool_run run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
}

// "result a=1 b=2" from the last line of the summary.
std::map<std::string, int> result_fields(const std::string &out) {
    std::map<std::string, int> fields;
    const size_t at = out.rfind("\nresult ");
    if (at == std::string::npos)
        return fields;
    std::istringstream line(out.substr(at + 8));
    std::string pair;
    while (line >> pair) {
        const size_t equals = pair.find('=');
        if (equals != std::string::npos)
            fields[pair.substr(0, equals)] = std::stoi(pair.substr(equals + 1));
    }
    return fields;
}

int decoded_frames(const std::string &path, int &width, int &height) {
    clip_reader clip;
    std::string error;
    if (!open_clip(path, clip, error))
        return -1;
    av_frame_ptr frame = make_av_frame();
    double seconds = 0.0;
    int frames = 0;
    while (read_clip_frame(clip, frame.get(), seconds, error)) {
        width = frame->width;
        height = frame->height;
        ++frames;
        av_frame_unref(frame.get());
    }
    return error.empty() ? frames : -1;
}

TEST(PreviewRun, BuiltInSceneShowsTheCropFollowingBothMarkers) {
    const scratch_dir dir;
    const std::string out_dir = dir.path + "/out";
    const tool_run run = run_tool(dir, "--seconds 6 --size 640x360 --out '" + out_dir + "'");
    ASSERT_EQ(run.status, 0) << run.out << run.err;

    int width = 0, height = 0;
    EXPECT_EQ(decoded_frames(out_dir + "/side-by-side.mp4", width, height), 180);
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 360);
    EXPECT_EQ(decoded_frames(out_dir + "/contact-sheet.png", width, height), 1);
    EXPECT_GT(width, 900); // two columns of side-by-side pairs
    EXPECT_FALSE(std::filesystem::exists(out_dir + "/.filter-output.mkv"));

    const std::map<std::string, int> result = result_fields(run.out);
    ASSERT_EQ(result.count("seconds"), 1u) << run.out;
    EXPECT_EQ(result.at("seconds"), 6);
    EXPECT_EQ(result.at("frames"), 180);
    // The scene keeps both markers in view for most of its length (they are
    // covered, then gone, for a while), and the crop should be on them then.
    EXPECT_GE(result.at("both_markers"), 4) << run.out;
    EXPECT_GE(2 * result.at("following"), result.at("both_markers")) << run.out;
    EXPECT_GE(result.at("zoomed"), result.at("following")) << run.out;
    EXPECT_EQ(result.at("unknown"), 0) << run.out;
    EXPECT_NE(run.out.find("\"Pinvale Marker Zoom\""), std::string::npos) << run.out;

    // Its own video as a clip: decoded by FFmpeg and fed to the host as decoded.
    const tool_run clip = run_tool(dir, "--input '" + out_dir +
                                            "/side-by-side.mp4' --seconds 2 "
                                            "--fast --out '" +
                                            dir.path + "/clip'");
    ASSERT_EQ(clip.status, 0) << clip.out << clip.err;
    EXPECT_NE(clip.out.find("frames go in as decoded"), std::string::npos) << clip.out;
    EXPECT_EQ(result_fields(clip.out).at("frames"), 60) << clip.out;
    EXPECT_EQ(decoded_frames(dir.path + "/clip/side-by-side.mp4", width, height), 60);
    EXPECT_EQ(width, 2 * 960);
}

TEST(PreviewRun, HiddenOutputIsReportedAsHidden) {
    const scratch_dir dir;
    const tool_run run = run_tool(dir, "--hide-without-both --seconds 4 --size 320x180 --out '" +
                                           dir.path + "/out'");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::map<std::string, int> result = result_fields(run.out);
    ASSERT_EQ(result.count("hidden"), 1u) << run.out;
    // Both markers are in view at first; later one is covered and then both are gone.
    EXPECT_GE(result.at("following"), 1) << run.out;
    EXPECT_GE(result.at("hidden"), 1) << run.out;
    EXPECT_EQ(result.at("unknown"), 0) << run.out;
}

TEST(PreviewRun, FailsClearlyOnBadInputOutputOrPlugin) {
    const scratch_dir dir;
    const std::string text = dir.path + "/notes.mp4";
    std::ofstream(text) << "not a video\n";
    std::ofstream(dir.path + "/a-file") << "in the way\n";
    const struct {
        const char *name;
        std::string args;
        int status;
        std::string message;
    } cases[] = {
        {"missing input", "--input '" + dir.path + "/none.mp4'", 3, "none.mp4: no such file"},
        {"undecodable input", "--input '" + text + "' --out '" + dir.path + "/o'", 3,
         "notes.mp4: not a video file"},
        {"unwritable output", "--seconds 1 --size 320x180 --out '" + dir.path + "/a-file/out'", 4,
         "cannot create the output folder"},
        {"missing plug-in",
         "--seconds 1 --size 320x180 --out '" + dir.path + "/o' --module '" + dir.path +
             "/none.so'",
         5, "no plug-in at"},
        {"not a plug-in",
         "--seconds 1 --size 320x180 --out '" + dir.path + "/o' --module '" + text + "'", 5,
         "did not load"},
        {"bad option", "--ids 0,0", 2, "--ids"},
    };
    for (const auto &c : cases) {
        const tool_run run = run_tool(dir, c.args);
        EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.out << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << "\n" << run.err;
    }
}

} // namespace

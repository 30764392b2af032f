#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Everything the command line can say; defaults are the filter's own.
struct preview_options {
    std::string input; // empty: the built-in scene
    int32_t scene_width = 1280;
    int32_t scene_height = 720;
    double seconds = 0.0; // 0: the scene's default length, or the whole clip
    std::string out_dir = "preview-out";
    std::string module_path; // empty: the build tree's module
    std::string data_dir;    // empty: the repository's data folder

    int32_t tag_family = 0; // 0 = tag16h5, 1 = tagCircle21h7
    int32_t tag_id_a = 0;
    int32_t tag_id_b = 1;
    int32_t detect_width = 960;
    double detect_fps = 5.0;
    double half_life_ms = 250.0;
    double padding = 0.0;
    bool hide_without_both = false;
    bool perf = false;

    bool fast = false;
    bool host_log = false;
    std::string check_file; // --check: decode this file and report, nothing else
    bool help = false;
};

inline constexpr double default_scene_seconds = 12.0;
inline constexpr double scene_fps = 30.0;

struct options_result {
    bool ok = false;
    preview_options options;
    std::string error; // one line, for the user
};

// Reads the arguments after the program name. Values may follow as the next
// argument or after '=' (--ids=0,1).
options_result parse_preview_options(const std::vector<std::string> &args);

std::string preview_usage(const std::string &program);

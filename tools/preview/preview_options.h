#pragma once

#include "filter/settings.h"

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

    settings_snapshot filter = default_settings_snapshot;

    bool gpu_source = false; // the input drawn on the GPU, as an image or a capture source is
    bool fast = false;
    bool host_log = false;
    std::string check_file; // --check: decode this file and report, nothing else
    bool help = false;
};

inline constexpr double default_scene_seconds = 12.0;
inline constexpr double scene_fps = 30.0;

// The detector library's name of a family; --family takes it too.
const char *family_name(tag_family_kind family);

struct options_result {
    bool ok = false;
    preview_options options;
    std::string error; // one line, for the user
};

// Reads the arguments after the program name. Values may follow as the next
// argument or after '=' (--ids=0,1).
options_result parse_preview_options(const std::vector<std::string> &args);

std::string preview_usage(const std::string &program);

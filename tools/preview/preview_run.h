#pragma once

#include "preview_options.h"

#include <atomic>
#include <string>

// Exit statuses, also listed in --help.
enum preview_exit {
    exit_ok = 0,
    exit_failed = 1, // the host failed while running, or an output could not be finished
    exit_usage = 2,  // bad command line
    exit_input = 3,  // missing or undecodable input
    exit_output = 4, // the output folder cannot be written
    exit_plugin = 5, // the plug-in did not load or the filter could not be created
    exit_interrupted = 130,
};

struct run_paths {
    std::string module_path;
    std::string data_dir;
};

// Both passes: the filter in the real host at the clip's pace, then the
// tool's own detection, the side-by-side video, the contact sheet and the summary.
int run_preview(const preview_options &options, const run_paths &paths,
                const std::atomic<bool> &interrupted);

// --check: decodes every frame of a video or picture file and says what it holds.
int check_media_file(const std::string &path);

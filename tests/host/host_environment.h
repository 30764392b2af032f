#pragma once

#include <chrono>
#include <functional>
#include <obs-module.h>
#include <string>
#include <vector>

// The real host, started once for the whole test binary.
struct host_setup {
    static constexpr uint32_t canvas_width = 640;
    static constexpr uint32_t canvas_height = 360;
};

// The module the host loaded from the build tree; the tests' own copy of the
// plug-in's code is pointed at it too, so both find the same data files.
obs_module_t *loaded_module();

struct log_line {
    int level;
    std::string text;
};

// Every line the host logged since start-up, formatted.
std::vector<log_line> captured_log();
// Number of captured lines at `level` whose text contains `needle`.
size_t count_log(int level, const std::string &needle);
// Marks the log position so that later queries can look only at newer lines.
size_t log_mark();
std::vector<log_line> captured_log_since(size_t mark);
size_t count_log_since(size_t mark, int level, const std::string &needle);

// Polls `condition` until it holds or `timeout` passes; returns the last result.
bool wait_until(const std::function<bool()> &condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Threads of this process, from /proc.
int process_thread_count();

// Waits until the host's own allocation and thread counts stop moving, so a
// test can compare them before and after its own work.
void wait_for_quiet_host();

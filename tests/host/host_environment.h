#pragma once

#include <chrono>
#include <functional>
#include <obs-module.h>
#include <string>
#include <vector>

// The real host, started once for the whole test binary.
struct host_setup {
    static constexpr uint32_t canvas_width = 640, canvas_height = 360;
};

struct log_line {
    int level;
    std::string text;
};

// The host's log is captured from start-up; a mark lets a test look only at newer lines.
size_t log_mark();
std::vector<log_line> captured_log_since(size_t mark);
// Lines since `mark` at `level` whose text contains `needle`.
size_t count_log_since(size_t mark, int level, const std::string &needle);

// Polls `condition` until it holds or `timeout` passes; returns the last result.
bool wait_until(const std::function<bool()> &condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Threads of this process, from /proc.
int process_thread_count();

// Waits until the host's own allocation and thread counts stop moving, so a
// test can compare them before and after its own work.
void wait_for_quiet_host();

#include "terminal_output.h"

#include <cstdio>
#include <unistd.h>

progress_bar make_progress_bar(const std::string &task) {
    progress_bar bar;
    bar.enabled = isatty(STDOUT_FILENO) == 1;
    bar.task = task;
    return bar;
}

void show_progress(progress_bar &bar, long done, long total, const std::string &detail) {
    if (!bar.enabled)
        return;
    constexpr int width = 30;
    const int permille = total > 0 ? static_cast<int>(done * 1000 / total) : -1;
    if (permille == bar.last_permille && total > 0)
        return;
    bar.last_permille = permille;
    char line[256];
    if (total > 0) {
        const int filled = static_cast<int>(done * width / total);
        std::string blocks(static_cast<size_t>(filled), '#');
        blocks.append(static_cast<size_t>(width - filled), '.');
        std::snprintf(line, sizeof(line), "\r%s [%s] %3ld%% %s", bar.task.c_str(), blocks.c_str(),
                      done * 100 / total, detail.c_str());
    } else {
        std::snprintf(line, sizeof(line), "\r%s: %ld frames %s", bar.task.c_str(), done,
                      detail.c_str());
    }
    std::fputs(line, stdout);
    std::fputs("\033[K", stdout);
    std::fflush(stdout);
    bar.drawn = true;
}

void clear_progress(progress_bar &bar) {
    if (bar.enabled && bar.drawn) {
        std::fputs("\r\033[K", stdout);
        std::fflush(stdout);
        bar.drawn = false;
        bar.last_permille = -1;
    }
}

void finish_progress(progress_bar &bar) {
    clear_progress(bar);
}

void print_line(progress_bar &bar, const std::string &line) {
    clear_progress(bar);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

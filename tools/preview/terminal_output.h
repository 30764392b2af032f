#pragma once

#include <string>

// A one-line progress bar on stdout, drawn only when stdout is a terminal.
struct progress_bar {
    bool enabled = false;
    bool drawn = false;
    std::string task;
    int last_permille = -1;
};

progress_bar make_progress_bar(const std::string &task);
// total 0 means unknown: the count alone is shown.
void show_progress(progress_bar &bar, long done, long total, const std::string &detail);
// Clears the bar so that an ordinary line can be printed.
void clear_progress(progress_bar &bar);
void finish_progress(progress_bar &bar);

// Prints a line above the bar.
void print_line(progress_bar &bar, const std::string &line);

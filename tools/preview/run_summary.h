#pragma once

#include "crop_estimate.h"

#include <cstdint>
#include <string>
#include <vector>

// What one frame showed: the tool's own detection of the two markers, and
// where the filter looked. Pixel values are in source pixels.
struct frame_record {
    double seconds = 0.0;
    bool found_a = false, found_b = false;
    float margin_a = 0.0f, margin_b = 0.0f;
    float side_a = 0.0f, side_b = 0.0f;
    double detect_ms = 0.0;
    crop_view view = crop_view::unknown;
    float crop_x = 0.0f, crop_y = 0.0f, crop_w = 0.0f, crop_h = 0.0f; // centre and size
    bool expected_valid = false;
    float expected_x = 0.0f, expected_y = 0.0f, expected_w = 0.0f, expected_h = 0.0f;
};

enum class second_shows { whole, crop, hidden, unknown };

struct second_summary {
    int32_t second = 0;
    int32_t frames = 0;
    int32_t frames_a = 0, frames_b = 0, frames_both = 0;
    float margin_a = 0.0f, margin_b = 0.0f; // medians; 0 when not found
    float side_a = 0.0f, side_b = 0.0f;
    float detect_ms = 0.0f; // mean
    second_shows shows = second_shows::unknown;
    float crop_x = 0.0f, crop_y = 0.0f, crop_w = 0.0f, crop_h = 0.0f; // medians, when a crop
    float offset = -1.0f;      // median distance of the crop's centre from where the pair wants it,
                               // as a fraction of that width; -1 when there is nothing to compare
    bool both_markers = false; // both found in at least half of the frames
    bool following = false;    // zoomed onto the pair: close to where the pair wants the crop
};

struct run_totals {
    int32_t seconds = 0;
    int32_t both_markers = 0;
    int32_t following = 0;
    int32_t zoomed = 0;
    int32_t whole = 0;
    int32_t hidden = 0;
    int32_t unknown = 0;
    int32_t frames = 0;
    int32_t late_frames = 0;
};

std::vector<second_summary> summarise_seconds(const std::vector<frame_record> &frames,
                                              int32_t source_width, int32_t source_height);

run_totals total_up(const std::vector<second_summary> &seconds, int32_t frames,
                    int32_t late_frames);

std::string summary_table(const std::vector<second_summary> &seconds);

// One line a script can read: "result seconds=12 both_markers=9 following=8 ...".
std::string result_line(const run_totals &totals);

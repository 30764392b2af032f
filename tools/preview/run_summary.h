#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Where the filter looked in one frame, as its state procedure reported it while the frame was
// drawn, in source pixels.
struct filter_view {
    bool visible = true; // false: the filter drew nothing (hiding)
    float left = 0.0f, top = 0.0f, width = 0.0f, height = 0.0f;
};

// Reads the procedure's crop (fractions of the frame) in pixels of a width x height frame.
filter_view view_of_crop(bool visible, double scale_x, double scale_y, double offset_x,
                         double offset_y, int32_t width, int32_t height);

// What one frame showed: the tool's own detection of the two markers, and where the filter
// looked. Pixel values are in source pixels.
struct frame_record {
    double seconds = 0.0;
    bool found_a = false, found_b = false;
    float margin_a = 0.0f, margin_b = 0.0f;
    float side_a = 0.0f, side_b = 0.0f;
    double detect_ms = 0.0;
    filter_view view;
    bool expected_valid = false;
    float expected_x = 0.0f, expected_y = 0.0f, expected_w = 0.0f,
          expected_h = 0.0f; // centre, size
};

enum class second_shows { whole, crop, hidden };

struct second_summary {
    int32_t second = 0;
    int32_t frames = 0;
    int32_t frames_a = 0, frames_b = 0, frames_both = 0;
    float margin_a = 0.0f, margin_b = 0.0f; // medians; 0 when not found
    float side_a = 0.0f, side_b = 0.0f;
    float detect_ms = 0.0f; // mean
    second_shows shows = second_shows::whole;
    filter_view crop;          // the last crop of the second, when it shows a crop
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

#pragma once

#include "marker_pass.h"
#include "marker_scene.h"
#include "run_summary.h"

#include <string>
#include <vector>

// Marks up the input picture (`scale` picture pixels per source pixel): the
// markers as found, where the pair wants the crop, and where the filter looks.
void draw_input_overlay(rgba_image &picture, float scale, const marker_frame &markers,
                        const filter_view &crop, double seconds);

// The two halves next to each other; a hidden output shows as a dark checkerboard.
rgba_image side_by_side(const rgba_image &left, const rgba_image &right, bool hidden);

rgba_image resize_picture(const rgba_image &picture, int32_t width, int32_t height);

struct sheet_cell {
    rgba_image picture;
    std::string caption;
};

// Cells in two columns, each with its caption above.
rgba_image contact_sheet(const std::vector<sheet_cell> &cells);

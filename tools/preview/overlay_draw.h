#pragma once

#include "marker_scene.h"

#include <string>

struct draw_colour {
    uint8_t r, g, b;
};

// Blends a line of the given thickness (pixels) into the image; clipped at the edges.
void draw_line(rgba_image &image, float x0, float y0, float x1, float y1, float thickness,
               draw_colour colour, float opacity = 1.0f);

// Closed outline through the points in order.
void draw_polygon(rgba_image &image, const float (*points)[2], int count, float thickness,
                  draw_colour colour);

void fill_rect(rgba_image &image, int32_t x, int32_t y, int32_t width, int32_t height,
               draw_colour colour, float opacity);

// Upper-case 5x7 lettering on a dark band; lower-case letters print in upper
// case except 'x'. Returns the width drawn.
int32_t draw_label(rgba_image &image, int32_t x, int32_t y, const std::string &text, int32_t scale,
                   draw_colour colour);

int32_t label_width(const std::string &text, int32_t scale);
int32_t label_height(int32_t scale);

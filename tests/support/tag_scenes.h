#pragma once

// The pictures the detection tests and benchmarks share: tag A (id 0), tag B
// (id 1) and a distractor (id 2) at fixed places, laid out for a 960 pixel
// wide frame and scaled to the width asked for.
#include "marker_scene.h"

#include <vector>

enum class tag_scene {
    pair,         // A and B well apart, the distractor between them
    only_b,       // B and the distractor
    too_close,    // A and B nearer to each other than one tag side
    low_contrast, // A, B and the distractor at a contrast the detector decodes below margin
    empty,        // the background alone
};

struct placed_marker {
    int id;
    scene_quad outer; // where the whole marker image was drawn
};

struct scene_picture {
    gray_image image;
    std::vector<placed_marker> markers;
};

// Textured, mildly blurred and noisy, with a slight perspective on A and B.
scene_picture make_tag_scene(apriltag_family_t *family, tag_scene kind, int width, int height);

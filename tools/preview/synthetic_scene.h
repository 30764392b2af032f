#pragma once

#include "filter/settings.h"
#include "marker_scene.h"

#include <string>
#include <vector>

// Pose of the marker pair at one moment. Positions and sizes are fractions of
// the frame (sizes of its height); angles in degrees.
struct pair_pose {
    float center_x, center_y; // midpoint between the two markers
    float spread_x, spread_y; // tag A sits at centre - spread, tag B at centre + spread
    float size;               // side of each marker's sheet of paper
    float yaw, pitch, roll;
};

// Where the square a detector locks onto was drawn: corners in the order of
// the printed marker's top-left, top-right, bottom-right, bottom-left.
struct scene_marker {
    bool in_frame; // the whole sheet lies inside the frame and nothing covers it
    scene_quad corners;
};

struct scene_moment {
    double time;
    std::string label;
};

// A desk-like textured background with the two markers of a family moving over
// it: drifting and scaling, tilting, tag B briefly covered by a hand, both
// leaving the frame for a while, then coming back closer.
struct synthetic_scene {
    int32_t width = 0;
    int32_t height = 0;
    double fps = 30.0;
    double seconds = 0.0;
    int32_t frame_count = 0;
    rgba_image background;

    marker_pattern pattern_a, pattern_b; // as printed

    std::vector<double> key_times;
    std::vector<pair_pose> key_poses;
    double cover_in = 0, cover_full = 0, cover_clear = 0, cover_out = 0;
    double gone_from = 0, gone_until = 0;
};

// False with a message when the family or an id cannot be drawn.
bool make_synthetic_scene(int32_t width, int32_t height, double seconds, double fps,
                          tag_family_kind family, int32_t tag_id_a, int32_t tag_id_b,
                          synthetic_scene &scene, std::string &error);

pair_pose scene_pose_at(const synthetic_scene &scene, double time);

// Draws frame `index` into `out` (resized as needed); markers[0] is tag A, markers[1] tag B.
void render_scene_frame(const synthetic_scene &scene, int32_t index, rgba_image &out,
                        scene_marker markers[2]);

// Moments worth a picture, with what happens then.
std::vector<scene_moment> scene_moments(const synthetic_scene &scene);

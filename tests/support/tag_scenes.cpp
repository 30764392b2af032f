#include "tag_scenes.h"

scene_picture make_tag_scene(apriltag_family_t *family, tag_scene kind, int width, int height) {
    scene_picture scene{gray_image(width, height, 128), {}};
    fill_texture(scene.image, 7);
    const double s = width / 960.0;
    const placed_marker a{0, square_quad(150 * s, 120 * s, 96 * s, 0.06)};
    const placed_marker b{1, square_quad(700 * s, 360 * s, 96 * s, 0.04)};
    const placed_marker distractor{2, square_quad(450 * s, 60 * s, 80 * s)};
    const bool faint = kind == tag_scene::low_contrast;
    if (kind == tag_scene::pair || faint)
        scene.markers = {a, b, distractor};
    else if (kind == tag_scene::only_b)
        scene.markers = {b, distractor};
    else if (kind == tag_scene::too_close)
        scene.markers = {{0, square_quad(300 * s, 200 * s, 96 * s)},
                         {1, square_quad(400 * s, 200 * s, 96 * s)},
                         distractor};
    // Four pixels between the close pair: a margin would overlap the other
    // marker's outer cells, which hold data bits in the circle family.
    const double quiet_cells = kind == tag_scene::too_close ? 0.0 : 1.0;
    for (const placed_marker &marker : scene.markers)
        draw_marker(scene.image, family, marker.id, marker.outer, faint ? 118 : 20,
                    faint ? 134 : 235, quiet_cells);
    blur_121(scene.image);
    add_noise(scene.image, 3, 6);
    return scene;
}

#include "tag_scenes.h"

namespace {

constexpr int id_a = 0;
constexpr int id_b = 1;
constexpr int id_distractor = 2;

} // namespace

scene_picture make_tag_scene(apriltag_family_t *family, tag_scene kind, int width, int height) {
    scene_picture scene{gray_image(width, height, 128), {}};
    fill_texture(scene.image, 7);
    const double s = width / 960.0;

    uint8_t dark = 20;
    uint8_t light = 235;
    double quiet_cells = 1.0;
    switch (kind) {
    case tag_scene::pair:
    case tag_scene::low_contrast:
        scene.markers = {{id_a, square_quad(150 * s, 120 * s, 96 * s, 0.06)},
                         {id_b, square_quad(700 * s, 360 * s, 96 * s, 0.04)},
                         {id_distractor, square_quad(450 * s, 60 * s, 80 * s)}};
        if (kind == tag_scene::low_contrast) {
            dark = 118;
            light = 134;
        }
        break;
    case tag_scene::only_b:
        scene.markers = {{id_b, square_quad(700 * s, 360 * s, 96 * s, 0.04)},
                         {id_distractor, square_quad(450 * s, 60 * s, 80 * s)}};
        break;
    case tag_scene::too_close:
        // Four pixels between the images: a margin would overlap the other
        // marker's outer cells, which hold data bits in the circle family.
        quiet_cells = 0.0;
        scene.markers = {{id_a, square_quad(300 * s, 200 * s, 96 * s)},
                         {id_b, square_quad(400 * s, 200 * s, 96 * s)},
                         {id_distractor, square_quad(450 * s, 60 * s, 80 * s)}};
        break;
    case tag_scene::empty:
        break;
    }
    for (const placed_marker &marker : scene.markers)
        draw_marker(scene.image, family, marker.id, marker.outer, dark, light, quiet_cells);
    blur_121(scene.image);
    add_noise(scene.image, 3, 6);
    return scene;
}

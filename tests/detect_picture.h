#pragma once

// A detector for one family with the filter's fixed settings; it owns the
// family, which must outlive it, and the result of its last detection.
#include "detect/detector_setup.h"
#include "filter/settings.h"
#include "marker_scene.h"

#include <vector>

struct tag_detector {
    int32_t kind;
    apriltag_family_t *family = create_tag_family(kind);
    apriltag_detector_t *detector = apriltag_detector_create();
    zarray_t *array = nullptr;
    std::vector<const apriltag_detection_t *> found;

    explicit tag_detector(int32_t family_kind) : kind(family_kind) {
        apriltag_detector_add_family(detector, family);
        configure_detector(detector, 2);
    }
    ~tag_detector() {
        if (array)
            apriltag_detections_destroy(array);
        apriltag_detector_destroy(detector);
        destroy_tag_family(family, kind);
    }
    tag_detector(const tag_detector &) = delete;
    tag_detector &operator=(const tag_detector &) = delete;

    const std::vector<const apriltag_detection_t *> &detect(gray_image &image) {
        if (array)
            apriltag_detections_destroy(array);
        image_u8_t header{image.width, image.height, image.width, image.pixels.data()};
        array = apriltag_detector_detect(detector, &header);
        found.assign(static_cast<size_t>(zarray_size(array)), nullptr);
        for (int i = 0; i < zarray_size(array); ++i)
            zarray_get(array, i, &found[static_cast<size_t>(i)]);
        return found;
    }
    // The exact decode of `id`, whatever its margin.
    const apriltag_detection_t *find(int id) const {
        for (const apriltag_detection_t *d : found)
            if (d->id == id && d->hamming == 0)
                return d;
        return nullptr;
    }
};

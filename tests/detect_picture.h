#pragma once

// One detection with the filter's fixed detector settings on a grey picture.
#include "detect/detector_setup.h"
#include "filter/settings.h"
#include "marker_scene.h"

#include <vector>

struct detected_tags {
    apriltag_detector_t *detector = apriltag_detector_create();
    zarray_t *array;

    detected_tags(apriltag_family_t *family, gray_image &image) {
        apriltag_detector_add_family(detector, family);
        configure_detector(detector, 2);
        image_u8_t header{image.width, image.height, image.width, image.pixels.data()};
        array = apriltag_detector_detect(detector, &header);
    }
    ~detected_tags() {
        apriltag_detections_destroy(array);
        apriltag_detector_destroy(detector);
    }
    detected_tags(const detected_tags &) = delete;
    detected_tags &operator=(const detected_tags &) = delete;

    std::vector<const apriltag_detection_t *> all() const {
        std::vector<const apriltag_detection_t *> out(static_cast<size_t>(zarray_size(array)));
        for (int i = 0; i < zarray_size(array); ++i)
            zarray_get(array, i, &out[static_cast<size_t>(i)]);
        return out;
    }
    // The exact decode of `id`, whatever its margin.
    const apriltag_detection_t *find(int id) const {
        for (const apriltag_detection_t *d : all())
            if (d->id == id && d->hamming == 0)
                return d;
        return nullptr;
    }
};

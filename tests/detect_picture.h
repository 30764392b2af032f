#pragma once

// A detector for one family with the filter's fixed settings; it owns the
// family, which must outlive it.
#include "detect/detector_setup.h"
#include "filter/settings.h"
#include "tag_scenes.h"

#include <vector>

struct tag_detector {
    int32_t kind;
    apriltag_family_t *family = create_tag_family(kind);
    apriltag_detector_t *detector = apriltag_detector_create();

    explicit tag_detector(int32_t family_kind) : kind(family_kind) {
        apriltag_detector_add_family(detector, family);
        configure_detector(detector, 2);
    }
    ~tag_detector() {
        apriltag_detector_destroy(detector);
        destroy_tag_family(family, kind);
    }
    tag_detector(const tag_detector &) = delete;
    tag_detector &operator=(const tag_detector &) = delete;

    // The detections, copied out of the library's result array.
    std::vector<apriltag_detection_t> detect(gray_image &image) {
        image_u8_t header{image.width, image.height, image.width, image.pixels.data()};
        zarray_t *array = apriltag_detector_detect(detector, &header);
        std::vector<apriltag_detection_t> found;
        for (int i = 0; i < zarray_size(array); ++i) {
            apriltag_detection_t *d = nullptr;
            zarray_get(array, i, &d);
            found.push_back(*d);
        }
        apriltag_detections_destroy(array);
        return found;
    }
};

#include "detect/detector_setup.h"
#include "filter/settings.h"

#include <tag16h5.h>
#include <tagCircle21h7.h>

apriltag_family_t *create_tag_family(int32_t tag_family) {
    return tag_family == tag_family_circle21h7 ? tagCircle21h7_create() : tag16h5_create();
}

void destroy_tag_family(apriltag_family_t *family, int32_t tag_family) {
    if (tag_family == tag_family_circle21h7)
        tagCircle21h7_destroy(family);
    else
        tag16h5_destroy(family);
}

int32_t detector_thread_count(int physical_cores, int logical_cores) {
    const int cores = physical_cores > 0 ? physical_cores : logical_cores;
    if (cores <= 0)
        return 2;
    int threads = cores / 2;
    if (threads < 1)
        threads = 1;
    if (threads > 4)
        threads = 4;
    return threads;
}

void configure_detector(apriltag_detector_t *detector, int32_t threads) {
    detector->nthreads = threads;
    detector->quad_decimate = 1.0f;
    detector->quad_sigma = 0.0f;
    detector->refine_edges = false;
    detector->decode_sharpening = 0.25;
    detector->qtp.deglitch = 0;
}

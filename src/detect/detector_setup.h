#pragma once

#include <apriltag.h>
#include <cstdint>

// Families are created and freed by kind: the library has one pair of calls per family.
apriltag_family_t *create_tag_family(int32_t tag_family);
void destroy_tag_family(apriltag_family_t *family, int32_t tag_family);

// Half the cores (physical when known), between 1 and 4; 2 when nothing is known.
int32_t detector_thread_count(int physical_cores, int logical_cores);

// The fixed detection settings; everything else keeps the library's defaults.
void configure_detector(apriltag_detector_t *detector, int32_t threads);

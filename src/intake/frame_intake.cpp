#include "filter/filter_callbacks.h"

obs_source_frame *filter_video(void *, obs_source_frame *frame) {
    return frame;
}

#include "filter/filter_callbacks.h"

void video_tick(void *, float) {}

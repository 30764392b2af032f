#pragma once

#include "filter/filter_instance.h"

struct canvas_size {
    uint32_t width;
    uint32_t height;
};

// The host's canvas (base) size, 0 x 0 when the host has no video. Host threads
// only: the host rewrites these settings on its own threads without a lock.
canvas_size host_canvas_size();

// Publishes the canvas size under the frame mutex for the worker.
void publish_canvas_size(filter_instance *instance);

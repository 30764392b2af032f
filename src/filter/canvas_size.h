#pragma once

#include "filter/filter_instance.h"

// Reads the host's canvas size on the calling host thread and publishes it
// under the frame mutex for the worker; 0 x 0 when the host has no video.
void publish_canvas_size(filter_instance *instance);

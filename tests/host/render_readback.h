#pragma once

#include "test_picture.h"

#include <obs.h>

// Draws the source, filters included, through the host into a transparent
// RGBA texture of the source's own size and reads it back. Blending is off,
// so the pixels are exactly what the last filter drew.
rgba_image render_source(obs_source_t *source);

// Waits until the host's graphics thread has begun `frames` more frames
// (each of which ticks and renders every source); false on timeout.
bool wait_for_host_frames(int frames);

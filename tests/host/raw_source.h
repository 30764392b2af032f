#pragma once

#include <obs.h>

// A private input of the tests' own type that delivers raw frames pushed with
// obs_source_output_video, as a camera does; the newest frame is shown at once
// (unbuffered). Filters attached to it see every pushed frame.
obs_source_t *create_raw_source(const char *name);

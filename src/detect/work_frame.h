#pragma once

#include "filter/filter_instance.h"

// Makes `frame` hold a zero-filled width x height buffer. A buffer that
// already fits is kept with its contents and numbers; a new one replaces it
// only once allocated, with sources and sequence reset to 0. False, and the
// frame unchanged, for a size below 1 or too large to count, or when the
// allocation fails. The same rule sizes the intake's input frame.
bool ensure_work_frame(detection_frame &frame, int32_t width, int32_t height);

// Copies the input's picture, source size and sequence into the work frame.
// False, with the work frame unchanged, when that cannot be done.
bool copy_detection_frame(detection_frame &work, const detection_frame &input);

// Takes the newest published frame into the worker's work frame when there is
// one it has not taken yet. A frame still at sequence 0 holds no picture.
void take_newest_frame(filter_instance *instance);

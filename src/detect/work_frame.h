#pragma once

#include "filter/filter_instance.h"

// Copies the input's picture, source size and sequence into the work frame.
// The buffer is sized by the intake's own rule, so it is reused while the
// size stays. False, with the work frame unchanged, when that cannot be done.
bool copy_detection_frame(detection_frame &work, const detection_frame &input);

// Takes the newest published frame into the worker's work frame when there is
// one it has not taken yet. A frame still at sequence 0 holds no picture.
void take_newest_frame(filter_instance *instance);

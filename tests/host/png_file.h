#pragma once

#include "test_picture.h"

#include <string>

// Writes an opaque RGB PNG; false when the file could not be written.
bool write_png(const std::string &path, const rgb_picture &picture);

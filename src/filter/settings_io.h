#pragma once

#include "filter/filter_instance.h"

// Reads the host settings into a normalised snapshot and writes the corrected
// tag ids back, so the panel always shows the pair in use.
settings_snapshot read_settings(const filter_instance *instance, obs_data_t *settings);

#pragma once

#include "filter/filter_instance.h"

// Starts a new performance window at start_ns (0 closes it) with every counter zeroed.
// The caller holds the performance mutex.
void open_perf_window(filter_instance *instance, uint64_t start_ns);

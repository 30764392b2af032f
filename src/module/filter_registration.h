#pragma once

#include <obs-module.h>

// The filter type as the host sees it: its id, flags and callback table.
extern const obs_source_info pinvaler_filter_info;

const char *filter_get_name(void *type_data);

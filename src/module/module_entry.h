#pragma once

#include <obs-module.h>

// The entry points that obs-module.h declares only through its helper macros.
MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module);
MODULE_EXPORT uint32_t obs_module_ver(void);
MODULE_EXPORT const char *obs_module_author(void);

#pragma once

#include <obs-module.h>

// The module handle and the locale lookup are module-wide; the host sets them
// through the entry points before any instance exists.
obs_module_t *plugin_module();
void set_plugin_module(obs_module_t *module);
lookup_t *plugin_locale_lookup();
void set_plugin_locale_lookup(lookup_t *lookup);

// Display text for a locale key, or the key itself when no text is loaded.
const char *module_text(const char *key);

#pragma once

// The module's face towards the host: its identity, the handle and locale the host hands over,
// the locale lookup and the log function with the module's name. CMake reads the version here.
#include <obs-module.h>

#if defined(__GNUC__) || defined(__clang__)
#define PINVALER_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define PINVALER_PRINTF(fmt, args)
#endif

inline constexpr char plugin_module_name[] = "pinvaler-filter";
inline constexpr char plugin_version[] = "1.0.0-rc4";
inline constexpr char plugin_author[] = "The Pinvale developers";
inline constexpr char plugin_default_locale[] = "en-US";
inline constexpr char filter_source_id[] = "pinvaler_filter";
// The host API this module reports (31.1.1), packed as the host packs it: major in the top 8
// bits, minor in the next 8, patch in the low 16. A fixed value rather than the LIBOBS_API_VER of
// whatever libobs the build found, so that every build reports the same; libobs 29 and its
// desktop application only record it and load the module (both checked).
inline constexpr uint32_t plugin_host_api_version = 0x1F010001u;

// Set by the host through obs_module_set_pointer before the module is loaded.
obs_module_t *plugin_module();

// Display text for a locale key, or the key itself when no text is loaded.
const char *module_text(const char *key);

// Logs through the host with the module name in square brackets before the message.
void plugin_log(int level, const char *format, ...) PINVALER_PRINTF(2, 3);

// The entry points that obs-module.h declares only through its helper macros.
MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module);
MODULE_EXPORT uint32_t obs_module_ver(void);
MODULE_EXPORT const char *obs_module_author(void);

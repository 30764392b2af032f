#pragma once

// The plug-in's identity, in one place; CMake reads the version from here.
inline constexpr char plugin_module_name[] = "pinvaler-filter";
inline constexpr char plugin_version[] = "1.0.0-rc4";
inline constexpr char plugin_author[] = "The Pinvale developers";
inline constexpr char plugin_default_locale[] = "en-US";
inline constexpr char filter_source_id[] = "pinvaler_filter";
// Packed as the host packs it: major in the top 8 bits, minor in the next 8, patch in the low 16.
inline constexpr unsigned plugin_host_api_version = 0x1F010001u; // 31.1.1

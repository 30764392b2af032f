#pragma once

#include <util/base.h>

#if defined(__GNUC__) || defined(__clang__)
#define PINVALER_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define PINVALER_PRINTF(fmt, args)
#endif

// Logs through the host with the module name in square brackets before the message.
void plugin_log(int level, const char *format, ...) PINVALER_PRINTF(2, 3);

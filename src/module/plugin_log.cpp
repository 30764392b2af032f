#include "module/plugin_log.h"
#include "module/plugin_identity.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <util/base.h>

void plugin_log(int level, const char *format, ...) {
    // The caller's format is copied into the template as text, so the host
    // still applies its conversions to the caller's arguments.
    const size_t n = 4 + std::strlen(plugin_module_name) + std::strlen(format);
    char *templ = static_cast<char *>(std::malloc(n + 1));
    if (!templ)
        return;
    std::snprintf(templ, n, "[%s] %s", plugin_module_name, format);

    va_list args;
    va_start(args, format);
    blogva(level, templ, args);
    va_end(args);
    std::free(templ);
}

#include "platform/open_default_app.h"

#include <gio/gio.h>

bool open_with_default_app(const char *utf8_path) {
    if (!utf8_path || !*utf8_path)
        return false;
    // Portable set-ups hand back paths relative to the working directory; a URI needs it whole.
    gchar *absolute = g_canonicalize_filename(utf8_path, nullptr);
    gchar *uri = g_filename_to_uri(absolute, nullptr, nullptr);
    g_free(absolute);
    if (!uri)
        return false;
    // GIO spawns the handler detached (no shell, no wait, nothing left to reap).
    GError *error = nullptr;
    const bool accepted = g_app_info_launch_default_for_uri(uri, nullptr, &error);
    g_clear_error(&error);
    g_free(uri);
    return accepted;
}

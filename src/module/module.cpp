// The host's ten entry points, the only symbols the module exports.
#include "module/module.h"
#include "filter/filter.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// Module-wide; the host sets both through the entry points before any instance exists.
obs_module_t *module_handle = nullptr;
lookup_t *locale_lookup = nullptr;
} // namespace

obs_module_t *plugin_module() {
    return module_handle;
}

const char *module_text(const char *key) {
    // The host leaves the pointer alone when it has no text, so the key is the fallback.
    const char *text = key;
    text_lookup_getstr(locale_lookup, key, &text);
    return text;
}

void plugin_log(int level, const char *format, ...) {
    // The caller's format is copied into the template as text, so the host still applies its
    // conversions to the caller's arguments.
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

MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module) {
    module_handle = module;
}

MODULE_EXPORT uint32_t obs_module_ver(void) {
    return plugin_host_api_version;
}

MODULE_EXPORT void obs_module_set_locale(const char *locale) {
    if (locale_lookup)
        text_lookup_destroy(locale_lookup);
    locale_lookup = obs_module_load_locale(module_handle, plugin_default_locale, locale);
}

MODULE_EXPORT void obs_module_free_locale(void) {
    text_lookup_destroy(locale_lookup);
    locale_lookup = nullptr;
}

MODULE_EXPORT bool obs_module_get_string(const char *lookup_string,
                                         const char **translated_string) {
    return text_lookup_getstr(locale_lookup, lookup_string, translated_string);
}

MODULE_EXPORT const char *obs_module_author(void) {
    return plugin_author;
}

MODULE_EXPORT const char *obs_module_name(void) {
    return module_text("Pinvale.ModuleName");
}

MODULE_EXPORT const char *obs_module_description(void) {
    return module_text("Pinvale.ModuleDescription");
}

MODULE_EXPORT bool obs_module_load(void) {
    // The host's verdict on the registration is not ours to second-guess.
    obs_register_source_s(&pinvaler_filter_info, sizeof(pinvaler_filter_info));
    plugin_log(LOG_INFO, "Pinvale filter plugin loaded (version %s)", plugin_version);
    return true;
}

MODULE_EXPORT void obs_module_unload(void) {
    plugin_log(LOG_INFO, "Pinvale filter plugin unloaded");
}

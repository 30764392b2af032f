// The host's ten entry points: the only symbols the module exports.
#include "module/module_entry.h"
#include "module/filter_registration.h"
#include "module/module_text.h"
#include "module/plugin_identity.h"
#include "module/plugin_log.h"

#include <obs-module.h>

MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module) {
    set_plugin_module(module);
}

MODULE_EXPORT uint32_t obs_module_ver(void) {
    return plugin_host_api_version;
}

MODULE_EXPORT void obs_module_set_locale(const char *locale) {
    if (plugin_locale_lookup())
        text_lookup_destroy(plugin_locale_lookup());
    set_plugin_locale_lookup(
        obs_module_load_locale(plugin_module(), plugin_default_locale, locale));
}

MODULE_EXPORT void obs_module_free_locale(void) {
    text_lookup_destroy(plugin_locale_lookup());
    set_plugin_locale_lookup(nullptr);
}

MODULE_EXPORT bool obs_module_get_string(const char *lookup_string,
                                         const char **translated_string) {
    return text_lookup_getstr(plugin_locale_lookup(), lookup_string, translated_string);
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

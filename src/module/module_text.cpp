#include "module/module_text.h"

namespace {
obs_module_t *module_handle = nullptr;
lookup_t *locale_lookup = nullptr;
} // namespace

obs_module_t *plugin_module() {
    return module_handle;
}
void set_plugin_module(obs_module_t *module) {
    module_handle = module;
}
lookup_t *plugin_locale_lookup() {
    return locale_lookup;
}
void set_plugin_locale_lookup(lookup_t *lookup) {
    locale_lookup = lookup;
}

const char *module_text(const char *key) {
    // The host leaves the pointer alone when it has no text, so the key is the fallback.
    const char *text = key;
    text_lookup_getstr(locale_lookup, key, &text);
    return text;
}

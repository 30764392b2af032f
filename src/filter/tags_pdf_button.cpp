#include "filter/tags_pdf_button.h"
#include "module/module_text.h"
#include "platform/open_default_app.h"

namespace {
constexpr char tags_pdf_file[] = "tags/pinvaler-tags-tag16h5-circle21h7.pdf";
}

bool open_tags_pdf_clicked(obs_properties_t *, obs_property_t *, void *) {
    // Looked up on every click, so a file put back while the panel is open is found.
    char *path = obs_find_module_file(plugin_module(), tags_pdf_file);
    if (!path) {
        blog(LOG_WARNING, "Pinvale: tags PDF not found in module data");
        return false;
    }
    if (!open_with_default_app(path))
        blog(LOG_WARNING, "Pinvale: failed to open tags PDF: %s", path);
    bfree(path);
    return false;
}

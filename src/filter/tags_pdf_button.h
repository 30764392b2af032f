#pragma once

#include <obs-module.h>

// The panel button that opens the printable markers sheet with the desktop's
// default viewer. Returns false: the panel needs no rebuild after a click.
bool open_tags_pdf_clicked(obs_properties_t *props, obs_property_t *property, void *data);

#include "module/filter_registration.h"
#include "filter/filter_callbacks.h"
#include "module/module_text.h"
#include "module/plugin_identity.h"

const char *filter_get_name(void *) {
    return module_text("Pinvale.FilterName");
}

namespace {
obs_source_info make_filter_info() {
    obs_source_info info = {};
    info.id = filter_source_id;
    info.type = OBS_SOURCE_TYPE_FILTER;
    info.output_flags = OBS_SOURCE_VIDEO;
    info.get_name = filter_get_name;
    info.create = filter_create;
    info.destroy = filter_destroy;
    info.get_defaults = filter_get_defaults;
    info.get_properties = filter_get_properties;
    info.update = filter_update;
    info.video_tick = video_tick;
    info.video_render = video_render;
    info.filter_video = filter_video;
    return info;
}
} // namespace

const obs_source_info pinvaler_filter_info = make_filter_info();

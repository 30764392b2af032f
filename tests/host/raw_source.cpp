#include "raw_source.h"

#include <mutex>

namespace {

constexpr char raw_source_id[] = "pinvaler_raw_test_source";

const char *raw_source_name(void *) {
    return "Pinvale raw test source";
}

// Nothing of its own: its frames come from the tests.
void *raw_source_create(obs_data_t *, obs_source_t *source) {
    return source;
}

void raw_source_destroy(void *) {}

} // namespace

obs_source_t *create_raw_source(const char *name) {
    static std::once_flag registered;
    std::call_once(registered, [] {
        obs_source_info info{};
        info.id = raw_source_id;
        info.type = OBS_SOURCE_TYPE_INPUT;
        info.output_flags = OBS_SOURCE_ASYNC_VIDEO;
        info.get_name = raw_source_name;
        info.create = raw_source_create;
        info.destroy = raw_source_destroy;
        obs_register_source(&info);
    });
    obs_source_t *source = obs_source_create_private(raw_source_id, name, nullptr);
    if (source)
        obs_source_set_async_unbuffered(source, true);
    return source;
}

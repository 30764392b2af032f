// Loads the built module into the real host, headless, and prints what the host sees of it.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <obs-module.h>
#include <obs.h>
#include <string>

namespace {

void print_log(int level, const char *format, va_list args, void *) {
    if (level > LOG_INFO)
        return;
    char text[2048];
    std::vsnprintf(text, sizeof(text), format, args);
    // Only the plug-in's own lines; the host's start-up chatter is not the point here.
    if (std::strstr(text, "invale"))
        std::printf("  log: %s\n", text);
}

int fail(const char *message) {
    std::fprintf(stderr, "pinvaler-host-check: %s\n", message);
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MODULE.so DATA_DIR\n", argv[0]);
        return 2;
    }
    base_set_log_handler(print_log, nullptr);
    if (!obs_startup("en-US", nullptr, nullptr))
        return fail("the host did not start (is there an X display? try xvfb-run)");

    obs_video_info video{};
    video.graphics_module = "libobs-opengl";
    video.fps_num = 30;
    video.fps_den = 1;
    video.base_width = video.output_width = 1280;
    video.base_height = video.output_height = 720;
    video.output_format = VIDEO_FORMAT_NV12;
    video.gpu_conversion = true;
    video.colorspace = VIDEO_CS_709;
    video.range = VIDEO_RANGE_PARTIAL;
    video.scale_type = OBS_SCALE_BICUBIC;
    if (obs_reset_video(&video) != OBS_VIDEO_SUCCESS)
        return fail("the host could not start its video (OpenGL)");

    std::printf("Loading %s\n", argv[1]);
    obs_module_t *module = nullptr;
    if (obs_open_module(&module, argv[1], argv[2]) != MODULE_SUCCESS || !obs_init_module(module))
        return fail("the module did not load");

    std::printf("Module:      %s\n", obs_get_module_name(module));
    std::printf("Description: %s\n", obs_get_module_description(module));
    std::printf("Author:      %s\n", obs_get_module_author(module));
    const char *id = nullptr;
    for (size_t i = 0; obs_enum_filter_types(i, &id); ++i) {
        if (std::string(id) != "pinvaler_filter")
            continue;
        std::printf("Filter type: %s (\"%s\"), video filter: %s\n", id,
                    obs_source_get_display_name(id),
                    obs_get_source_output_flags(id) & OBS_SOURCE_VIDEO ? "yes" : "no");
        obs_source_t *filter = obs_source_create_private(id, "check", nullptr);
        std::printf("Instance:    %s\n", filter && obs_obj_get_data(filter)
                                             ? "created and destroyed"
                                             : "could not be created");
        obs_source_release(filter);
    }
    obs_shutdown();
    std::printf("Host shut down; %ld host allocations left\n", bnum_allocs());
    return 0;
}

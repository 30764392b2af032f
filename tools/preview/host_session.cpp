#include "host_session.h"

#include "filter/settings_keys.h"
#include "module/plugin_identity.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <graphics/vec4.h>
#include <obs-module.h>
#include <sys/stat.h>
#include <util/platform.h>

namespace {

constexpr char feed_source_id[] = "pinvaler_preview_feed";

// The log handler runs on the host's threads; lines wait here until the main
// thread prints them between frames.
struct log_capture {
    std::mutex mutex;
    std::vector<std::string> pending;
    std::vector<std::string> recent_problems; // host warnings and errors, for failure messages
    std::string adapter;
    std::string plugin_loaded;
    bool everything = false;
    bool diagnostics = false;
};

log_capture &captured() {
    static log_capture capture;
    return capture;
}

void on_host_log(int level, const char *format, va_list args, void *) {
    char text[4096];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(text, sizeof(text), format, copy);
    va_end(copy);
    log_capture &capture = captured();
    std::lock_guard<std::mutex> lock(capture.mutex);
    const std::string line = text;
    const bool perf_line = line.rfind("[Pinvale perf]", 0) == 0;
    const bool plugin_problem = line.rfind("Pinvale:", 0) == 0 && level <= LOG_WARNING;
    if (const char *adapter = std::strstr(text, "Loading up OpenGL on adapter "))
        capture.adapter = adapter + std::strlen("Loading up OpenGL on adapter ");
    if (line.find(std::string("[") + plugin_module_name + "]") != std::string::npos &&
        line.find("loaded") != std::string::npos)
        capture.plugin_loaded = line;
    if (level <= LOG_WARNING) {
        capture.recent_problems.push_back(line);
        if (capture.recent_problems.size() > 20)
            capture.recent_problems.erase(capture.recent_problems.begin());
    }
    if (capture.everything) {
        const char *name = level <= LOG_ERROR     ? "error"
                           : level <= LOG_WARNING ? "warning"
                           : level <= LOG_INFO    ? "info"
                                                  : "debug";
        capture.pending.push_back(std::string("host ") + name + ": " + line);
    } else if ((perf_line && capture.diagnostics) || plugin_problem) {
        capture.pending.push_back(line);
    }
}

const char *feed_get_name(void *) {
    return "Preview feed";
}

void *feed_create(obs_data_t *, obs_source_t *) {
    static int feed_marker = 0;
    return &feed_marker;
}

void feed_destroy(void *) {}

void register_feed_source() {
    obs_source_info info = {};
    info.id = feed_source_id;
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_ASYNC_VIDEO;
    info.get_name = feed_get_name;
    info.create = feed_create;
    info.destroy = feed_destroy;
    obs_register_source(&info);
}

using exchange = host_session::exchange;

// Graphics thread, before the sources tick.
void on_tick(void *data, float) {
    auto *session = static_cast<host_session *>(data);
    std::lock_guard<std::mutex> lock(session->exchange_mutex);
    if (session->state != exchange::queued)
        return;
    obs_source_output_video(session->feed, &session->queued_frame);
    session->state = exchange::pushed;
    session->exchange_signal.notify_all();
}

// Graphics thread, inside the graphics context, after the sources ticked.
void on_draw(void *data, uint32_t, uint32_t) {
    auto *session = static_cast<host_session *>(data);
    {
        std::lock_guard<std::mutex> lock(session->exchange_mutex);
        if (session->state != exchange::pushed)
            return;
    }
    rgba_image &out = session->readback;
    if (out.width != session->render_width || out.height != session->render_height)
        out = make_rgba_image(session->render_width, session->render_height);
    bool read = false;
    gs_texrender_reset(session->texrender);
    if (gs_texrender_begin(session->texrender, static_cast<uint32_t>(session->render_width),
                           static_cast<uint32_t>(session->render_height))) {
        vec4 clear;
        vec4_zero(&clear);
        gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
        gs_ortho(0.0f, static_cast<float>(session->source_width), 0.0f,
                 static_cast<float>(session->source_height), -100.0f, 100.0f);
        gs_blend_state_push();
        gs_blend_function(GS_BLEND_ONE, GS_BLEND_ZERO);
        obs_source_video_render(session->feed);
        gs_blend_state_pop();
        gs_texrender_end(session->texrender);
        gs_stage_texture(session->stage, gs_texrender_get_texture(session->texrender));
        uint8_t *pixels = nullptr;
        uint32_t linesize = 0;
        if (gs_stagesurface_map(session->stage, &pixels, &linesize)) {
            const size_t row_bytes = static_cast<size_t>(session->render_width) * 4;
            for (int32_t y = 0; y < session->render_height; ++y)
                std::memcpy(out.row(y), pixels + static_cast<size_t>(y) * linesize, row_bytes);
            gs_stagesurface_unmap(session->stage);
            read = true;
        }
    }
    std::lock_guard<std::mutex> lock(session->exchange_mutex);
    session->state = read ? exchange::rendered : exchange::failed;
    session->exchange_signal.notify_all();
}

bool wait_for_state(host_session &session, exchange wanted, std::string &error) {
    std::unique_lock<std::mutex> lock(session.exchange_mutex);
    const bool reached = session.exchange_signal.wait_for(lock, std::chrono::seconds(5), [&] {
        return session.state >= wanted; // failed sorts last
    });
    if (!reached) {
        error = "the host stopped drawing";
        return false;
    }
    if (session.state == exchange::failed) {
        error = "the host could not render the filter";
        return false;
    }
    return true;
}

std::string problems_since_start() {
    log_capture &capture = captured();
    std::lock_guard<std::mutex> lock(capture.mutex);
    std::string text;
    for (const std::string &line : capture.recent_problems)
        text += "\n  host: " + line;
    return text;
}

bool is_file(const std::string &path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool filter_type_registered() {
    const char *id = nullptr;
    for (size_t i = 0; obs_enum_filter_types(i, &id); ++i)
        if (std::strcmp(id, filter_source_id) == 0)
            return true;
    return false;
}

// A small canvas with the source's shape: the crop takes the canvas's aspect,
// and the host converts the canvas on every tick, so it should be cheap.
void choose_canvas(int32_t width, int32_t height, uint32_t &canvas_width, uint32_t &canvas_height) {
    const double scale = std::min(1.0, 640.0 / width);
    canvas_width = static_cast<uint32_t>(std::max(2L, std::lround(width * scale / 2.0) * 2));
    canvas_height = static_cast<uint32_t>(std::max(2L, std::lround(height * scale / 2.0) * 2));
}

std::string settings_text(const preview_options &o) {
    char text[256];
    std::snprintf(text, sizeof(text),
                  "%s, tag A id %d, tag B id %d, detect %d px wide at %g/s, half-life %g ms, "
                  "padding %g px, hide without both: %s%s",
                  o.tag_family == 1 ? "tagCircle21h7" : "tag16h5", o.tag_id_a, o.tag_id_b,
                  o.detect_width, o.detect_fps, o.half_life_ms, o.padding,
                  o.hide_without_both ? "yes" : "no", o.perf ? ", diagnostics on" : "");
    return text;
}

} // namespace

void configure_host_log(bool everything, bool diagnostics) {
    log_capture &capture = captured();
    std::lock_guard<std::mutex> lock(capture.mutex);
    capture.everything = everything;
    capture.diagnostics = diagnostics;
}

std::vector<std::string> take_host_log_lines() {
    log_capture &capture = captured();
    std::lock_guard<std::mutex> lock(capture.mutex);
    std::vector<std::string> lines;
    lines.swap(capture.pending);
    return lines;
}

bool start_host_session(host_session &session, const host_request &request,
                        const preview_options &options, std::string &error) {
    if (!is_file(request.module_path)) {
        error = "no plug-in at " + request.module_path +
                " (build it with `cmake --build --preset dev`, or name one with --module)";
        return false;
    }
    if (!is_file(request.data_dir + "/effects/pinvaler.effect")) {
        error = "the plug-in's data folder " + request.data_dir +
                " lacks effects/pinvaler.effect (name the right one with --data)";
        return false;
    }
    base_set_log_handler(on_host_log, nullptr);
    if (!obs_startup("en-US", nullptr, nullptr)) {
        error = "the host did not start: is there an X display? (try xvfb-run -a)" +
                problems_since_start();
        return false;
    }
    session.started = true;

    session.source_width = request.source_width;
    session.source_height = request.source_height;
    session.render_width = request.render_width;
    session.render_height = request.render_height;
    choose_canvas(request.source_width, request.source_height, session.canvas_width,
                  session.canvas_height);
    // Frames are pushed on a tick: ticks well above the frame rate keep that wait short.
    const int ticks_per_second =
        std::clamp(static_cast<int>(std::lround(av_q2d(request.source_rate) * 2.0)), 60, 240);
    obs_video_info video{};
    video.graphics_module = "libobs-opengl";
    video.fps_num = static_cast<uint32_t>(ticks_per_second);
    video.fps_den = 1;
    video.base_width = video.output_width = session.canvas_width;
    video.base_height = video.output_height = session.canvas_height;
    video.output_format = VIDEO_FORMAT_NV12;
    video.gpu_conversion = true;
    video.colorspace = VIDEO_CS_709;
    video.range = VIDEO_RANGE_PARTIAL;
    video.scale_type = OBS_SCALE_BICUBIC;
    if (obs_reset_video(&video) != OBS_VIDEO_SUCCESS) {
        error = "the host could not start its video (OpenGL)" + problems_since_start();
        return false;
    }

    const int opened =
        obs_open_module(&session.module, request.module_path.c_str(), request.data_dir.c_str());
    if (opened != MODULE_SUCCESS) {
        const char *why =
            opened == MODULE_FILE_NOT_FOUND     ? "it or a library it needs cannot be loaded"
            : opened == MODULE_MISSING_EXPORTS  ? "it is not an OBS plug-in"
            : opened == MODULE_INCOMPATIBLE_VER ? "it was built for another OBS version"
                                                : "the host refused it";
        error =
            "the plug-in " + request.module_path + " did not load: " + why + problems_since_start();
        session.module = nullptr;
        return false;
    }
    if (!obs_init_module(session.module)) {
        error = "the plug-in " + request.module_path + " failed to start" + problems_since_start();
        return false;
    }
    if (!filter_type_registered()) {
        error = "the module " + request.module_path + " registered no \"" + filter_source_id +
                "\" filter";
        return false;
    }

    register_feed_source();
    session.feed = obs_source_create_private(feed_source_id, "preview feed", nullptr);
    if (session.feed == nullptr) {
        error = "the host could not create the feeding source";
        return false;
    }
    obs_source_set_async_unbuffered(session.feed, true);

    obs_data_t *settings = obs_data_create();
    obs_data_set_bool(settings, key_enable_tracking, true);
    obs_data_set_bool(settings, key_hide_without_both_tags, options.hide_without_both);
    obs_data_set_int(settings, key_tag_family, options.tag_family);
    obs_data_set_int(settings, key_tag_id_a, options.tag_id_a);
    obs_data_set_int(settings, key_tag_id_b, options.tag_id_b);
    obs_data_set_double(settings, key_padding, options.padding);
    obs_data_set_int(settings, key_detect_width, options.detect_width);
    obs_data_set_double(settings, key_detect_fps, options.detect_fps);
    obs_data_set_double(settings, key_follow_half_life_ms, options.half_life_ms);
    obs_data_set_bool(settings, key_perf_diagnostics, options.perf);
    session.filter = obs_source_create_private(filter_source_id, "Pinvale Marker Zoom", settings);
    obs_data_release(settings);
    if (session.filter == nullptr || obs_obj_get_data(session.filter) == nullptr) {
        error = "the filter could not be created" + problems_since_start();
        return false;
    }
    obs_source_filter_add(session.feed, session.filter);
    obs_source_inc_showing(session.feed);
    session.showing = true;
    obs_add_tick_callback(on_tick, &session);
    obs_add_main_render_callback(on_draw, &session);

    obs_enter_graphics();
    session.texrender = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
    session.stage = gs_stagesurface_create(static_cast<uint32_t>(session.render_width),
                                           static_cast<uint32_t>(session.render_height), GS_RGBA);
    obs_leave_graphics();
    if (session.texrender == nullptr || session.stage == nullptr) {
        error = "the host could not make a render target";
        return false;
    }

    std::string adapter, loaded;
    {
        log_capture &capture = captured();
        std::lock_guard<std::mutex> lock(capture.mutex);
        adapter = capture.adapter;
        loaded = capture.plugin_loaded;
    }
    session.startup_lines.push_back(std::string("Host:    libobs ") + obs_get_version_string() +
                                    ", OpenGL on " + (adapter.empty() ? "?" : adapter) +
                                    ", canvas " + std::to_string(session.canvas_width) + "x" +
                                    std::to_string(session.canvas_height));
    session.startup_lines.push_back("Plug-in: " + request.module_path + " (data " +
                                    request.data_dir + ")");
    if (!loaded.empty())
        session.startup_lines.push_back("         " + loaded);
    session.startup_lines.push_back(std::string("Filter:  \"") +
                                    obs_source_get_display_name(filter_source_id) + "\" (" +
                                    filter_source_id + "): " + settings_text(options));
    return true;
}

bool push_frame(host_session &session, const feed_frame &frame, std::string &error) {
    const AVFrame *in = frame.frame;
    obs_source_frame host_frame = {};
    for (int i = 0; i < 4 && i < AV_NUM_DATA_POINTERS; ++i) {
        host_frame.data[i] = in->data[i];
        host_frame.linesize[i] = static_cast<uint32_t>(std::max(in->linesize[i], 0));
    }
    host_frame.width = static_cast<uint32_t>(in->width);
    host_frame.height = static_cast<uint32_t>(in->height);
    host_frame.format = frame.format;
    host_frame.full_range = frame.full_range;
    host_frame.timestamp = os_gettime_ns();
    video_format_get_parameters_for_format(
        frame.colorspace, frame.full_range ? VIDEO_RANGE_FULL : VIDEO_RANGE_PARTIAL, frame.format,
        host_frame.color_matrix, host_frame.color_range_min, host_frame.color_range_max);
    {
        std::lock_guard<std::mutex> lock(session.exchange_mutex);
        session.queued_frame = host_frame;
        session.state = exchange::queued;
    }
    return wait_for_state(session, exchange::pushed, error);
}

bool render_pushed(host_session &session, rgba_image &out, std::string &error) {
    if (!wait_for_state(session, exchange::rendered, error))
        return false;
    std::lock_guard<std::mutex> lock(session.exchange_mutex);
    std::swap(out, session.readback);
    session.state = exchange::idle;
    return true;
}

void stop_host_session(host_session &session) {
    if (session.started) {
        obs_remove_main_render_callback(on_draw, &session);
        obs_remove_tick_callback(on_tick, &session);
        if (session.feed != nullptr && session.showing)
            obs_source_dec_showing(session.feed);
        if (session.feed != nullptr && session.filter != nullptr)
            obs_source_filter_remove(session.feed, session.filter);
        obs_source_release(session.filter);
        obs_source_release(session.feed);
        if (session.texrender != nullptr || session.stage != nullptr) {
            obs_enter_graphics();
            gs_texrender_destroy(session.texrender);
            gs_stagesurface_destroy(session.stage);
            obs_leave_graphics();
        }
        obs_shutdown();
    }
    session.filter = session.feed = nullptr;
    session.texrender = nullptr;
    session.stage = nullptr;
    session.module = nullptr;
    session.started = false;
    base_set_log_handler(nullptr, nullptr);
}

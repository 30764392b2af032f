#include "host_session.h"

#include "filter/settings.h"
#include "frame_convert.h"
#include "host_support.h"
#include "module/module.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <graphics/vec4.h>
#include <sys/stat.h>
#include <util/platform.h>

namespace {

// The log listener runs on the host's threads; lines wait here until the main
// thread prints them between frames.
struct log_pending {
    std::mutex mutex;
    std::vector<std::string> lines;
    bool everything = false;
    bool diagnostics = false;
};

log_pending &pending() {
    static log_pending shown;
    return shown;
}

void on_host_log(const log_line &line) {
    log_pending &shown = pending();
    std::lock_guard<std::mutex> lock(shown.mutex);
    const bool perf_line = line.text.rfind("[Pinvale perf]", 0) == 0;
    const bool plugin_problem = line.text.rfind("Pinvale:", 0) == 0 && line.level <= LOG_WARNING;
    // Which intake reads the picture: said once, worth knowing.
    const bool intake_line = line.text.rfind("Pinvale: reading ", 0) == 0;
    if (shown.everything) {
        const char *name = line.level <= LOG_ERROR     ? "error"
                           : line.level <= LOG_WARNING ? "warning"
                           : line.level <= LOG_INFO    ? "info"
                                                       : "debug";
        shown.lines.push_back(std::string("host ") + name + ": " + line.text);
    } else if ((perf_line && shown.diagnostics) || plugin_problem || intake_line) {
        shown.lines.push_back(line.text);
    }
}

using exchange = host_session::exchange;

// Graphics thread, before the sources tick.
void on_tick(void *data, float) {
    auto *session = static_cast<host_session *>(data);
    std::lock_guard<std::mutex> lock(session->exchange_mutex);
    if (session->state != exchange::queued)
        return;
    if (session->gpu_source)
        set_source_picture(session->feed, session->queued_picture);
    else
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
        out = rgba_image(session->render_width, session->render_height);
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
    session->state_answered = call_state_procedure(session->filter, session->drawn_state);
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

// The host's last warnings and errors, for failure messages.
std::string recent_problems() {
    std::vector<std::string> problems;
    for (const log_line &line : log_since(0))
        if (line.level <= LOG_WARNING)
            problems.push_back(line.text);
    std::string text;
    for (size_t i = problems.size() > 20 ? problems.size() - 20 : 0; i < problems.size(); ++i)
        text += "\n  host: " + problems[i];
    return text;
}

// The first logged line containing `needle`, from just after it; empty when none.
std::string logged_after(const std::string &needle) {
    for (const log_line &line : log_since(0))
        if (const size_t at = line.text.find(needle); at != std::string::npos)
            return line.text.substr(at + needle.size());
    return {};
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

std::string settings_text(const settings_snapshot &s) {
    char text[256];
    std::snprintf(text, sizeof(text),
                  "%s, tag A id %d, tag B id %d, detect %d px wide at %g/s, half-life %g ms, "
                  "padding %g px, hide without both: %s%s%s",
                  family_name(s.tag_family), s.tag_id_a, s.tag_id_b, s.detect_width,
                  static_cast<double>(s.detect_fps), static_cast<double>(s.follow_half_life_ms),
                  static_cast<double>(s.padding), s.hide_without_both_tags ? "yes" : "no",
                  s.perf_diagnostics ? ", diagnostics on" : "",
                  s.window_search ? "" : ", whole picture every pass");
    return text;
}

} // namespace

void configure_host_log(bool everything, bool diagnostics) {
    log_pending &shown = pending();
    std::lock_guard<std::mutex> lock(shown.mutex);
    shown.everything = everything;
    shown.diagnostics = diagnostics;
}

std::vector<std::string> take_host_log_lines() {
    log_pending &shown = pending();
    std::lock_guard<std::mutex> lock(shown.mutex);
    std::vector<std::string> lines;
    lines.swap(shown.lines);
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
    capture_host_log(false, on_host_log);
    session.source_width = request.source_width;
    session.source_height = request.source_height;
    session.render_width = request.render_width;
    session.render_height = request.render_height;
    host_video video;
    choose_canvas(request.source_width, request.source_height, video.canvas_width,
                  video.canvas_height);
    // Frames are pushed on a tick: ticks well above the frame rate keep that wait short.
    video.fps = static_cast<uint32_t>(
        std::clamp(static_cast<int>(std::lround(av_q2d(request.source_rate) * 2.0)), 60, 240));
    session.canvas_width = video.canvas_width;
    session.canvas_height = video.canvas_height;
    if (!start_host(video, error)) {
        error += recent_problems();
        return false;
    }
    session.module = load_module(request.module_path, request.data_dir, error);
    if (session.module == nullptr) {
        error += recent_problems();
        return false;
    }
    if (!filter_type_registered()) {
        error = "the module " + request.module_path + " registered no \"" + filter_source_id +
                "\" filter";
        return false;
    }

    session.gpu_source = request.gpu_source;
    session.feed = request.gpu_source
                       ? create_picture_source("preview feed", rgba_image(request.source_width,
                                                                          request.source_height))
                       : create_push_source("preview feed");
    if (session.feed == nullptr) {
        error = "the host could not create the feeding source";
        return false;
    }

    const settings_snapshot &wanted = options.filter;
    obs_data_t *settings = obs_data_create();
    obs_data_set_bool(settings, key_enable_tracking, wanted.enable_tracking);
    obs_data_set_bool(settings, key_hide_without_both_tags, wanted.hide_without_both_tags);
    obs_data_set_int(settings, key_tag_family, static_cast<long long>(wanted.tag_family));
    obs_data_set_int(settings, key_tag_id_a, wanted.tag_id_a);
    obs_data_set_int(settings, key_tag_id_b, wanted.tag_id_b);
    obs_data_set_double(settings, key_padding, static_cast<double>(wanted.padding));
    obs_data_set_int(settings, key_detect_width, wanted.detect_width);
    obs_data_set_double(settings, key_detect_fps, static_cast<double>(wanted.detect_fps));
    obs_data_set_double(settings, key_follow_half_life_ms,
                        static_cast<double>(wanted.follow_half_life_ms));
    obs_data_set_bool(settings, key_perf_diagnostics, wanted.perf_diagnostics);
    obs_data_set_bool(settings, key_window_search, wanted.window_search);
    session.filter = obs_source_create_private(filter_source_id, "Pinvale Marker Zoom", settings);
    obs_data_release(settings);
    if (session.filter == nullptr || obs_obj_get_data(session.filter) == nullptr) {
        error = "the filter could not be created" + recent_problems();
        return false;
    }
    // The summary reports the filter's own crop, asked of it each frame: a plug-in without the
    // procedure (older than this tool) cannot be previewed.
    procedure_state probe;
    if (!call_state_procedure(session.filter, probe)) {
        error = "the plug-in " + request.module_path +
                " has no state procedure (get_state): it is older than this tool";
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

    const std::string adapter = logged_after("Loading up OpenGL on adapter ");
    const std::string module_tag = std::string("[") + plugin_module_name + "]";
    std::string loaded;
    for (const log_line &line : log_since(0))
        if (line.text.find(module_tag) != std::string::npos &&
            line.text.find("loaded") != std::string::npos)
            loaded = line.text;
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
                                    filter_source_id + "): " + settings_text(wanted));
    return true;
}

bool push_frame(host_session &session, const feed_frame &frame, std::string &error) {
    if (session.gpu_source) {
        if (!frame_to_rgba(frame, session.source_width, session.source_height,
                           session.picture_scaler, session.converted_picture)) {
            error = "cannot turn the frame into a picture";
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(session.exchange_mutex);
            std::swap(session.queued_picture, session.converted_picture);
            session.state = exchange::queued;
        }
        return wait_for_state(session, exchange::pushed, error);
    }
    const AVFrame *in = frame.frame;
    obs_source_frame pushed = {};
    for (int i = 0; i < 4 && i < AV_NUM_DATA_POINTERS; ++i) {
        pushed.data[i] = in->data[i];
        pushed.linesize[i] = static_cast<uint32_t>(std::max(in->linesize[i], 0));
    }
    pushed.width = static_cast<uint32_t>(in->width);
    pushed.height = static_cast<uint32_t>(in->height);
    pushed.format = frame.format;
    pushed.full_range = frame.full_range;
    pushed.timestamp = os_gettime_ns();
    video_format_get_parameters_for_format(
        frame.colorspace, frame.full_range ? VIDEO_RANGE_FULL : VIDEO_RANGE_PARTIAL, frame.format,
        pushed.color_matrix, pushed.color_range_min, pushed.color_range_max);
    {
        std::lock_guard<std::mutex> lock(session.exchange_mutex);
        session.queued_frame = pushed;
        session.state = exchange::queued;
    }
    return wait_for_state(session, exchange::pushed, error);
}

bool render_pushed(host_session &session, rgba_image &out, procedure_state &state,
                   std::string &error) {
    if (!wait_for_state(session, exchange::rendered, error))
        return false;
    std::lock_guard<std::mutex> lock(session.exchange_mutex);
    std::swap(out, session.readback);
    session.state = exchange::idle;
    state = session.drawn_state;
    if (!session.state_answered)
        error = "the filter stopped answering its state procedure";
    return session.state_answered;
}

void stop_host_session(host_session &session) {
    // The host may have started only halfway.
    if (obs_initialized()) {
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
        stop_host();
    }
    session.filter = session.feed = nullptr;
    session.texrender = nullptr;
    session.stage = nullptr;
    session.module = nullptr;
    release_host_log();
}

#include "host_support.h"

#include "filter/controls.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <graphics/vec4.h>
#include <mutex>
#include <thread>
#include <util/platform.h>

namespace {

struct log_capture {
    std::mutex mutex;
    std::vector<log_line> lines;
    bool echo = false;
    std::function<void(const log_line &)> listener;
};

log_capture &captured() {
    static log_capture capture;
    return capture;
}

// The host hands a printf format of its own.
__attribute__((format(printf, 2, 0))) void on_host_log(int level, const char *format, va_list args,
                                                       void *) {
    char text[4096];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(text, sizeof(text), format, copy);
    va_end(copy);
    log_capture &capture = captured();
    std::lock_guard lock(capture.mutex);
    if (capture.echo)
        std::fprintf(stderr, "host: %s\n", text);
    capture.lines.push_back({level, text});
    if (capture.listener)
        capture.listener(capture.lines.back());
}

bool is_planar_half_height(video_format f) {
    return f == VIDEO_FORMAT_I420 || f == VIDEO_FORMAT_NV12 || f == VIDEO_FORMAT_I40A ||
           f == VIDEO_FORMAT_I010 || f == VIDEO_FORMAT_P010;
}

// Bytes per pixel of plane 0 holding luma or colour, and where the luma sits in a pixel group;
// 0: not written (left mid-grey).
struct plane0_layout {
    uint32_t step;
    uint32_t luma_at;
};

plane0_layout plane0_of(video_format f) {
    switch (f) {
    case VIDEO_FORMAT_I420:
    case VIDEO_FORMAT_NV12:
    case VIDEO_FORMAT_Y800:
    case VIDEO_FORMAT_I444:
    case VIDEO_FORMAT_I422:
    case VIDEO_FORMAT_I40A:
    case VIDEO_FORMAT_I42A:
    case VIDEO_FORMAT_YUVA:
        return {1, 0};
    case VIDEO_FORMAT_YVYU:
    case VIDEO_FORMAT_YUY2:
        return {2, 0};
    case VIDEO_FORMAT_UYVY:
        return {2, 1};
    case VIDEO_FORMAT_BGR3:
        return {3, 0};
    case VIDEO_FORMAT_RGBA:
    case VIDEO_FORMAT_BGRA:
    case VIDEO_FORMAT_BGRX:
        return {4, 0};
    case VIDEO_FORMAT_I010:
    case VIDEO_FORMAT_P010:
    case VIDEO_FORMAT_I210:
        return {2, 0}; // 16-bit little-endian samples, 10 bits in the high bits
    default:
        return {0, 0};
    }
}

bool ten_bit(video_format f) {
    return f == VIDEO_FORMAT_I010 || f == VIDEO_FORMAT_P010 || f == VIDEO_FORMAT_I210;
}

constexpr char push_source_id[] = "pinvaler_push_source";
constexpr char picture_source_id[] = "pinvaler_picture_source";

// The GPU-drawn source: a texture made from the newest picture, on the graphics thread.
struct picture_source {
    std::mutex mutex;
    rgba_image pending;
    bool changed = false;
    gs_texture_t *texture = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
};

void register_test_sources() {
    static std::once_flag once;
    std::call_once(once, [] {
        obs_source_info push{};
        push.id = push_source_id;
        push.type = OBS_SOURCE_TYPE_INPUT;
        push.output_flags = OBS_SOURCE_ASYNC_VIDEO;
        push.get_name = [](void *) { return "Pushed frames"; };
        push.create = [](obs_data_t *, obs_source_t *source) -> void * { return source; };
        push.destroy = [](void *) {};
        obs_register_source(&push);

        obs_source_info picture{};
        picture.id = picture_source_id;
        picture.type = OBS_SOURCE_TYPE_INPUT;
        // Drawn as the host's image source draws: with the effect it is handed, sRGB-aware.
        picture.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_SRGB;
        picture.get_name = [](void *) { return "Picture on the GPU"; };
        picture.create = [](obs_data_t *, obs_source_t *) -> void * { return new picture_source; };
        picture.destroy = [](void *data) {
            auto *p = static_cast<picture_source *>(data);
            obs_enter_graphics();
            gs_texture_destroy(p->texture);
            obs_leave_graphics();
            delete p;
        };
        picture.get_width = [](void *data) {
            auto *p = static_cast<picture_source *>(data);
            std::lock_guard lock(p->mutex);
            return p->width;
        };
        picture.get_height = [](void *data) {
            auto *p = static_cast<picture_source *>(data);
            std::lock_guard lock(p->mutex);
            return p->height;
        };
        picture.video_render = [](void *data, gs_effect_t *effect) {
            auto *p = static_cast<picture_source *>(data);
            {
                std::lock_guard lock(p->mutex);
                const auto w = static_cast<uint32_t>(p->pending.width);
                const auto h = static_cast<uint32_t>(p->pending.height);
                const uint8_t *rows = p->pending.pixels.data();
                // A picture of the same size is uploaded into the texture it has, as a capture
                // updates its own.
                if (p->changed && p->texture && gs_texture_get_width(p->texture) == w &&
                    gs_texture_get_height(p->texture) == h) {
                    gs_texture_set_image(p->texture, rows, w * 4, false);
                } else if (p->changed) {
                    gs_texture_destroy(p->texture);
                    p->texture = gs_texture_create(w, h, GS_RGBA, 1, &rows, GS_DYNAMIC);
                }
                p->changed = false;
            }
            if (!p->texture || !effect)
                return;
            const bool previous = gs_framebuffer_srgb_enabled();
            gs_enable_framebuffer_srgb(true);
            gs_blend_state_push();
            gs_blend_function(GS_BLEND_ONE, GS_BLEND_INVSRCALPHA);
            gs_effect_set_texture_srgb(gs_effect_get_param_by_name(effect, "image"), p->texture);
            gs_draw_sprite(p->texture, 0, 0, 0);
            gs_blend_state_pop();
            gs_enable_framebuffer_srgb(previous);
        };
        obs_register_source(&picture);
    });
}

} // namespace

namespace {

thread_local bool counting_allocations = false;
thread_local uint64_t counted_allocations = 0;

template <typename F>
F host_function(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" void *bmalloc(size_t size) {
    static const auto real = host_function<void *(*)(size_t)>("bmalloc");
    counted_allocations += counting_allocations;
    return real(size);
}

extern "C" void *brealloc(void *ptr, size_t size) {
    static const auto real = host_function<void *(*)(void *, size_t)>("brealloc");
    counted_allocations += counting_allocations;
    return real(ptr, size);
}

extern "C" void *bmemdup(const void *ptr, size_t size) {
    static const auto real = host_function<void *(*)(const void *, size_t)>("bmemdup");
    counted_allocations += counting_allocations;
    return real(ptr, size);
}

uint64_t host_allocations_in(const std::function<void()> &work) {
    const uint64_t before = counted_allocations;
    counting_allocations = true;
    work();
    counting_allocations = false;
    return counted_allocations - before;
}

bool start_host(const host_video &video, std::string &error) {
    if (!obs_startup("en-US", nullptr, nullptr)) {
        error = "the host did not start: is there an X display? (try xvfb-run -a)";
        return false;
    }
    obs_video_info info{};
    info.graphics_module = "libobs-opengl";
    info.fps_num = video.fps;
    info.fps_den = 1;
    info.base_width = info.output_width = video.canvas_width;
    info.base_height = info.output_height = video.canvas_height;
    info.output_format = VIDEO_FORMAT_NV12;
    info.gpu_conversion = true;
    info.colorspace = VIDEO_CS_709;
    info.range = VIDEO_RANGE_PARTIAL;
    info.scale_type = OBS_SCALE_BICUBIC;
    if (obs_reset_video(&info) != OBS_VIDEO_SUCCESS) {
        error = "the host could not start its video (OpenGL)";
        return false;
    }
    register_test_sources();
    return true;
}

void stop_host() {
    // libobs 29 frees its hotkeys before it drains the queue of sources being destroyed, whose
    // filters still unregister theirs there.
    obs_wait_for_destroy_queue();
    obs_shutdown();
}

obs_module_t *load_module(const std::string &path, const std::string &data_dir,
                          std::string &error) {
    obs_module_t *module = nullptr;
    const int opened = obs_open_module(&module, path.c_str(), data_dir.c_str());
    if (opened != MODULE_SUCCESS) {
        const char *why =
            opened == MODULE_FILE_NOT_FOUND     ? "it or a library it needs cannot be loaded"
            : opened == MODULE_MISSING_EXPORTS  ? "it is not an OBS plug-in"
            : opened == MODULE_INCOMPATIBLE_VER ? "it was built for another OBS version"
                                                : "the host refused it";
        error = "the plug-in " + path + " did not load: " + why;
        return nullptr;
    }
    if (!obs_init_module(module)) {
        error = "the plug-in " + path + " failed to start";
        return nullptr;
    }
    return module;
}

void capture_host_log(bool echo, std::function<void(const log_line &)> listener) {
    log_capture &capture = captured();
    {
        std::lock_guard lock(capture.mutex);
        capture.echo = echo;
        capture.listener = std::move(listener);
    }
    base_set_log_handler(on_host_log, nullptr);
}

void release_host_log() {
    base_set_log_handler(nullptr, nullptr);
    log_capture &capture = captured();
    std::lock_guard lock(capture.mutex);
    capture.listener = {};
}

size_t log_mark() {
    log_capture &capture = captured();
    std::lock_guard lock(capture.mutex);
    return capture.lines.size();
}

std::vector<log_line> log_since(size_t mark) {
    log_capture &capture = captured();
    std::lock_guard lock(capture.mutex);
    const size_t from = std::min(mark, capture.lines.size());
    return {capture.lines.begin() + static_cast<ptrdiff_t>(from), capture.lines.end()};
}

size_t count_log_since(size_t mark, int level, const std::string &needle) {
    const std::vector<log_line> lines = log_since(mark);
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const log_line &l) {
        return l.level == level && l.text.find(needle) != std::string::npos;
    }));
}

host_frame::host_frame(video_format f, const rgba_image &picture) {
    const auto w = static_cast<uint32_t>(picture.width);
    const auto h = static_cast<uint32_t>(picture.height);
    obs_source_frame_init(&frame, f, w, h);
    for (int i = 0; i < MAX_AV_PLANES && frame.data[i]; ++i) {
        const uint32_t rows = is_planar_half_height(f) && (i == 1 || i == 2) ? (h + 1) / 2 : h;
        std::memset(frame.data[i], 128, size_t{frame.linesize[i]} * rows);
        // Neutral chroma of 10-bit planes: 512 in the high bits.
        if (ten_bit(f) && i > 0)
            for (size_t b = 0; b + 1 < size_t{frame.linesize[i]} * rows; b += 2)
                frame.data[i][b] = 0, frame.data[i][b + 1] = 0x80;
    }
    const plane0_layout layout = plane0_of(f);
    const bool yuv = format_is_yuv(f);
    const int red = f == VIDEO_FORMAT_RGBA ? 0 : 2;
    for (uint32_t y = 0; frame.data[0] && layout.step && y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t *c = picture.at(static_cast<int32_t>(x), static_cast<int32_t>(y));
            uint8_t *p = frame.data[0] + size_t{y} * frame.linesize[0] + x * layout.step;
            // Colour in the packed RGB formats; luma in the others (grey is full range).
            if (layout.step >= 3) {
                p[red] = c[0];
                p[1] = c[1];
                p[2 - red] = c[2];
                if (layout.step == 4)
                    p[3] = 255;
                continue;
            }
            const double v = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
            const double level = yuv ? 16.0 + v * 219.0 / 255.0 : v;
            if (ten_bit(f)) {
                const auto sample = static_cast<uint16_t>(std::lround(level * 4.0) << 6);
                p[0] = static_cast<uint8_t>(sample & 0xFF);
                p[1] = static_cast<uint8_t>(sample >> 8);
            } else {
                p[layout.luma_at] = static_cast<uint8_t>(std::lround(level));
            }
        }
    frame.full_range = !yuv;
    if (yuv)
        video_format_get_parameters_for_format(VIDEO_CS_709, VIDEO_RANGE_PARTIAL, f,
                                               frame.color_matrix, frame.color_range_min,
                                               frame.color_range_max);
}

void host_frame::push_to(obs_source_t *source) const {
    obs_source_frame stamped = frame;
    stamped.timestamp = os_gettime_ns();
    obs_source_output_video(source, &stamped);
}

obs_source_t *create_push_source(const char *name) {
    register_test_sources();
    obs_source_t *source = obs_source_create_private(push_source_id, name, nullptr);
    if (source)
        obs_source_set_async_unbuffered(source, true);
    return source;
}

obs_source_t *create_public_push_source(const char *name) {
    register_test_sources();
    obs_source_t *source = obs_source_create(push_source_id, name, nullptr, nullptr);
    if (source)
        obs_source_set_async_unbuffered(source, true);
    return source;
}

void release_public_source(obs_source_t *source) {
    obs_source_remove(source);
    obs_source_release(source);
}

bool call_state_procedure(obs_source_t *filter, procedure_state &s) {
    calldata_t cd;
    // Growing: a fixed calldata too small for the outputs drops values with only a log line.
    calldata_init(&cd);
    const bool called =
        proc_handler_call(obs_source_get_proc_handler(filter), state_procedure_name, &cd);
    if (called) {
        s.target_valid = calldata_bool(&cd, "target_valid");
        s.target_center_x = calldata_float(&cd, "target_center_x");
        s.target_center_y = calldata_float(&cd, "target_center_y");
        s.target_width = calldata_float(&cd, "target_width");
        s.target_height = calldata_float(&cd, "target_height");
        s.target_frame_width = calldata_int(&cd, "target_frame_width");
        s.target_frame_height = calldata_int(&cd, "target_frame_height");
        s.crop_scale_x = calldata_float(&cd, "crop_scale_x");
        s.crop_scale_y = calldata_float(&cd, "crop_scale_y");
        s.crop_offset_x = calldata_float(&cd, "crop_offset_x");
        s.crop_offset_y = calldata_float(&cd, "crop_offset_y");
        s.visible = calldata_bool(&cd, "visible");
        s.frame_width = calldata_int(&cd, "frame_width");
        s.frame_height = calldata_int(&cd, "frame_height");
        s.tag_a_seen = calldata_bool(&cd, "tag_a_seen");
        s.tag_b_seen = calldata_bool(&cd, "tag_b_seen");
        s.both_seen = calldata_bool(&cd, "both_seen");
        s.last_pass_ns = calldata_int(&cd, "last_pass_ns");
        s.following_paused = calldata_bool(&cd, "following_paused");
        s.whole_picture = calldata_bool(&cd, "whole_picture");
    }
    calldata_free(&cd);
    return called;
}

std::vector<source_hotkey> hotkeys_of(obs_source_t *source) {
    struct context {
        obs_source_t *source;
        std::vector<source_hotkey> found;
    } ctx{source, {}};
    obs_enum_hotkeys(
        [](void *data, obs_hotkey_id id, obs_hotkey_t *key) {
            auto *c = static_cast<context *>(data);
            if (obs_hotkey_get_registerer_type(key) != OBS_HOTKEY_REGISTERER_SOURCE)
                return true;
            // A source's registerer is its weak reference, not the source.
            auto *weak = static_cast<obs_weak_source_t *>(obs_hotkey_get_registerer(key));
            if (weak && obs_weak_source_references_source(weak, c->source))
                c->found.push_back({id, obs_hotkey_get_name(key), obs_hotkey_get_description(key),
                                    obs_hotkey_get_pair_partner_id(key)});
            return true;
        },
        &ctx);
    return ctx.found;
}

obs_hotkey_id hotkey_named(obs_source_t *source, const char *name) {
    for (const source_hotkey &key : hotkeys_of(source))
        if (key.name == name)
            return key.id;
    return OBS_INVALID_HOTKEY_ID;
}

std::vector<obs_key_combination_t> bindings_of(obs_hotkey_id id) {
    struct context {
        obs_hotkey_id id;
        std::vector<obs_key_combination_t> found;
    } ctx{id, {}};
    obs_enum_hotkey_bindings(
        [](void *data, size_t, obs_hotkey_binding_t *binding) {
            auto *c = static_cast<context *>(data);
            if (obs_hotkey_binding_get_hotkey_id(binding) == c->id)
                c->found.push_back(obs_hotkey_binding_get_key_combination(binding));
            return true;
        },
        &ctx);
    return ctx.found;
}

void bind_hotkey(obs_source_t *source, const char *name, obs_key_combination_t keys) {
    obs_hotkey_load_bindings(hotkey_named(source, name), &keys, 1);
}

bool press_keys(obs_key_combination_t keys) {
    // An injected release does not release a binding: the host's hotkey thread does when it next
    // finds the keys up. A probe bound to the same keys on a source of its own (single hotkeys
    // need a public one) sees that release.
    static std::atomic<int> serial{0};
    const std::string name = "key probe " + std::to_string(serial++);
    obs_source_t *probe = create_public_push_source(name.c_str());
    std::atomic<int> releases{0};
    const obs_hotkey_id id = obs_hotkey_register_source(
        probe, "Probe.Release", "Probe",
        [](void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed) {
            if (!pressed)
                ++*static_cast<std::atomic<int> *>(data);
        },
        &releases);
    obs_hotkey_load_bindings(id, &keys, 1);
    obs_hotkey_inject_event(keys, true);
    obs_hotkey_inject_event(keys, false);
    const bool released = wait_until([&] { return releases.load() > 0; });
    obs_hotkey_unregister(id);
    release_public_source(probe);
    return released;
}

obs_source_t *create_picture_source(const char *name, const rgba_image &picture) {
    register_test_sources();
    obs_source_t *source = obs_source_create_private(picture_source_id, name, nullptr);
    if (source)
        set_source_picture(source, picture);
    return source;
}

void set_source_picture(obs_source_t *source, const rgba_image &picture) {
    auto *p = static_cast<picture_source *>(obs_obj_get_data(source));
    std::lock_guard lock(p->mutex);
    p->pending = picture;
    p->changed = true;
    p->width = static_cast<uint32_t>(picture.width);
    p->height = static_cast<uint32_t>(picture.height);
}

rgba_image render_source(obs_source_t *source, uint32_t width, uint32_t height,
                         const std::function<void()> &caller_state) {
    obs_enter_graphics();
    const uint32_t sw = obs_source_get_width(source), sh = obs_source_get_height(source);
    const uint32_t w = width ? width : sw, h = height ? height : sh;
    rgba_image image;
    gs_texrender_t *target = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
    gs_stagesurf_t *stage = w && h ? gs_stagesurface_create(w, h, GS_RGBA) : nullptr;
    uint8_t *data = nullptr;
    uint32_t linesize = 0;
    const vec4 clear{};
    if (stage && sw && sh && gs_texrender_begin(target, w, h)) {
        gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
        gs_ortho(0.0f, static_cast<float>(sw), 0.0f, static_cast<float>(sh), -100.0f, 100.0f);
        gs_blend_state_push();
        gs_enable_blending(false);
        const bool srgb_writes = gs_framebuffer_srgb_enabled();
        if (caller_state)
            caller_state();
        obs_source_video_render(source);
        gs_enable_framebuffer_srgb(srgb_writes);
        gs_blend_state_pop();
        gs_texrender_end(target);
        gs_stage_texture(stage, gs_texrender_get_texture(target));
        if (gs_stagesurface_map(stage, &data, &linesize)) {
            image = rgba_image(static_cast<int32_t>(w), static_cast<int32_t>(h));
            for (uint32_t y = 0; y < h; ++y)
                std::memcpy(image.row(static_cast<int32_t>(y)), data + size_t{y} * linesize,
                            size_t{w} * 4);
            gs_stagesurface_unmap(stage);
        }
    }
    gs_stagesurface_destroy(stage);
    gs_texrender_destroy(target);
    obs_leave_graphics();
    return image;
}

bool wait_until(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
    for (const auto deadline = std::chrono::steady_clock::now() + timeout; !condition();
         std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
    return true;
}

bool wait_for_host_frames(int frames) {
    uint64_t seen = obs_get_video_frame_time();
    return wait_until([&] {
        frames -= obs_get_video_frame_time() != seen;
        seen = obs_get_video_frame_time();
        return frames <= 0;
    });
}

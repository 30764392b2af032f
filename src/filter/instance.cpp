// Creating and destroying an instance, and reading what it publishes.
#include "filter/filter.h"
#include "filter/instance.h"
#include "module/module.h"

#include <cstdlib>
#include <limits>
#include <mutex>
#include <new>

namespace {

constexpr char crop_effect_file[] = "effects/pinvaler.effect";
constexpr char luma_effect_file[] = "effects/luma.effect";

void *fail_create(filter_instance *instance, const char *message) {
    blog(LOG_ERROR, "%s", message);
    filter_destroy(instance);
    return nullptr;
}

// Loads the crop effect and resolves its parameters once, so render never looks anything up.
void load_crop_effect(graphics_part &graphics, const char *path, char **error_text) {
    obs_enter_graphics();
    graphics.crop_effect.reset(gs_effect_create_from_file(path, error_text));
    if (gs_effect_t *effect = graphics.crop_effect.get()) {
        graphics.param_mul_val = gs_effect_get_param_by_name(effect, "mul_val");
        graphics.param_add_val = gs_effect_get_param_by_name(effect, "add_val");
        graphics.param_visibility = gs_effect_get_param_by_name(effect, "visibility");
        if (!graphics.param_mul_val || !graphics.param_add_val || !graphics.param_visibility) {
            blog(LOG_ERROR, "Pinvale: crop effect is missing a required parameter");
            graphics.crop_effect.reset();
        }
    }
    obs_leave_graphics();
}

// The GPU intake is an addition: without its effect the instance still tracks raw frames, and
// says once that other sources stay pass-through.
bool load_luma_effect(graphics_part &graphics) {
    const host_string path(obs_find_module_file(plugin_module(), luma_effect_file));
    if (!path) {
        blog(LOG_WARNING, "Pinvale: luma effect is missing from plugin resources; only sources "
                          "with readable raw frames can be tracked");
        return false;
    }
    host_string error;
    obs_enter_graphics();
    const bool loaded = graphics.readback.load(path.get(), error);
    obs_leave_graphics();
    if (!loaded) {
        const bool has_text = error && *error.get();
        blog(LOG_WARNING,
             "Pinvale: failed to load luma effect %s%s%s; only sources with readable raw frames "
             "can be tracked",
             path.get(), has_text ? ": " : "", has_text ? error.get() : "");
    }
    return loaded;
}

} // namespace

filter_instance::~filter_instance() {
    // No hotkey callback runs once the pairs are gone (the host calls them under its hotkey
    // lock). The worker is stopped before anything it uses is released; the members then release
    // themselves, the detector before the family it references and the effect inside the
    // graphics context.
    unregister_hotkeys(*this);
    if (config.mutex.ready()) {
        std::lock_guard lock(config.mutex);
        config.worker_running = false;
    }
    if (worker_thread.started()) {
        if (detect_event.ready())
            detect_event.signal();
        worker_thread.join();
    }
}

void *filter_create(obs_data_t *settings, obs_source_t *source) {
    void *memory = bmalloc(sizeof(filter_instance));
    if (!memory)
        return nullptr;
    auto *instance =
        new (memory) filter_instance(source, perf_env_value_set(std::getenv("PINVALER_PERF")));

    // After the environment read: the reader folds perf_from_env into the snapshot.
    const settings_snapshot snapshot = read_settings(instance->perf_from_env, settings);

    if (!instance->config.mutex.init())
        return fail_create(instance, "Pinvale: failed to initialize configuration mutex");
    instance->config.settings = snapshot;
    if (!instance->tracking.mutex.init())
        return fail_create(instance, "Pinvale: failed to initialize frame mutex");
    if (!instance->detector.mutex.init())
        return fail_create(instance, "Pinvale: failed to initialize detector mutex");
    if (!instance->render.mutex.init())
        return fail_create(instance, "Pinvale: failed to initialize render mutex");
    if (!instance->perf.mutex.init())
        return fail_create(instance, "Pinvale: failed to initialize performance mutex");
    instance->intake.gate.schedule_fps = snapshot.detect_fps;
    instance->graphics.gate.schedule_fps = snapshot.detect_fps;

    detector_part &detector = instance->detector;
    detector.family = tag_family_handle(snapshot.tag_family);
    if (!detector.family)
        return fail_create(instance, "Pinvale: failed to create AprilTag family");
    instance->worker_threads =
        detector_thread_count(os_get_physical_cores(), os_get_logical_cores());
    detector.detector = make_detector(instance->worker_threads);
    if (!detector.detector)
        return fail_create(instance, "Pinvale: failed to create AprilTag detector");
    register_family(detector.detector.get(), nullptr, detector.family.get());

    const host_string effect_path(obs_find_module_file(plugin_module(), crop_effect_file));
    if (!effect_path)
        return fail_create(instance, "Pinvale: crop effect is missing from plugin resources");
    char *error_text = nullptr;
    load_crop_effect(instance->graphics, effect_path.get(), &error_text);
    const host_string error(error_text);
    if (!instance->graphics.crop_effect) {
        const bool has_text = error && *error.get();
        blog(LOG_ERROR, "Pinvale: failed to load crop effect %s%s%s", effect_path.get(),
             has_text ? ": " : "", has_text ? error.get() : "");
        filter_destroy(instance);
        return nullptr;
    }

    instance->drawn_intake_available = load_luma_effect(instance->graphics);
    refresh_canvas_size(*instance);

    if (!instance->detect_event.create())
        return fail_create(instance, "Pinvale: failed to create detector event");
    {
        std::lock_guard lock(instance->config.mutex);
        instance->config.worker_running = true;
    }
    if (!instance->worker_thread.start(detector_worker, instance)) {
        {
            std::lock_guard lock(instance->config.mutex);
            instance->config.worker_running = false;
        }
        return fail_create(instance, "Pinvale: failed to start detector worker");
    }
    register_controls(*instance);
    return instance;
}

void filter_destroy(void *data) {
    auto *instance = static_cast<filter_instance *>(data);
    if (!instance)
        return;
    instance->~filter_instance();
    bfree(instance);
}

settings_snapshot copy_settings(filter_instance &instance) {
    if (!instance.config.mutex.ready())
        return default_settings_snapshot;
    std::lock_guard lock(instance.config.mutex);
    return instance.config.settings;
}

canvas_size host_canvas_size() {
    obs_video_info info{};
    if (!obs_get_video_info(&info))
        return {0, 0};
    return {info.base_width, info.base_height};
}

void refresh_canvas_size(filter_instance &instance) {
    const canvas_size canvas = host_canvas_size();
    if (!instance.tracking.mutex.ready())
        return;
    std::lock_guard lock(instance.tracking.mutex);
    instance.tracking.canvas_width = canvas.width;
    instance.tracking.canvas_height = canvas.height;
}

filter_state read_filter_state(filter_instance &instance) {
    filter_state state{};
    {
        std::lock_guard lock(instance.config.mutex);
        state.settings = instance.config.settings;
        state.worker_running = instance.config.worker_running;
        state.generation = instance.config.generation;
        state.family_pending = static_cast<bool>(instance.config.pending_family);
        state.controls = instance.config.controls;
    }
    {
        const tracking_part &t = instance.tracking;
        std::lock_guard lock(instance.tracking.mutex);
        state.status = t.status;
        state.frame_width = t.frame_width;
        state.frame_height = t.frame_height;
        state.frame_usable = t.frame_usable;
        state.intake = t.intake;
        state.canvas_width = t.canvas_width;
        state.canvas_height = t.canvas_height;
        state.input_sequence = t.input_frame.sequence;
        state.input_source_width = t.input_frame.source_width;
        state.input_source_height = t.input_frame.source_height;
        state.taken_sequence = t.taken_sequence;
        state.last_pass_ns = t.last_pass_ns;
        state.markers = t.markers;
        state.published_generation = t.generation;
    }
    {
        std::lock_guard lock(instance.render.mutex);
        state.crop = instance.render.crop;
        state.setup_view = instance.render.setup_view;
        state.overlay = instance.render.overlay;
    }
    {
        std::lock_guard lock(instance.perf.mutex);
        state.perf = instance.perf.window;
    }
    return state;
}

bool ensure_detection_frame(detection_frame &frame, int32_t width, int32_t height) {
    if (width < 1 || height < 1)
        return false;
    const uint64_t w = static_cast<uint64_t>(width);
    const uint64_t h = static_cast<uint64_t>(height);
    if (h > std::numeric_limits<uint64_t>::max() / w || w * h > std::numeric_limits<size_t>::max())
        return false;
    if (frame.data && frame.width == width && frame.height == height && frame.stride == width)
        return true;

    host_bytes data(static_cast<uint8_t *>(bzalloc(static_cast<size_t>(w * h))));
    if (!data)
        return false;
    frame = detection_frame{std::move(data), width, height, width, 0, 0, 0};
    return true;
}

// The filter's face for scripts and tools: the state procedure and the markers signals on the
// filter's own handlers, and its two hotkey pairs. The procedure runs on its caller's thread (a
// script's signal handler or timer: the graphics thread; a tool: its own), so it copies each part
// under its lock and never waits for a detection. Hotkeys come on the host's hotkey thread or, in
// the desktop application, its UI thread: never the graphics thread that reads what they set.
#include "filter/controls.h"
#include "filter/instance.h"
#include "module/module.h"

#include <mutex>

namespace {

void get_state(void *data, calldata_t *cd) {
    const filter_state s = read_filter_state(*static_cast<filter_instance *>(data));
    const tracking_status &t = s.status;
    calldata_set_bool(cd, "target_valid", t.target_valid);
    calldata_set_float(cd, "target_center_x", static_cast<double>(t.target_rect.center_x));
    calldata_set_float(cd, "target_center_y", static_cast<double>(t.target_rect.center_y));
    calldata_set_float(cd, "target_width", static_cast<double>(t.target_rect.width));
    calldata_set_float(cd, "target_height", static_cast<double>(t.target_rect.height));
    calldata_set_int(cd, "target_frame_width", t.target_frame_width);
    calldata_set_int(cd, "target_frame_height", t.target_frame_height);
    calldata_set_float(cd, "crop_scale_x", static_cast<double>(s.crop.crop_scale_x));
    calldata_set_float(cd, "crop_scale_y", static_cast<double>(s.crop.crop_scale_y));
    calldata_set_float(cd, "crop_offset_x", static_cast<double>(s.crop.crop_offset_x));
    calldata_set_float(cd, "crop_offset_y", static_cast<double>(s.crop.crop_offset_y));
    calldata_set_bool(cd, "visible", s.crop.crop_visibility > 0.0f);
    calldata_set_int(cd, "frame_width", s.frame_width);
    calldata_set_int(cd, "frame_height", s.frame_height);
    calldata_set_bool(cd, "tag_a_seen", s.markers.tag_a_seen);
    calldata_set_bool(cd, "tag_b_seen", s.markers.tag_b_seen);
    calldata_set_bool(cd, "both_seen", t.both_tags_seen);
    calldata_set_int(cd, "last_pass_ns", static_cast<long long>(s.last_pass_ns));
    calldata_set_bool(cd, "following_paused", s.controls.following_paused);
    calldata_set_bool(cd, "whole_picture", s.controls.whole_picture);
}

bool set_control(void *data, bool zoom_controls::*flag, bool value, bool pressed) {
    auto *instance = static_cast<filter_instance *>(data);
    std::lock_guard lock(instance->config.mutex);
    return apply_hotkey_half(instance->config.controls.*flag, value, pressed);
}

bool pause_following(void *data, obs_hotkey_pair_id, obs_hotkey_t *, bool pressed) {
    return set_control(data, &zoom_controls::following_paused, true, pressed);
}
bool resume_following(void *data, obs_hotkey_pair_id, obs_hotkey_t *, bool pressed) {
    return set_control(data, &zoom_controls::following_paused, false, pressed);
}
bool whole_picture_on(void *data, obs_hotkey_pair_id, obs_hotkey_t *, bool pressed) {
    return set_control(data, &zoom_controls::whole_picture, true, pressed);
}
bool whole_picture_off(void *data, obs_hotkey_pair_id, obs_hotkey_t *, bool pressed) {
    return set_control(data, &zoom_controls::whole_picture, false, pressed);
}

void unregister_pair(obs_hotkey_pair_id &id) {
    if (id != OBS_INVALID_HOTKEY_PAIR_ID)
        obs_hotkey_pair_unregister(id);
    id = OBS_INVALID_HOTKEY_PAIR_ID;
}

} // namespace

void register_controls(filter_instance &instance) {
    // Instances made by tests and benchmarks without a source have nothing to register with.
    obs_source_t *source = instance.source;
    if (!source)
        return;
    // Declared before anyone can find the filter: the host connects nothing to an undeclared
    // signal, not even once it is declared later.
    for (const char *decl : marker_signal_decls)
        signal_handler_add(obs_source_get_signal_handler(source), decl);
    proc_handler_add(obs_source_get_proc_handler(source), state_procedure_decl, get_state,
                     &instance);
    // Only pairs: the host refuses single hotkeys on filters, which are always private. Bindings
    // saved with the parent come back here, looked up by name in what the host hands the source.
    hotkeys_part &keys = instance.hotkeys;
    keys.following = obs_hotkey_pair_register_source(
        source, hotkey_pause_following, module_text(hotkey_pause_following),
        hotkey_resume_following, module_text(hotkey_resume_following), pause_following,
        resume_following, &instance, &instance);
    keys.whole_picture = obs_hotkey_pair_register_source(
        source, hotkey_whole_picture_on, module_text(hotkey_whole_picture_on),
        hotkey_whole_picture_off, module_text(hotkey_whole_picture_off), whole_picture_on,
        whole_picture_off, &instance, &instance);
}

void unregister_hotkeys(filter_instance &instance) {
    unregister_pair(instance.hotkeys.following);
    unregister_pair(instance.hotkeys.whole_picture);
}

void announce_markers(filter_instance &instance, bool both_seen) {
    const marker_signal signal = marker_signal_for(instance.announced_both_seen, both_seen);
    instance.announced_both_seen = both_seen;
    if (signal == marker_signal::none || !instance.source)
        return;
    uint8_t stack[128];
    calldata_t cd;
    calldata_init_fixed(&cd, stack, sizeof(stack));
    calldata_set_ptr(&cd, "source", instance.source);
    signal_handler_signal(obs_source_get_signal_handler(instance.source),
                          marker_signal_name(signal), &cd);
}

#pragma once

// What scripts and tools see of a filter and how the user steers it live: the state procedure,
// the markers signals and the hotkey pairs, as the rules behind them. Host-free; the glue that
// registers them with the host is filter/filter_controls.cpp.
#include <cstdint>

// The names the host saves bindings under, with the filter in its parent's saved filters: never
// rename them. Each doubles as the locale key of its description, as the host's own modules do.
inline constexpr char hotkey_pause_following[] = "Pinvale.PauseFollowing";
inline constexpr char hotkey_resume_following[] = "Pinvale.ResumeFollowing";
inline constexpr char hotkey_whole_picture_on[] = "Pinvale.WholePictureOn";
inline constexpr char hotkey_whole_picture_off[] = "Pinvale.WholePictureOff";

// One half of a hotkey pair pressed or released: sets `flag` to `value` on a press that changes
// it, and says whether it did. The host's pair logic needs that answer: a half that claimed a
// press while its state already held would keep the other half from acting when both are bound
// to one key, which the desktop offers as a toggle.
bool apply_hotkey_half(bool &flag, bool value, bool pressed);

enum class marker_signal : uint8_t {
    none,
    found,
    lost,
};

// The signal a tick sends when "both markers seen" went from `announced` to `now`.
marker_signal marker_signal_for(bool announced, bool now);
// Its name as declared; null for none.
const char *marker_signal_name(marker_signal signal);

// Declared on the filter's own signal handler; `source` is the filter.
inline constexpr const char *marker_signal_decls[] = {"void markers_found(ptr source)",
                                                      "void markers_lost(ptr source)"};

// The state procedure on the filter's own procedure handler. The host's declarations know only
// int (64-bit), float (double), bool, ptr and string, and its getters match a value by name and
// byte size, not type: every output is set with the setter of its declared type.
inline constexpr char state_procedure_name[] = "get_state";
inline constexpr char state_procedure_decl[] =
    "void get_state(out bool target_valid, out float target_center_x, out float target_center_y,"
    " out float target_width, out float target_height, out int target_frame_width,"
    " out int target_frame_height, out float crop_scale_x, out float crop_scale_y,"
    " out float crop_offset_x, out float crop_offset_y, out bool visible, out int frame_width,"
    " out int frame_height, out bool tag_a_seen, out bool tag_b_seen, out bool both_seen,"
    " out int last_pass_ns, out bool following_paused, out bool whole_picture)";

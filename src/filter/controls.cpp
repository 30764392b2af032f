#include "filter/controls.h"

bool apply_hotkey_half(bool &flag, bool value, bool pressed) {
    if (!pressed || flag == value)
        return false;
    flag = value;
    return true;
}

marker_signal marker_signal_for(bool announced, bool now) {
    if (announced == now)
        return marker_signal::none;
    return now ? marker_signal::found : marker_signal::lost;
}

const char *marker_signal_name(marker_signal signal) {
    switch (signal) {
    case marker_signal::found:
        return "markers_found";
    case marker_signal::lost:
        return "markers_lost";
    case marker_signal::none:
        break;
    }
    return nullptr;
}

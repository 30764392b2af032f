#include "intake/luma_layout.h"

#include <array>

std::optional<luma_layout> luma_layout_for_format(int format) {
    switch (format) {
    case 1:  // I420
    case 2:  // NV12
    case 9:  // Y800
    case 10: // I444
    case 12: // I422
        return LUMA_PLANE8;
    case 7: // BGRA
        return LUMA_BGRA;
    case 6: // RGBA
        return LUMA_RGBA;
    case 8: // BGRX
        return LUMA_BGRX;
    case 5: // UYVY
        return LUMA_UYVY;
    case 4: // YUY2
        return LUMA_YUY2;
    case 3: // YVYU
        return LUMA_YVYU;
    default:
        // Alpha, 24-bit packed and deeper-than-8-bit formats stay unsupported.
        return std::nullopt;
    }
}

const char *video_format_short_name(int format) {
    static constexpr std::array<const char *, 26> names = {
        "None", "I420", "NV12", "YVYU", "YUY2", "UYVY", "RGBA", "BGRA", "BGRX",
        "Y800", "I444", "BGR3", "I422", "I40A", "I42A", "YUVA", "AYUV", "I010",
        "P010", "I210", "I412", "YA2L", "P216", "P416", "v210", "R10l",
    };
    if (format < 0 || format >= static_cast<int>(names.size())) {
        return names[0];
    }
    return names[static_cast<size_t>(format)];
}

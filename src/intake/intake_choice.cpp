#include "intake/intake_choice.h"

#include "intake/luma.h"

namespace {

std::string size_text(int32_t width, int32_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string reason_text(drawn_reason reason, int format, int32_t width, int32_t height,
                        int32_t drawn_width, int32_t drawn_height) {
    switch (reason) {
    case drawn_reason::gpu_source:
        return "the source draws on the GPU and hands over no raw frames";
    case drawn_reason::format:
        return std::string("its raw frames are ") + video_format_short_name(format) +
               ", which the filter does not read directly";
    case drawn_reason::size:
        return "its " + size_text(width, height) + " raw frames are shown at " +
               size_text(drawn_width, drawn_height) + ", turned or resized";
    case drawn_reason::setting:
        return "as its settings ask";
    case drawn_reason::none:
        break;
    }
    return "";
}

} // namespace

intake_choice choose_intake(const raw_frame_facts &facts) {
    if (facts.force_drawn)
        return {intake_kind::drawn, drawn_reason::setting};
    if (!facts.readable_format)
        return {intake_kind::drawn, drawn_reason::format};
    if (!facts.has_target)
        return {intake_kind::raw_frames, drawn_reason::none};
    if (facts.drawn_width < 1 || facts.drawn_height < 1)
        return {facts.drawn_available ? intake_kind::undecided : intake_kind::raw_frames,
                drawn_reason::none};
    // The filter's first frame: the source's own frame before it most likely had this size.
    const bool previous_known = facts.previous_width >= 1 && facts.previous_height >= 1;
    const int32_t width = previous_known ? facts.previous_width : facts.width;
    const int32_t height = previous_known ? facts.previous_height : facts.height;
    if (facts.drawn_width == width && facts.drawn_height == height)
        return {intake_kind::raw_frames, drawn_reason::none};
    return {intake_kind::drawn, drawn_reason::size};
}

intake_log_line describe_intake(intake_choice choice, bool drawn_available, int format,
                                int32_t width, int32_t height, int32_t drawn_width,
                                int32_t drawn_height) {
    if (choice.kind == intake_kind::raw_frames)
        return {false, "Pinvale: reading the source's raw frames (" +
                           std::string(video_format_short_name(format)) + ", " +
                           size_text(width, height) + ")"};
    const std::string why =
        reason_text(choice.reason, format, width, height, drawn_width, drawn_height);
    if (!drawn_available)
        return {true, "Pinvale: cannot read the picture as drawn (" + why +
                          ": its effect did not load); tracking remains pass-through"};
    return {false, "Pinvale: reading the picture as drawn (" + why + ")"};
}

#pragma once

// Which intake reads a source's picture: its raw frames, on the CPU as they arrive, or the
// picture as the host draws it, read back from the GPU. Host-free.
#include <cstdint>
#include <string>

enum class intake_kind : uint8_t {
    undecided, // no drawn size to compare yet: the raw frame is read, and nothing said
    raw_frames,
    drawn,
};

// Why the picture is read as drawn.
enum class drawn_reason : uint8_t {
    none,
    gpu_source, // the parent draws on the GPU and hands over no raw frames
    format,     // raw frames the luma reader does not take
    size,       // drawn at another size than delivered: turned by the host, or a filter below
    setting,    // the user asked for it
};

struct intake_choice {
    intake_kind kind;
    drawn_reason reason;
    bool operator==(const intake_choice &) const = default;
};

inline constexpr intake_choice gpu_source_choice{intake_kind::drawn, drawn_reason::gpu_source};

// What filter_video knows when a raw frame comes.
struct raw_frame_facts {
    bool force_drawn;     // the setting
    bool readable_format; // the luma reader takes the frame's format
    bool has_target;      // false: the filter is on no source, nothing could be drawn
    bool drawn_available; // the GPU intake can serve
    int32_t width;        // this frame
    int32_t height;
    // The frame before this one, 0 x 0 when none.
    int32_t previous_width;
    int32_t previous_height;
    // The filter's target as the host draws it now, 0 x 0 when unknown. The host sizes its
    // texture after the filters have seen a frame, so this describes the previous frame.
    int32_t drawn_width;
    int32_t drawn_height;
};

// Raw frames serve only when they show what is drawn: the drawn size equals the previous frame's
// (this frame's, when the filter saw none before). Undecided while the host has drawn nothing of
// the source yet, or raw frames when the GPU intake is not available. A 180-degree turn keeps the
// sizes, and so does a 90-degree turn of a square frame: neither shows.
intake_choice choose_intake(const raw_frame_facts &facts);

// The log line naming the intake chosen for frames of `format` (a host format value), `width` x
// `height` drawn at `drawn_width` x `drawn_height`. When the picture would be read as drawn but
// the GPU intake is not available, it says that tracking stays off, as a warning.
struct intake_log_line {
    bool warning;
    std::string text;
};
intake_log_line describe_intake(intake_choice choice, bool drawn_available, int format,
                                int32_t width, int32_t height, int32_t drawn_width,
                                int32_t drawn_height);

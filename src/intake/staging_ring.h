#pragma once

// Which staging surface of the GPU intake to fill and which to read, decided without asking the
// GPU (libobs 29 has no fence): a picture staged on one video frame is read on a later one, by
// which time the host's own frame work has pushed the copy through. Host-free.
#include <array>
#include <cstdint>
#include <optional>

struct staged_picture {
    int32_t width; // the luma picture: the detection size
    int32_t height;
    int32_t source_width; // the target's drawn size when staged
    int32_t source_height;
    uint64_t frame_time; // the host's video frame time it was staged on
    uint64_t sequence;   // the submit sequence it was found due with
    uint64_t stage_ns;   // graphics-thread time the draw, conversion and copy took
};

class staging_ring {
public:
    // Two surfaces: one read on this frame while the next is staged, so staging every frame never
    // has to skip.
    static constexpr int32_t size = 2;

    // The slot to stage into on the frame at `frame_time`, or -1: one stage per video frame
    // however often the filter is drawn, and never over a picture not taken yet.
    int32_t slot_to_stage(uint64_t frame_time) const;
    void mark_staged(int32_t slot, const staged_picture &picture);

    // The oldest picture staged on an earlier frame than `frame_time`, or -1.
    int32_t slot_to_take(uint64_t frame_time) const;
    const staged_picture &picture(int32_t slot) const { return pictures_[slot]; }
    void release(int32_t slot) { pending_[slot] = false; }

    // Forgets every picture; the frame's stage stays counted, so that no second draw follows on
    // the same frame.
    void clear() { pending_ = {}; }
    int32_t pending() const;

private:
    std::array<staged_picture, size> pictures_{};
    std::array<bool, size> pending_{};
    std::optional<uint64_t> last_stage_time_;
};

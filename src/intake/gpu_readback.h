#pragma once

// The GPU intake's graphics side: the filter's target drawn a second time at the detection size,
// turned into packed 8-bit luma by an effect, and copied to a staging surface that a later video
// frame maps, so that the graphics thread never waits for the GPU. Owned by the instance's
// graphics part; every call runs inside the host's graphics context.
#include "filter/host_handles.h"
#include "intake/staging_ring.h"

#include <array>
#include <optional>

class gpu_readback {
public:
    // Loads the luma effect and makes the render targets. False, with the loader's text in
    // `error` when it gave one, when the effect does not load or lacks what it needs.
    bool load(const char *effect_path, host_string &error);
    bool loaded() const { return static_cast<bool>(effect_); }

    // Whether a stage on the video frame at `frame_time` would find a surface: none staged yet on
    // that frame and one free. No graphics call.
    bool can_stage(uint64_t frame_time) const { return ring_.slot_to_stage(frame_time) >= 0; }

    // Draws the filter's target at `picture`'s size, converts it to luma and stages it, stamped
    // `picture` and the graphics-thread time it took. False, having staged nothing, when no surface
    // is free, the filter has no target or it has no size, or a graphics object could not be made.
    bool stage(obs_source_t *filter, const staged_picture &picture);

    // The picture take() would copy on the frame at `frame_time`: the oldest one staged on an
    // earlier frame.
    std::optional<staged_picture> next_ready(uint64_t frame_time);

    // Maps the picture next_ready() reported, hands its rows to `copy(data, linesize)`, and frees
    // its surface. False, with the surface freed, when mapping fails.
    template <typename Copy>
    bool take(uint64_t frame_time, Copy &&copy) {
        const int32_t slot = ring_.slot_to_take(frame_time);
        if (slot < 0)
            return false;
        uint8_t *data = nullptr;
        uint32_t linesize = 0;
        const bool mapped = gs_stagesurface_map(surfaces_[slot].get(), &data, &linesize);
        if (mapped) {
            copy(static_cast<const uint8_t *>(data), linesize);
            gs_stagesurface_unmap(surfaces_[slot].get());
        }
        ring_.release(slot);
        return mapped;
    }

    // Forgets every staged picture (tracking turned off, or raw frames serve).
    void drop_pending() { ring_.clear(); }
    int32_t pending() const { return ring_.pending(); }

private:
    gs_stagesurf_t *surface_for(int32_t slot, int32_t width, int32_t height);
    bool convert(gs_texture_t *picture, int32_t width, int32_t height);

    effect_ptr effect_;
    gs_eparam_t *param_image_ = nullptr;
    gs_eparam_t *param_luma_width_ = nullptr;
    gs_technique_t *technique_ = nullptr;
    texrender_ptr picture_; // the target, drawn at the detection size
    texrender_ptr luma_;    // its luma, four values to a texel
    std::array<stagesurf_ptr, staging_ring::size> surfaces_;
    staging_ring ring_;
};

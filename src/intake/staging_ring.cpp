#include "intake/staging_ring.h"

int32_t staging_ring::slot_to_stage(uint64_t frame_time) const {
    if (last_stage_time_ == frame_time)
        return -1;
    for (int32_t slot = 0; slot < size; ++slot)
        if (!pending_[slot])
            return slot;
    return -1;
}

void staging_ring::mark_staged(int32_t slot, const staged_picture &picture) {
    pictures_[slot] = picture;
    pending_[slot] = true;
    last_stage_time_ = picture.frame_time;
}

int32_t staging_ring::slot_to_take(uint64_t frame_time) const {
    int32_t oldest = -1;
    for (int32_t slot = 0; slot < size; ++slot)
        if (pending_[slot] && pictures_[slot].frame_time < frame_time &&
            (oldest < 0 || pictures_[slot].frame_time < pictures_[oldest].frame_time))
            oldest = slot;
    return oldest;
}

int32_t staging_ring::pending() const {
    int32_t count = 0;
    for (const bool held : pending_)
        count += held;
    return count;
}

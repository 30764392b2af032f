#pragma once

// The detector library's side: families and detectors as owned objects set up with the fixed
// configuration, one timed detection, and tag A and B out of its result array. Host-free.
#include "detect/tracking.h"
#include "filter/settings.h"

#include <apriltag.h>
#include <cstdint>
#include <memory>

// A family, freed by the call of its own kind (the library has one pair of calls per family).
class tag_family_handle {
public:
    tag_family_handle() = default;
    explicit tag_family_handle(tag_family_kind kind); // empty when the library fails
    ~tag_family_handle() { reset(); }
    tag_family_handle(tag_family_handle &&other) noexcept { *this = std::move(other); }
    tag_family_handle &operator=(tag_family_handle &&other) noexcept;
    tag_family_handle(const tag_family_handle &) = delete;
    tag_family_handle &operator=(const tag_family_handle &) = delete;

    apriltag_family_t *get() const { return family_; }
    tag_family_kind kind() const { return kind_; }
    explicit operator bool() const { return family_ != nullptr; }
    void reset();

private:
    apriltag_family_t *family_ = nullptr;
    tag_family_kind kind_ = tag_family_kind::tag16h5;
};

// Half the cores (physical when known), between 1 and 4; 2 when nothing is known.
int32_t detector_thread_count(int physical_cores, int logical_cores);

struct detector_release {
    void operator()(apriltag_detector_t *detector) const { apriltag_detector_destroy(detector); }
};
using detector_ptr = std::unique_ptr<apriltag_detector_t, detector_release>;

// A detector with the fixed configuration on `threads` threads; null when the library fails.
detector_ptr make_detector(int32_t threads);

// Swaps the one registered family for another; the detector holds no reference to the old one
// afterwards, so its owner may free it.
void register_family(apriltag_detector_t *detector, const apriltag_family_t *old_family,
                     apriltag_family_t *new_family);

// The detector library reads out of bounds on images under 4 pixels wide or high and asserts
// on 32768 or more either way.
inline constexpr int32_t smallest_detectable = 4;
inline constexpr int32_t largest_detectable = 32767;
bool detectable_size(int32_t width, int32_t height);

struct detections_release {
    void operator()(zarray_t *detections) const { apriltag_detections_destroy(detections); }
};
using detections_ptr = std::unique_ptr<zarray_t, detections_release>;

struct detection_run {
    detections_ptr detections; // null when the detector gave no result array
    uint64_t duration_ns;      // 0 when not timed
    int32_t quads;
};

// One detection; `clock` (nanoseconds) times it when given.
detection_run run_detection(apriltag_detector_t *detector, const image_u8_t &image,
                            uint64_t (*clock)());

// Tag A and tag B out of a result array, read in array order; with `markers`, also what the
// pass saw, scaled to source pixels.
tag_pair_selection select_detected_tags(const zarray_t *detections, int32_t tag_id_a,
                                        int32_t tag_id_b, pass_markers *markers = nullptr,
                                        float scale_x = 1.0f, float scale_y = 1.0f);

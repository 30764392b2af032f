#pragma once

#include "detect/crop_geometry.h"
#include "filter/canvas_size.h"
#include "filter/filter_instance.h"

#include <cstdint>

// The tracking fields one pass publishes, as the tick reads them.
struct tracking_status {
    bool tags_lost;
    bool both_tags_seen;
    uint64_t tags_lost_since_ns;
    bool target_valid;
};

// What a pass that saw any tag / both tags at now_ns makes of the status
// before it, the crop target aside. The loss time is stamped only at the
// pass that loses the tags; with one tag the last crop stays in force.
tracking_status status_after_pass(const tracking_status &before, bool any_tag, bool both_tags,
                                  uint64_t now_ns);

// Publishes the status of a pass under the frame mutex and returns the host's
// canvas size read in the same critical section, for the crop's aspect.
canvas_size publish_status(filter_instance *instance, bool any_tag, bool both_tags,
                           uint64_t now_ns);

// Publishes the crop of a both-tags pass, with the size of the source frame
// its rectangle is measured in.
void publish_target(filter_instance *instance, const crop_target &target, int32_t source_width,
                    int32_t source_height);

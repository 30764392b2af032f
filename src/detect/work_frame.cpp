#include "detect/work_frame.h"
#include "intake/detection_frame.h"
#include "platform/threads.h"

#include <cstring>

bool copy_detection_frame(detection_frame &work, const detection_frame &input) {
    if (!input.data || !ensure_detection_frame(&work, input.width, input.height))
        return false;
    // A detection frame is tightly packed, so the picture is one block.
    std::memcpy(work.data, input.data,
                static_cast<size_t>(input.width) * static_cast<size_t>(input.height));
    work.sequence = input.sequence;
    work.source_width = input.source_width;
    work.source_height = input.source_height;
    return true;
}

void take_newest_frame(filter_instance *instance) {
    mutex_lock lock(instance->frame_mutex);
    const detection_frame &input = instance->input_frame;
    if (!input.data || input.sequence == 0 || input.sequence == instance->work_frame.sequence)
        return;
    if (copy_detection_frame(instance->work_frame, input))
        return;
    // Shared with the intake's allocation message, which it sets under this same mutex.
    if (!instance->warned_alloc) {
        instance->warned_alloc = true;
        blog(LOG_ERROR, "Pinvale: failed to allocate detector work buffer");
    }
}

#pragma once

#include "filter/filter_callbacks.h"
#include "filter/filter_instance.h"
#include "render_readback.h"
#include "test_source.h"

#include <obs.h>

// A test source with the real filter from the loaded module attached, as a
// user would set it up, and the host drawing it on its main output every
// frame, as a preview does. Only one may exist at a time (output channel 0).
class filtered_source {
public:
    filtered_source(const char *name, obs_data_t *filter_settings);
    ~filtered_source();
    filtered_source(const filtered_source &) = delete;
    filtered_source &operator=(const filtered_source &) = delete;

    bool ready() const { return parent_ && filter_ && instance(); }
    obs_source_t *parent() const { return parent_; }
    obs_source_t *filter() const { return filter_; }
    // The module's own record behind the filter.
    filter_instance *instance() const;

    // Pushes the picture as one raw frame and waits until the host has drawn it.
    bool show(const rgb_picture &picture, video_format format);
    // Pushes a raw frame without waiting, as a camera would.
    void push(const rgb_picture &picture, video_format format) {
        push_picture(parent_, picture, format);
    }
    // The parent as the filter draws it now.
    rgba_image render() const { return render_source(parent_); }
    // Calls the filter's update at once. The host would defer it to its
    // graphics thread behind an atomic counter that ThreadSanitizer cannot see
    // in the uninstrumented host, and the test would have to wait for it.
    void update(obs_data_t *settings) { filter_update(instance(), settings); }
    // What the tick published last.
    crop_parameters crop() const;

private:
    obs_source_t *parent_ = nullptr;
    obs_source_t *filter_ = nullptr;
};

bool same_crop(const crop_parameters &a, const crop_parameters &b);

#pragma once

#include "test_source.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// Pushes the current frame into a test source at a steady rate from its own
// thread, as a camera delivers frames whether or not anything changed.
class test_camera {
public:
    test_camera(obs_source_t *source, double fps = 30.0);
    ~test_camera();
    test_camera(const test_camera &) = delete;
    test_camera &operator=(const test_camera &) = delete;

    // From the next frame on, the camera delivers this one.
    void show(std::shared_ptr<raw_video_frame> frame);
    // The host's clock when the frame given last to show was first pushed; 0 until then.
    uint64_t shown_since_ns() const;

private:
    void run();

    obs_source_t *source_;
    const uint64_t interval_ns_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::shared_ptr<raw_video_frame> frame_;
    bool frame_pushed_ = false;
    uint64_t shown_since_ns_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

#include "test_camera.h"

#include <util/platform.h>

test_camera::test_camera(obs_source_t *source, double fps)
    : source_(source), interval_ns_(static_cast<uint64_t>(1e9 / fps)), thread_([this] { run(); }) {}

test_camera::~test_camera() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void test_camera::show(std::shared_ptr<raw_video_frame> frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frame_ = std::move(frame);
        frame_pushed_ = false;
        shown_since_ns_ = 0;
    }
    wake_.notify_all();
}

uint64_t test_camera::shown_since_ns() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_since_ns_;
}

void test_camera::run() {
    uint64_t next_ns = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (!frame_) {
            wake_.wait(lock, [&] { return stop_ || frame_; });
            continue;
        }
        // A new frame goes out at once, the current one again at the next slot.
        const uint64_t now = os_gettime_ns();
        if (frame_pushed_ && now < next_ns) {
            wake_.wait_for(lock, std::chrono::nanoseconds(next_ns - now),
                           [&] { return stop_ || !frame_pushed_; });
            continue;
        }
        std::shared_ptr<raw_video_frame> frame = frame_;
        const bool first = !frame_pushed_;
        frame_pushed_ = true;
        lock.unlock();
        const uint64_t pushed_ns = os_gettime_ns();
        frame->push_to(source_);
        lock.lock();
        if (first && frame == frame_)
            shown_since_ns_ = pushed_ns;
        next_ns = pushed_ns + interval_ns_;
    }
}

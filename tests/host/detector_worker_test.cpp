// The detector worker on real instances: what it publishes for drawn markers,
// which frames it takes, and how it behaves beside the host's threads.
#include "detect/crop_geometry.h"
#include "detect/detector_setup.h"
#include "expected_tags.h"
#include "filter/settings_keys.h"
#include "filter_fixture.h"
#include "host_environment.h"
#include "tag_scenes.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <util/platform.h>

namespace {

using namespace std::chrono_literals;

// A 4:3 source under the host's 16:9 canvas: the crop's shape shows that the
// canvas decided the aspect. Detection at half the source size.
constexpr int detect_w = 640;
constexpr int detect_h = 480;
constexpr int source_w = 1280;
constexpr int source_h = 960;

struct family_owner {
    int32_t kind;
    apriltag_family_t *family;
    explicit family_owner(int32_t k) : kind(k), family(create_tag_family(k)) {}
    ~family_owner() { destroy_tag_family(family, kind); }
    family_owner(const family_owner &) = delete;
    family_owner &operator=(const family_owner &) = delete;
};

struct published {
    bool tags_lost;
    bool both_tags_seen;
    uint64_t tags_lost_since_ns;
    bool target_valid;
    crop_rect rect;
    int32_t target_frame_width;
    int32_t target_frame_height;
};

// Drives a real instance's worker as the frame intake does: writes the
// detection frame under the frame mutex with a new sequence, then signals.
class worker_harness {
public:
    explicit worker_harness(int32_t tag_family) : settings_(default_settings()) {
        obs_data_set_int(settings_.get(), key_tag_family, tag_family);
        // Diagnostics on: the window's detection count tells the test when passes end.
        obs_data_set_bool(settings_.get(), key_perf_diagnostics, true);
        instance_ = create_instance(settings_.get());
    }

    filter_instance *get() const { return instance_.get(); }
    obs_data_t *settings() const { return settings_.get(); }
    void destroy() { instance_.reset(); }

    uint64_t feed(const gray_image &image, int sw = source_w, int sh = source_h) {
        filter_instance *in = get();
        {
            mutex_lock lock(in->frame_mutex);
            detection_frame &f = in->input_frame;
            if (!f.data || f.width != image.width || f.height != image.height) {
                bfree(f.data);
                f.data = static_cast<uint8_t *>(bzalloc(image.pixels.size()));
                f.width = image.width;
                f.height = image.height;
                f.stride = image.width;
            }
            std::memcpy(f.data, image.pixels.data(), image.pixels.size());
            f.source_width = sw;
            f.source_height = sh;
            f.sequence = ++sequence_;
        }
        event_signal(in->detect_event);
        return sequence_;
    }

    void signal() { event_signal(get()->detect_event); }

    uint64_t detections() {
        return read_locked<uint64_t>(get()->perf_mutex, [&] { return get()->perf_detections; });
    }
    uint64_t both_tag_runs() {
        return read_locked<uint64_t>(get()->perf_mutex, [&] { return get()->perf_both_tags; });
    }

    published status() {
        filter_instance *in = get();
        mutex_lock lock(in->frame_mutex);
        return {in->tags_lost,   in->both_tags_seen,     in->tags_lost_since_ns, in->target_valid,
                in->target_rect, in->target_frame_width, in->target_frame_height};
    }

    detection_frame work_frame_numbers() {
        filter_instance *in = get();
        mutex_lock lock(in->frame_mutex);
        detection_frame f = in->work_frame;
        f.data = nullptr;
        return f;
    }

    // Only the worker and a family switch take the detector mutex.
    bool detecting() {
        pthread_mutex_t &m = get()->detector_mutex;
        if (pthread_mutex_trylock(&m) == EBUSY)
            return true;
        pthread_mutex_unlock(&m);
        return false;
    }

    bool wait_detections(uint64_t count, std::chrono::milliseconds timeout = 10000ms) {
        return wait_until([&] { return detections() >= count; }, timeout);
    }

    // Shows a picture and returns once its pass has published: a second wake
    // re-detects the same frame, and passes run one after the other.
    bool show(const gray_image &image) {
        const uint64_t before = detections();
        feed(image);
        if (!wait_detections(before + 1))
            return false;
        signal();
        return wait_detections(before + 2);
    }

    void age_perf_window(uint64_t age_ns) {
        mutex_lock lock(get()->perf_mutex);
        get()->perf_window_start_ns = os_gettime_ns() - age_ns;
    }

private:
    data_ptr settings_;
    instance_ptr instance_;
    uint64_t sequence_ = 0;
};

std::string family_name(const ::testing::TestParamInfo<int32_t> &param) {
    return param.param == tag_family_tag16h5 ? "tag16h5" : "circle21h7";
}

const placed_marker &marker(const scene_picture &scene, int id) {
    for (const placed_marker &m : scene.markers)
        if (m.id == id)
            return m;
    return scene.markers.front();
}

class WorkerStatus : public ::testing::TestWithParam<int32_t> {};

// The status table walked through with pictures, including the ones that must fail.
TEST_P(WorkerStatus, FollowsWhatEachPictureShows) {
    family_owner fam(GetParam());
    worker_harness h(GetParam());
    ASSERT_NE(h.get(), nullptr);
    const scene_picture pair = make_tag_scene(fam.family, tag_scene::pair, detect_w, detect_h);
    const scene_picture only_b = make_tag_scene(fam.family, tag_scene::only_b, detect_w, detect_h);
    const scene_picture empty = make_tag_scene(fam.family, tag_scene::empty, detect_w, detect_h);
    const scene_picture close =
        make_tag_scene(fam.family, tag_scene::too_close, detect_w, detect_h);
    const scene_picture faint =
        make_tag_scene(fam.family, tag_scene::low_contrast, detect_w, detect_h);

    // Both tags: the crop of the drawn corners. Detected corners are within
    // corner_tolerance detection pixels of them; at 2 source pixels per
    // detection pixel that moves an edge by up to 1.5, the height-led width by
    // 16/9 times two edges, and whole-pixel rounding adds 1 to each.
    ASSERT_TRUE(h.show(pair.image));
    const crop_target expected = crop_target_from_pair(
        expected_tag_quad(fam.family, marker(pair, 0).outer),
        expected_tag_quad(fam.family, marker(pair, 1).outer), detect_w, detect_h, source_w,
        source_h, 0.0f, host_setup::canvas_width, host_setup::canvas_height);
    ASSERT_TRUE(expected.valid);
    const float scale = static_cast<float>(source_w) / detect_w;
    const float centre_tolerance = corner_tolerance * scale + 1.0f;
    const float size_tolerance = 2.0f * corner_tolerance * scale * (16.0f / 9.0f) + 2.0f;
    published s = h.status();
    EXPECT_TRUE(s.both_tags_seen);
    EXPECT_FALSE(s.tags_lost);
    ASSERT_TRUE(s.target_valid);
    EXPECT_NEAR(s.rect.center_x, expected.center_x, centre_tolerance);
    EXPECT_NEAR(s.rect.center_y, expected.center_y, centre_tolerance);
    EXPECT_NEAR(s.rect.width, expected.width, size_tolerance);
    EXPECT_NEAR(s.rect.height, expected.height, size_tolerance);
    EXPECT_NEAR(s.rect.width / s.rect.height, 16.0f / 9.0f, 0.05f) << "the canvas's aspect";
    EXPECT_EQ(s.target_frame_width, source_w);
    EXPECT_EQ(s.target_frame_height, source_h);
    const crop_rect good = s.rect;

    // One tag after a good pair: the crop stays.
    ASSERT_TRUE(h.show(only_b.image));
    s = h.status();
    EXPECT_FALSE(s.both_tags_seen);
    EXPECT_FALSE(s.tags_lost);
    EXPECT_TRUE(s.target_valid);
    EXPECT_EQ(std::memcmp(&s.rect, &good, sizeof(good)), 0);

    // No tag: lost, stamped at the first pass of the loss only.
    const uint64_t before_loss = os_gettime_ns();
    ASSERT_TRUE(h.show(empty.image));
    s = h.status();
    EXPECT_TRUE(s.tags_lost);
    EXPECT_FALSE(s.both_tags_seen);
    EXPECT_FALSE(s.target_valid);
    EXPECT_GE(s.tags_lost_since_ns, before_loss);
    EXPECT_LE(s.tags_lost_since_ns, os_gettime_ns());
    const uint64_t first_loss = s.tags_lost_since_ns;
    ASSERT_TRUE(h.show(empty.image));
    EXPECT_EQ(h.status().tags_lost_since_ns, first_loss);

    // One tag ends the loss without bringing a crop back; the next loss is a new one.
    ASSERT_TRUE(h.show(only_b.image));
    s = h.status();
    EXPECT_FALSE(s.tags_lost);
    EXPECT_FALSE(s.target_valid);
    ASSERT_TRUE(h.show(empty.image));
    EXPECT_GT(h.status().tags_lost_since_ns, first_loss);

    // Both tags, nearer than one tag side: seen, but no crop.
    ASSERT_TRUE(h.show(pair.image));
    ASSERT_TRUE(h.status().target_valid);
    ASSERT_TRUE(h.show(close.image));
    s = h.status();
    EXPECT_TRUE(s.both_tags_seen);
    EXPECT_FALSE(s.tags_lost);
    EXPECT_FALSE(s.target_valid);

    // Decoded below the margin counts as no tag.
    ASSERT_TRUE(h.show(faint.image));
    s = h.status();
    EXPECT_TRUE(s.tags_lost);
    EXPECT_FALSE(s.both_tags_seen);
    EXPECT_FALSE(s.target_valid);
}

INSTANTIATE_TEST_SUITE_P(Families, WorkerStatus,
                         ::testing::Values(tag_family_tag16h5, tag_family_circle21h7), family_name);

class DetectorWorker : public ::testing::Test {
protected:
    family_owner tag16h5{tag_family_tag16h5};
    scene_picture pair = make_tag_scene(tag16h5.family, tag_scene::pair, detect_w, detect_h);
    scene_picture empty = make_tag_scene(tag16h5.family, tag_scene::empty, detect_w, detect_h);
};

// Frames the worker must not detect: a buffer still at sequence 0, images
// too small or too tall for the library, and a frame of no size.
TEST_F(DetectorWorker, LeavesUndetectableFramesAlone) {
    worker_harness h(tag_family_tag16h5);
    ASSERT_TRUE(h.show(pair.image));
    const size_t mark = log_mark();

    {
        // As a fresh intake buffer is: allocated, zeroed, not yet stamped.
        mutex_lock lock(h.get()->frame_mutex);
        detection_frame &f = h.get()->input_frame;
        bfree(f.data);
        f = detection_frame{static_cast<uint8_t *>(bzalloc(320 * 240)), 320, 240, 320, 0, 0, 0};
    }
    uint64_t n = h.detections();
    h.signal();
    ASSERT_TRUE(h.wait_detections(n + 1));
    h.signal();
    ASSERT_TRUE(h.wait_detections(n + 2));
    EXPECT_EQ(h.work_frame_numbers().width, detect_w) << "the blank buffer was not taken";
    EXPECT_TRUE(h.status().both_tags_seen) << "the held picture was detected again";

    const struct { int w, h; } tiny[] = {{3, 2}, {960, 3}, {3, 540}, {4, 32768}, {32768, 4}};
    for (const auto size : tiny) {
        SCOPED_TRACE(testing::Message() << size.w << "x" << size.h);
        n = h.detections();
        const uint64_t sequence = h.feed(gray_image(size.w, size.h, 128));
        ASSERT_TRUE(wait_until([&] { return h.work_frame_numbers().sequence == sequence; }));
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(h.detections(), n);
        EXPECT_TRUE(h.status().both_tags_seen) << "nothing published";
    }
    n = h.detections();
    h.feed(gray_image(4, 4, 128));
    EXPECT_TRUE(h.wait_detections(n + 1)) << "4x4 is detected";

    // A frame of no size fails the copy: one message, and the held frame is detected again.
    ASSERT_TRUE(h.show(pair.image));
    for (int round = 0; round < 2; ++round) {
        {
            mutex_lock lock(h.get()->frame_mutex);
            h.get()->input_frame.width = 0;
            h.get()->input_frame.sequence += 1000;
        }
        n = h.detections();
        h.signal();
        ASSERT_TRUE(h.wait_detections(n + 1));
        h.signal();
        ASSERT_TRUE(h.wait_detections(n + 2));
        EXPECT_TRUE(h.status().both_tags_seen);
    }
    EXPECT_EQ(count_log_since(mark, LOG_ERROR, "Pinvale: failed to allocate detector work buffer"),
              1u);
}

TEST_F(DetectorWorker, TracksNothingWhileTrackingIsOffButTakesTheNewestFrame) {
    worker_harness h(tag_family_tag16h5);
    ASSERT_TRUE(h.show(pair.image));
    obs_data_set_bool(h.settings(), key_enable_tracking, false);
    filter_update(h.get(), h.settings());

    const uint64_t n = h.detections();
    const uint64_t sequence = h.feed(empty.image);
    ASSERT_TRUE(wait_until([&] { return h.work_frame_numbers().sequence == sequence; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(h.detections(), n);
    published s = h.status();
    EXPECT_TRUE(s.target_valid);
    EXPECT_TRUE(s.both_tags_seen);

    obs_data_set_bool(h.settings(), key_enable_tracking, true);
    filter_update(h.get(), h.settings());
    h.signal();
    ASSERT_TRUE(h.wait_detections(n + 1));
    h.signal();
    ASSERT_TRUE(h.wait_detections(n + 2));
    s = h.status();
    EXPECT_TRUE(s.tags_lost) << "the frame taken while off is the one detected";
    EXPECT_FALSE(s.target_valid);
}

// A picture big enough that one detection lasts long enough to act during it.
scene_picture slow_picture(apriltag_family_t *family, tag_scene kind) {
    return make_tag_scene(family, kind, 3840, 2160);
}

TEST_F(DetectorWorker, SignalsDuringADetectionMakeOneMorePassOnTheNewestFrame) {
    const scene_picture big = slow_picture(tag16h5.family, tag_scene::empty);
    worker_harness h(tag_family_tag16h5);
    h.feed(big.image, 3840, 2160);
    ASSERT_TRUE(wait_until([&] { return h.detecting(); }));
    h.feed(empty.image);
    const uint64_t newest = h.feed(pair.image);
    ASSERT_TRUE(h.detecting()) << "the detection ended before both frames were handed over";

    ASSERT_TRUE(h.wait_detections(2));
    ASSERT_TRUE(wait_until([&] { return h.status().both_tags_seen; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(h.detections(), 2u);
    EXPECT_EQ(h.work_frame_numbers().sequence, newest);
}

TEST_F(DetectorWorker, DestroyDuringADetectionReturnsAfterIt) {
    const scene_picture big = slow_picture(tag16h5.family, tag_scene::empty);
    worker_harness h(tag_family_tag16h5);
    ASSERT_TRUE(h.show(pair.image));
    h.feed(big.image, 3840, 2160);
    ASSERT_TRUE(wait_until([&] { return h.detecting(); }));
    // The pass under way logs the report line once its detection is done; it
    // is in the log when destroy returns only if destroy waited for the pass.
    h.age_perf_window(6000000000ull);
    const size_t mark = log_mark();
    auto destroyed = std::async(std::launch::async, [&] { h.destroy(); });
    ASSERT_EQ(destroyed.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(count_log_since(mark, LOG_INFO, "[Pinvale perf] source=3840x2160"), 1u);
}

TEST_F(DetectorWorker, FamilySwitchDuringADetectionTakesEffectOnTheNextPass) {
    family_owner circle(tag_family_circle21h7);
    const scene_picture big = slow_picture(tag16h5.family, tag_scene::pair);
    const scene_picture circle_pair =
        make_tag_scene(circle.family, tag_scene::pair, detect_w, detect_h);
    worker_harness h(tag_family_tag16h5);

    h.feed(big.image, 3840, 2160);
    ASSERT_TRUE(wait_until([&] { return h.detecting(); }));
    std::atomic<bool> updated{false};
    std::thread update([&] {
        obs_data_set_int(h.settings(), key_tag_family, tag_family_circle21h7);
        filter_update(h.get(), h.settings());
        updated = true;
    });
    std::this_thread::sleep_for(50ms);
    const bool update_done = updated;
    if (h.detecting()) {
        EXPECT_FALSE(update_done) << "the switch must wait for the detection";
    }
    update.join();

    ASSERT_TRUE(h.wait_detections(1));
    EXPECT_EQ(h.both_tag_runs(), 1u) << "the running detection kept the old family";

    h.feed(circle_pair.image);
    ASSERT_TRUE(h.wait_detections(2));
    EXPECT_EQ(h.both_tag_runs(), 2u) << "the next one used the new family";
    h.feed(pair.image);
    ASSERT_TRUE(h.wait_detections(3));
    EXPECT_EQ(h.both_tag_runs(), 2u) << "and no longer sees the old one";
}

TEST_F(DetectorWorker, DiagnosticsLineAfterFiveSecondsOfDetections) {
    worker_harness h(tag_family_tag16h5);
    ASSERT_TRUE(h.show(pair.image));
    const size_t mark = log_mark();
    h.age_perf_window(6000000000ull);
    h.signal();
    ASSERT_TRUE(wait_until([&] { return count_log_since(mark, LOG_INFO, "[Pinvale perf] ") > 0; }));

    std::string line;
    for (const log_line &l : captured_log_since(mark))
        if (l.text.rfind("[Pinvale perf] ", 0) == 0)
            line = l.text;
    int sw = 0, sh = 0, dw = 0, dh = 0, threads = 0;
    double requested = 0, actual = 0, sigma = -1, sharpening = 0, avg = 0, max = 0, duty = 0;
    double down_avg = -1, down_max = -1, down_duty = -1, quads = 0, any = 0, both = 0;
    char refine[8] = {};
    unsigned long long submitted = 1, dropped = 1, overruns = 99;
    const int fields = std::sscanf(
        line.c_str(),
        "[Pinvale perf] source=%dx%d detect=%dx%d requested=%lf fps actual=%lf fps threads=%d "
        "sigma=%lf refine=%7s sharpening=%lf | detect avg/max=%lf/%lf ms duty=%lf%% | "
        "downscale avg/max=%lf/%lf ms duty=%lf%% | quads=%lf tags(any/both)=%lf%%/%lf%% "
        "submitted=%llu dropped=%llu overruns=%llu",
        &sw, &sh, &dw, &dh, &requested, &actual, &threads, &sigma, refine, &sharpening, &avg, &max,
        &duty, &down_avg, &down_max, &down_duty, &quads, &any, &both, &submitted, &dropped,
        &overruns);
    ASSERT_EQ(fields, 22) << line;
    EXPECT_EQ(sw, source_w);
    EXPECT_EQ(sh, source_h);
    EXPECT_EQ(dw, detect_w);
    EXPECT_EQ(dh, detect_h);
    EXPECT_EQ(requested, 5.0);
    // Three detections in a window of a little over six seconds.
    EXPECT_GT(actual, 0.3);
    EXPECT_LT(actual, 0.6);
    EXPECT_EQ(threads, h.get()->worker_threads);
    EXPECT_STREQ(refine, "off");
    EXPECT_GT(avg, 0.0);
    EXPECT_LE(avg, max);
    EXPECT_LT(max, 5000.0);
    EXPECT_GT(duty, 0.0);
    EXPECT_LT(duty, 100.0);
    EXPECT_EQ(down_avg, 0.0) << "no intake in this test";
    EXPECT_EQ(down_duty, 0.0);
    EXPECT_GE(quads, 3.0) << "at least the three drawn markers";
    EXPECT_EQ(any, 100.0);
    EXPECT_EQ(both, 100.0);
    EXPECT_EQ(submitted, 0u);
    EXPECT_EQ(dropped, 0u);
}

} // namespace

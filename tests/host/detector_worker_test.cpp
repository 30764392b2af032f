// The detector worker of real instances: what it publishes, which frames it takes, and how it
// behaves beside the host's threads.
#include "host_harness.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>

namespace {

using namespace std::chrono_literals;

// A 4:3 source under the 16:9 canvas, so that the crop's shape shows the canvas decided it.
constexpr int detect_w = 640, detect_h = 480, source_w = 1280, source_h = 960;

grey_image picture(tag_scene kind, tag_family_kind family = tag_family_kind::tag16h5) {
    return make_tag_scene(family, kind, detect_w, detect_h).image;
}

// A real instance whose worker is driven as the intake drives it. Diagnostics on: the window's
// counters tell when passes end.
struct worker_harness {
    data_ptr settings = default_settings();
    instance_ptr instance;

    explicit worker_harness(bool window_search = true) {
        obs_data_set_bool(settings.get(), key_perf_diagnostics, true);
        obs_data_set_bool(settings.get(), key_window_search, window_search);
        instance = create_instance(settings.get());
    }
    uint64_t feed(const grey_image &image, int32_t sw = source_w, int32_t sh = source_h) {
        const uint64_t sequence = ++instance->submit_sequence;
        {
            std::lock_guard lock(instance->tracking.mutex);
            detection_frame &f = instance->tracking.input_frame;
            EXPECT_TRUE(ensure_detection_frame(f, image.width, image.height));
            std::memcpy(f.data.get(), image.pixels.data(), image.pixels.size());
            f.source_width = sw, f.source_height = sh, f.sequence = sequence;
        }
        instance->detect_event.signal();
        restart_perf_window(0);
        return sequence;
    }
    filter_state state() { return read_filter_state(*instance); }
    tracking_status status() { return state().status; }
    perf_counters perf() { return state().perf.counters; }
    bool wait_detections(uint64_t count) {
        return wait_until([&] { return perf().perf_detections >= count; }, 10s);
    }
    // One more pass on the frame held (after a new one, two: the first has published when the
    // second begins).
    bool pass(const grey_image *image = nullptr) {
        const uint64_t before = perf().perf_detections;
        if (image)
            feed(*image);
        else
            instance->detect_event.signal();
        return wait_detections(before + 1) && (!image || pass());
    }
    // The worker took frame `sequence` and has not ended the pass since `last_pass_ns`.
    bool detecting(uint64_t sequence, uint64_t last_pass_ns) {
        const filter_state now = state();
        return now.taken_sequence == sequence && now.last_pass_ns == last_pass_ns;
    }
    // Slow passes (sanitizers) must not outlast the window; one aged 6 s reports at the next.
    void restart_perf_window(uint64_t age_ns) {
        std::lock_guard lock(instance->perf.mutex);
        instance->perf.window.perf_window_start_ns = os_gettime_ns() - age_ns;
    }
    // The ids the last publishing pass saw, in its order.
    std::string seen_ids() {
        const pass_markers markers = state().markers;
        std::string seen;
        for (uint32_t i = 0; i < markers.count; ++i)
            seen += std::to_string(markers.markers[i].id) + " ";
        return seen;
    }
};

// The same with the search near the markers as without; a pass after a pair searches near it and
// misses the distractor (id 2).
class WorkerStatus : public ::testing::TestWithParam<bool> {};

TEST_P(WorkerStatus, FollowsWhatEachPictureShows) {
    const struct {
        tag_scene shown;
        bool lost, both, target;
    } steps[] = {
        {.shown = tag_scene::pair, .lost = false, .both = true, .target = true},
        // One tag after a good pair: the crop stays.
        {.shown = tag_scene::only_b, .lost = false, .both = false, .target = true},
        {.shown = tag_scene::empty, .lost = true, .both = false, .target = false},
        // Not stamped again.
        {.shown = tag_scene::empty, .lost = true, .both = false, .target = false},
        // Ends the loss, brings no crop back.
        {.shown = tag_scene::only_b, .lost = false, .both = false, .target = false},
        // A new loss.
        {.shown = tag_scene::empty, .lost = true, .both = false, .target = false},
        {.shown = tag_scene::pair, .lost = false, .both = true, .target = true},
        {.shown = tag_scene::too_close, .lost = false, .both = true, .target = false},
        // Decoded below the margin: no tag.
        {.shown = tag_scene::low_contrast, .lost = true, .both = false, .target = false},
    };
    const bool windows = GetParam();
    worker_harness h(windows);
    crop_rect last_rect{};
    uint64_t lost_since = 0; // of the loss under way
    int step = 0;
    for (const auto &[kind, lost, both, target] : steps) { // picture shown, then the status
        SCOPED_TRACE("step " + std::to_string(step++));
        const uint64_t before = os_gettime_ns();
        const grey_image shown = picture(kind);
        ASSERT_TRUE(h.pass(&shown));
        const filter_state state = h.state();
        const tracking_status &now = state.status;
        EXPECT_EQ(std::tuple(now.tags_lost, now.both_tags_seen, now.target_valid),
                  std::tuple(lost, both, target));
        // What the pass saw, in source pixels.
        const bool a = kind == tag_scene::pair || kind == tag_scene::too_close;
        const bool b = a || kind == tag_scene::only_b;
        const bool distractor = b && !(windows && a);
        EXPECT_EQ(h.seen_ids(),
                  std::string(a ? "0 " : "") + (b ? "1 " : "") + (distractor ? "2 " : ""));
        EXPECT_EQ(std::pair(state.markers.tag_a_seen, state.markers.tag_b_seen), std::pair(a, b));
        const std::vector<placed_marker> drawn =
            make_tag_scene(tag_family_kind::tag16h5, kind, detect_w, detect_h).markers;
        for (uint32_t i = 0; i < state.markers.count; ++i)
            for (const placed_marker &m : drawn)
                EXPECT_TRUE(m.id != state.markers.markers[i].id ||
                            std::fabs(static_cast<double>(state.markers.markers[i].quad.center_x) -
                                      quad_centre(m.grid).x * source_w / detect_w) <= 2.0)
                    << "id " << m.id << " in source pixels";
        const crop_rect rect = now.target_rect;
        const uint64_t stamp = now.tags_lost_since_ns;
        // Stamped at the first pass of a loss only.
        EXPECT_TRUE(!lost || stamp == (lost_since ? lost_since : std::max(stamp, before)))
            << stamp << " after " << lost_since;
        lost_since = lost ? stamp : 0;
        if (target && kind == tag_scene::only_b) {
            EXPECT_EQ(std::memcmp(&rect, &last_rect, sizeof(rect)), 0) << "the crop stays";
        } else if (target) {
            expect_crop_of_drawn_pair(rect, detect_w, detect_h, source_w, source_h);
            EXPECT_EQ(now.target_frame_width, source_w);
        }
        last_rect = rect;
    }
}

INSTANTIATE_TEST_SUITE_P(WindowSearch, WorkerStatus, ::testing::Bool(),
                         [](const auto &p) { return p.param ? "On" : "Off"; });

// Near the markers once both are known (the distractor unseen), but the whole picture after a
// settings change or a new source size, 2 s after it last did, and with the search off.
TEST(WorkerSearch, WholePictureWhenItMust) {
    worker_harness h;
    const grey_image pair = picture(tag_scene::pair);
    ASSERT_TRUE(h.pass(&pair));
    const auto set_padding = [](obs_data_t *s) { obs_data_set_double(s, key_padding, 0.1); };
    const auto windows_off = [](obs_data_t *s) { obs_data_set_bool(s, key_window_search, false); };
    const auto windows_on = [](obs_data_t *s) { obs_data_set_bool(s, key_window_search, true); };
    const struct {
        const char *what;
        void (*edit)(obs_data_t *); // then an update, and a pass on the frame held
        int32_t source_width;       // else a new frame of this source size
        const char *seen;
    } steps[] = {
        {.what = "nothing new", .edit = nullptr, .source_width = 0, .seen = "0 1 "},
        {.what = "padding", .edit = set_padding, .source_width = 0, .seen = "0 1 2 "},
        {.what = "nothing new", .edit = nullptr, .source_width = 0, .seen = "0 1 "},
        {.what = "source size", .edit = nullptr, .source_width = 960, .seen = "0 1 2 "},
        {.what = "same size", .edit = nullptr, .source_width = 960, .seen = "0 1 "},
        {.what = "search off", .edit = windows_off, .source_width = 0, .seen = "0 1 2 "},
        {.what = "still off", .edit = nullptr, .source_width = 0, .seen = "0 1 2 "},
        {.what = "search on", .edit = windows_on, .source_width = 0, .seen = "0 1 2 "},
        {.what = "nothing new", .edit = nullptr, .source_width = 0, .seen = "0 1 "},
    };
    for (const auto &step : steps) {
        const uint64_t before = h.perf().perf_detections;
        if (step.source_width) {
            h.feed(pair, step.source_width, step.source_width * 3 / 4);
        } else {
            if (step.edit) {
                step.edit(h.settings.get());
                filter_update(h.instance.get(), h.settings.get());
            }
            h.instance->detect_event.signal();
        }
        ASSERT_TRUE(h.wait_detections(before + 1)) << step.what;
        EXPECT_EQ(h.seen_ids(), step.seen) << step.what;
        EXPECT_TRUE(h.status().both_tags_seen) << step.what;
    }
    // Passes back to back for 2.5 s: the whole picture again after 2 s.
    int whole = 0, near = 0;
    for (const uint64_t end = os_gettime_ns() + 2'500'000'000ull; os_gettime_ns() < end;) {
        ASSERT_TRUE(h.pass());
        (h.seen_ids() == "0 1 2 " ? whole : near) += 1;
    }
    EXPECT_GE(whole, 1);
    EXPECT_GT(near, whole);
}

class DetectorWorker : public ::testing::Test {
protected:
    const grey_image pair = picture(tag_scene::pair), empty = picture(tag_scene::empty);
    worker_harness h;
};

// A freshly allocated buffer holds no picture (sequence 0); the library reads out of bounds below
// 4 pixels and asserts from 32768 rows: none of these is detected.
TEST_F(DetectorWorker, LeavesUndetectableFramesAlone) {
    ASSERT_TRUE(h.pass(&pair));
    {
        std::lock_guard lock(h.instance->tracking.mutex);
        ASSERT_TRUE(ensure_detection_frame(h.instance->tracking.input_frame, 320, 240));
    }
    const uint64_t n = h.perf().perf_detections;
    ASSERT_TRUE(h.pass() && h.pass());
    EXPECT_TRUE(h.status().both_tags_seen) << "the blank buffer was taken";
    const std::pair<int, int> unsearchable[] = {{3, 2}, {960, 3}, {3, 540}, {4, 32768}, {32768, 4}};
    for (const auto &[w, ht] : unsearchable) {
        const uint64_t sequence = h.feed(grey_image(w, ht, 128));
        ASSERT_TRUE(wait_until([&] { return h.state().taken_sequence == sequence; }));
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(h.perf().perf_detections, n + 2);
    EXPECT_TRUE(h.status().both_tags_seen) << "nothing published";
    h.feed(grey_image(4, 4, 128));
    EXPECT_TRUE(h.wait_detections(n + 3)) << "4x4 is detected";
}

// What comes during a long detection takes effect on the next pass.
TEST_F(DetectorWorker, WhatComesDuringADetectionTakesEffectOnTheNextPass) {
    host_frame no_tags(VIDEO_FORMAT_Y800, rgba_image(empty));
    host_frame markers(VIDEO_FORMAT_Y800, rgba_image(pair));
    const auto both_tag_runs = [&] { return h.perf().perf_both_tags; };
    // A 3840x2160 detection lasts long enough to act during it.
    uint64_t long_sequence = 0, last_pass_before = 0;
    const auto detecting = [&] { return h.detecting(long_sequence, last_pass_before); };
    const auto long_detection = [&](const grey_image &corner) {
        grey_image large(3840, 2160, 128);
        for (int y = 0; y < corner.height; ++y)
            std::memcpy(&large.at(0, y), &corner.pixels[size_t(y) * corner.width],
                        size_t(corner.width));
        last_pass_before = h.state().last_pass_ns;
        long_sequence = h.feed(large, 3840, 2160);
        return wait_until(detecting);
    };
    // Three frames through the real intake: one more pass follows, on the newest only.
    ASSERT_TRUE(long_detection(empty));
    for (host_frame *frame : {&no_tags, &no_tags, &markers}) {
        h.instance->intake.gate.next_detect_ns = 0; // a restarted schedule: the frame is due
        filter_video(h.instance.get(), &frame->frame);
    }
    ASSERT_TRUE(detecting()) << "the detection ended before the frames were handed over";
    ASSERT_TRUE(h.wait_detections(2));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(h.perf().perf_detections, 2u);
    EXPECT_EQ(h.state().taken_sequence, h.instance->submit_sequence);
    EXPECT_EQ(both_tag_runs(), 1u);

    // A family switch returns at once; the pass under way ends with the old family.
    ASSERT_TRUE(long_detection(pair));
    obs_data_set_int(h.settings.get(), key_tag_family, 1);
    filter_update(h.instance.get(), h.settings.get());
    EXPECT_TRUE(detecting()) << "the switch waited for the detection";
    EXPECT_TRUE(h.state().family_pending);
    ASSERT_TRUE(h.wait_detections(3));
    EXPECT_EQ(both_tag_runs(), 1u) << "the stale pass of the old family counts for nothing";
    EXPECT_FALSE(h.status().both_tags_seen) << "nor publishes";
    h.feed(picture(tag_scene::pair, tag_family_kind::circle21h7));
    ASSERT_TRUE(h.wait_detections(4));
    EXPECT_EQ(both_tag_runs(), 2u) << "the next one used the new family";
    EXPECT_FALSE(h.state().family_pending);
    h.feed(pair);
    ASSERT_TRUE(h.wait_detections(5));
    EXPECT_EQ(both_tag_runs(), 2u) << "and no longer sees the old one";

    // Destroy waits for the detection under way: its report line is in the log when it returns.
    ASSERT_TRUE(long_detection(empty));
    h.restart_perf_window(6'000'000'000ull);
    const size_t mark = log_mark();
    auto destroyed = std::async(std::launch::async, [&] { h.instance.reset(); });
    ASSERT_EQ(destroyed.wait_for(20s), std::future_status::ready);
    ASSERT_EQ(count_log_since(mark, LOG_INFO, "[Pinvale perf] "), 1u);
    // Six detections in a little over six seconds, both tags in two; dropped never negative.
    const std::string line = log_since(mark).back().text;
    for (const char *part :
         {"[Pinvale perf] source=3840x2160 detect=3840x2160 requested=5.0 fps actual=",
          "refine=off", "| detect avg/max=", "tags(any/both)=33%/33% submitted=3 dropped=0 "})
        EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
    double actual = 0, avg = 0, max = 0, duty = 0;
    std::sscanf(line.c_str() + line.find("actual="), "actual=%lf", &actual);
    std::sscanf(line.c_str() + line.find("| detect"), "| detect avg/max=%lf/%lf ms duty=%lf", &avg,
                &max, &duty);
    EXPECT_TRUE(actual > 0.3 && actual < 1.1 && avg > 0.0 && avg <= max && max < 10000.0 &&
                duty > 0.0 && duty < 100.0)
        << line;
}

} // namespace

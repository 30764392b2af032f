// Update reading the host's settings, normalising them and applying them.
#include "host_harness.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The detector as the worker reads it: its configuration with the one family registered, and
// the family held and the one registered.
struct detector_view {
    std::string configuration;
    const apriltag_family_t *held, *registered;
};

detector_view view_detector(filter_instance &instance) {
    std::lock_guard lock(instance.detector.mutex);
    const apriltag_detector_t &d = *instance.detector.detector;
    apriltag_family_t *registered = nullptr;
    if (zarray_size(d.tag_families) == 1)
        zarray_get(d.tag_families, 0, &registered);
    std::ostringstream out;
    out << "threads " << d.nthreads << " decimate " << d.quad_decimate << " sigma " << d.quad_sigma
        << " refine " << d.refine_edges << " sharpening " << d.decode_sharpening << " debug "
        << d.debug << " deglitch " << d.qtp.deglitch << " cluster " << d.qtp.min_cluster_pixels
        << " maxima " << d.qtp.max_nmaxima << " cos " << d.qtp.cos_critical_rad << " mse "
        << d.qtp.max_line_fit_mse << " contrast " << d.qtp.min_white_black_diff << " family "
        << (registered ? registered->name : "none");
    return {out.str(), instance.detector.family.get(), registered};
}

// Tracking resets when the markers or tracking change; a family switch, and only that, installs
// the new family at the worker's next pass over the fixed configuration (the library's defaults
// overridden, threads by the cores); corrected ids are written back.
TEST(FilterUpdate, AppliesEachEditAndSwitchesTheFamilyBothWays) {
    data_ptr settings = default_settings();
    instance_ptr instance = create_instance(settings.get());
    ASSERT_NE(instance, nullptr);
    std::ostringstream fixed;
    fixed << "threads " << detector_thread_count(os_get_physical_cores(), os_get_logical_cores())
          << " decimate 1 sigma 0 refine 0 sharpening 0.25 debug 0 deglitch 0 cluster 5 maxima 10 "
          << "cos " << std::cos(10.0f * static_cast<float>(M_PI) / 180)
          << " mse 10 contrast 5 family ";
    EXPECT_EQ(view_detector(*instance).configuration, fixed.str() + "tag16h5");
    // The panel's lists store integers, also where numbers with a fraction are read.
    const std::pair<const char *, bool> steps[] = {
        {R"({"padding": 8, "detect_fps": 10})", false},
        {R"({"enable_tracking": false})", false},
        {R"({"enable_tracking": true})", true},
        {R"({"tag_id_b": 0})", false}, // normalised back
        {R"({"tag_id_a": 1})", true},
        {R"({"detect_width": 1920})", false},
        {R"({"tag_family": 1})", true},
        {R"({"tag_family": 0})", true},
    };
    for (const auto &[json, cleared] : steps) {
        SCOPED_TRACE(json);
        {
            std::lock_guard lock(instance->tracking.mutex);
            instance->tracking.status.both_tags_seen = true;
        }
        const apriltag_family_t *family_before = view_detector(*instance).held;
        obs_data_apply(settings.get(), data_ptr(obs_data_create_from_json(json)).get());
        filter_update(instance.get(), settings.get());
        instance->detect_event.signal();
        ASSERT_TRUE(wait_until([&] { return !read_filter_state(*instance).family_pending; }));
        const filter_state state = read_filter_state(*instance);
        EXPECT_EQ(state.status.both_tags_seen, !cleared);
        const bool circle = state.settings.tag_family == tag_family_kind::circle21h7;
        const detector_view now = view_detector(*instance);
        EXPECT_EQ(now.held != family_before, std::strstr(json, "family") != nullptr);
        EXPECT_EQ(now.configuration, fixed.str() + (circle ? "tagCircle21h7" : "tag16h5"));
        EXPECT_STREQ(now.held->name, circle ? "tagCircle21h7" : "tag16h5");
        EXPECT_EQ(now.registered, now.held);
        EXPECT_EQ(std::tuple(obs_data_get_int(settings.get(), key_tag_id_a),
                             obs_data_get_int(settings.get(), key_tag_id_b)),
                  std::tuple(state.settings.tag_id_a, 1 - state.settings.tag_id_a));
    }
    const settings_snapshot last = read_filter_state(*instance).settings;
    EXPECT_EQ(std::tuple(last.padding, last.detect_fps), std::tuple(8.0f, 10.0f));
    filter_update(nullptr, settings.get());
}

// A family switch the worker never picked up is freed with the instance.
TEST(FilterUpdate, DestroyFreesAPendingFamily) {
    data_ptr settings = default_settings();
    create_instance(settings.get()); // the host's first effect load stays cached
    wait_for_quiet_host();
    const long allocs = bnum_allocs();
    for (const long long family : {1, 0, 1}) {
        instance_ptr instance = create_instance(settings.get());
        obs_data_set_int(settings.get(), key_tag_family, family);
        // Two switches before the worker wakes: the second replaces the first.
        filter_update(instance.get(), settings.get());
        obs_data_set_int(settings.get(), key_tag_family, 1 - family);
        filter_update(instance.get(), settings.get());
        obs_data_set_int(settings.get(), key_tag_family, family);
        filter_update(instance.get(), settings.get());
        EXPECT_TRUE(read_filter_state(*instance).family_pending);
    }
    wait_for_quiet_host();
    EXPECT_EQ(bnum_allocs(), allocs);
}

// Edits go in from the tick callback (settings objects are unlocked) every ninth frame; the host
// runs the deferred update in the same frame, so the gap to the next callback is that frame.
struct tick_watch {
    static void on_tick(void *param, float) {
        auto *self = static_cast<tick_watch *>(param);
        const uint64_t now = os_gettime_ns();
        std::lock_guard lock(self->mutex);
        if (self->edited_at) {
            self->gaps.push_back(now - self->edited_at);
            self->edited_at = 0;
        }
        if (++self->frames % 9 || self->gaps.size() >= self->wanted)
            return;
        const data_ptr edit(obs_data_create());
        if (self->switch_family)
            obs_data_set_int(edit.get(), key_tag_family, self->gaps.size() % 2 ? 0 : 1);
        else
            obs_data_set_double(edit.get(), key_padding, self->gaps.size() % 2 ? 0.0 : 4.0);
        obs_source_update(self->filter, edit.get());
        self->edited_at = now;
    }
    // The frames that carried `count` edits of one kind, gap by gap.
    std::vector<uint64_t> frames_with_edits(bool family, size_t count) {
        {
            std::lock_guard lock(mutex);
            switch_family = family;
            gaps.clear();
            wanted = count;
        }
        wait_until(
            [&] {
                std::lock_guard lock(mutex);
                return gaps.size() >= count;
            },
            std::chrono::seconds(60));
        std::lock_guard lock(mutex);
        std::sort(gaps.begin(), gaps.end());
        return gaps;
    }

    obs_source_t *filter = nullptr;
    std::mutex mutex;
    bool switch_family = false;
    size_t wanted = 0;
    uint64_t frames = 0, edited_at = 0;
    std::vector<uint64_t> gaps;
};

// Family switches during long detections hold up the host's frames no more than other edits.
// Medians: an update that waited would hold up every frame it lands in by half a detection.
TEST(FilterUpdate, AFamilySwitchNeverWaitsForADetection) {
    data_ptr settings = default_settings();
    obs_data_set_int(settings.get(), key_detect_width, 1920);
    obs_data_set_double(settings.get(), key_detect_fps, 30.0);
    obs_source_t *parent = create_push_source("stall");
    tick_watch watch;
    watch.filter = obs_source_create_private("pinvaler_filter", "stall", settings.get());
    obs_source_filter_add(parent, watch.filter);
    // Shown, so that frames reach the filter, but drawn nowhere: only ticks cost the frame.
    obs_source_inc_showing(parent);
    // A large textured picture with markers: each detection of it takes long.
    const host_frame frame(VIDEO_FORMAT_Y800,
                           tag_picture(tag_family_kind::tag16h5, tag_scene::pair, 1920, 1080));
    std::atomic<bool> pushing{true};
    std::thread camera([&] {
        for (; pushing; std::this_thread::sleep_for(33ms))
            frame.push_to(parent);
    });
    // Detections run back to back once the first has ended: frames keep coming, all due.
    ASSERT_TRUE(wait_until(
        [&] { return read_filter_state(*instance_of(watch.filter)).last_pass_ns != 0; }, 60s));
    obs_add_tick_callback(tick_watch::on_tick, &watch);
    const std::vector<uint64_t> other = watch.frames_with_edits(false, 9);
    const std::vector<uint64_t> family = watch.frames_with_edits(true, 9);
    obs_remove_tick_callback(tick_watch::on_tick, &watch);
    pushing = false;
    camera.join();
    obs_source_dec_showing(parent);
    obs_source_filter_remove(parent, watch.filter);
    obs_source_release(watch.filter);
    obs_source_release(parent);
    obs_wait_for_destroy_queue();
    ASSERT_EQ(other.size(), 9u);
    ASSERT_EQ(family.size(), 9u);
    std::printf("frames carrying an edit, median and longest: %.1f and %.1f ms with other edits, "
                "%.1f and %.1f ms with family switches\n",
                static_cast<double>(other[4]) / 1e6, static_cast<double>(other[8]) / 1e6,
                static_cast<double>(family[4]) / 1e6, static_cast<double>(family[8]) / 1e6);
    EXPECT_LE(family[4], 2 * other[4]);
}

} // namespace

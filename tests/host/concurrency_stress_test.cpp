// Several filters on several sources in the real host, driven from every side
// at once for a bounded time: raw frames at 60 fps in changing sizes and
// formats, the host ticking and drawing, settings edits through the host, and
// filters added and removed. PINVALER_STRESS_SECONDS runs it longer.
#include "detect/detector_setup.h"
#include "filter/settings_keys.h"
#include "filter_fixture.h"
#include "host_environment.h"
#include "render_readback.h"
#include "tag_scenes.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <util/platform.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Under the sanitizers the host and the filter run several times slower.
#if defined(__SANITIZE_THREAD__)
constexpr int64_t slowdown = 4;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int64_t slowdown = 2;
#else
constexpr int64_t slowdown = 1;
#endif
// The longest a push (which waits while the host's tick hands the previous
// frame to the filters), an update, or the host's frame from tick to drawn
// outputs may take. A call still running after hang_ns is a hang.
constexpr int64_t block_limit_ns = 400'000'000 * slowdown, hang_ns = 10'000'000'000;

// One kind of call: when the one under way began (0: none), and the longest.
struct call_clock {
    const char *name;
    std::atomic<int64_t> started{0}, longest{0};
    void begin() { started = static_cast<int64_t>(os_gettime_ns()); }
    void end() {
        if (const int64_t began = started.exchange(0))
            longest = std::max(longest.load(), static_cast<int64_t>(os_gettime_ns()) - began);
    }
};

bool drawn(const rgba_image &image) {
    for (size_t i = 3; i < image.rgba.size(); i += 4)
        if (image.rgba[i])
            return true;
    return false;
}

// Hooks into the host's graphics thread. The host calls tick callbacks right
// before it ticks the sources and main render callbacks right after it drew
// the outputs, so the time between covers every tick, render and deferred
// update of the frame, and the raw-frame callbacks too (libobs 29 hands pushed
// frames to filters from its tick). Settings edits are applied there: the
// host's obs_source_update merges into the filter's settings on the calling
// thread, unlocked, while its tick reads them. And source 0 is read back
// there: the host updates an async source's frame in its tick, which a render
// from another thread can meet half done.
struct graphics_hooks {
    explicit graphics_hooks(obs_source_t *source) : watched(source) {
        obs_add_tick_callback(on_tick, this);
        obs_add_main_render_callback(on_render, this);
    }
    ~graphics_hooks() {
        obs_remove_main_render_callback(on_render, this);
        obs_remove_tick_callback(on_tick, this);
    }
    // Waits until the next tick took the settings. The filter stays the
    // caller's: a last release in the host's callback would destroy it under
    // the host's locks, out of their order.
    void apply(obs_source_t *filter, obs_data_t *settings) {
        std::unique_lock lock(mutex);
        edit_filter = filter;
        edit_settings = settings;
        applied.wait(lock, [&] { return !edit_filter; });
    }
    static void on_tick(void *param, float) {
        auto *self = static_cast<graphics_hooks *>(param);
        self->frame.begin();
        ++self->frames;
        std::lock_guard lock(self->mutex);
        if (self->edit_filter) {
            self->edit.begin();
            obs_source_update(self->edit_filter, self->edit_settings);
            self->edit.end();
            self->edit_filter = nullptr;
            self->applied.notify_all();
        }
    }
    // Source 0 must show something every fourth frame, unless its picture or
    // filters changed in the last few, when the host itself may draw nothing.
    static void on_render(void *param, uint32_t, uint32_t) {
        auto *self = static_cast<graphics_hooks *>(param);
        self->frame.end();
        if (self->watched && self->frames % 4 == 0 && self->frames >= self->watched_changed + 3) {
            ++self->checked;
            self->empty += !drawn(render_source(self->watched));
        }
    }

    obs_source_t *watched;
    std::atomic<uint64_t> frames{0}, watched_changed{0}, checked{0}, empty{0};
    call_clock frame{"the host's frame"}, edit{"obs_source_update"};
    std::mutex mutex;
    std::condition_variable applied;
    obs_source_t *edit_filter = nullptr;
    obs_data_t *edit_settings = nullptr;
};

// Source 0 gets the formats the filter reads and carries an anchor filter that
// always tracks and never hides, so its output must always show; sources 1 and
// 2 run through every format value from 0 to 30, 2 every other picture upside
// down. Each picture shows for `hold` frames of a 60 fps camera.
struct feed_plan {
    bool all_formats;
    std::pair<int, int> sizes[3];
    size_t hold;
    bool flips;
};
constexpr feed_plan plans[] = {{false, {{480, 270}, {321, 181}, {400, 224}}, 20, false},
                               {true, {{640, 360}, {333, 187}, {320, 240}}, 3, false},
                               {true, {{480, 270}, {320, 180}, {200, 112}}, 5, true}};
using feed = std::vector<std::unique_ptr<host_frame>>;

// Even pictures carry tag16h5 markers, odd ones tagCircle21h7.
feed make_feed(const feed_plan &plan) {
    std::vector<int> formats;
    for (int f = 0; f <= 30; ++f)
        if (plan.all_formats || (f >= 1 && f <= 10) || f == 12) // I420-I444, I422
            formats.push_back(f);
    apriltag_family_t *families[] = {create_tag_family(0), create_tag_family(1)};
    feed pictures;
    for (size_t k = 0; k < formats.size() + formats.size() % 2; ++k) {
        const auto [w, h] = plan.sizes[k % 3];
        const gray_image image = make_tag_scene(families[k % 2], tag_scene::pair, w, h).image;
        pictures.push_back(
            std::make_unique<host_frame>(formats[k % formats.size()], rgb_picture(image)));
        pictures.back()->get()->flip = plan.flips && k % 2;
    }
    destroy_tag_family(families[0], 0);
    destroy_tag_family(families[1], 1);
    return pictures;
}

template <typename T>
T pick(std::mt19937 &rng, std::initializer_list<T> values) {
    return values.begin()[rng() % values.size()];
}

data_ptr random_settings(std::mt19937 &rng, bool may_hide, bool may_stop_tracking) {
    data_ptr settings(obs_data_create());
    obs_data_t *s = settings.get();
    obs_data_set_int(s, key_tag_family, rng() % 2);
    const long long id_a = rng() % 2;
    obs_data_set_int(s, key_tag_id_a, id_a);
    obs_data_set_int(s, key_tag_id_b, rng() % 4 == 0 ? id_a : 1 - id_a);
    obs_data_set_double(s, key_detect_fps, pick(rng, {1.0, 5.0, 10.0, 30.0}));
    obs_data_set_int(s, key_detect_width, pick(rng, {160, 320, 480, 640}));
    obs_data_set_bool(s, key_enable_tracking, !may_stop_tracking || rng() % 5 != 0);
    obs_data_set_bool(s, key_hide_without_both_tags, may_hide && rng() % 2 == 0);
    obs_data_set_bool(s, key_perf_diagnostics, rng() % 3 == 0);
    obs_data_set_double(s, key_follow_half_life_ms, pick(rng, {0.0, 250.0}));
    return settings;
}

// The host keeps records of the first source of each type, of every effect it
// loaded, of what it first needed to draw each format and of its callback
// lists until it shuts down: a first pass keeps those out of the counts.
void warm_up_host(const feed &every_format) {
    obs_source_t *source = create_test_source("warm-up");
    obs_source_t *filter = obs_source_create_private("pinvaler_filter", "warm-up", nullptr);
    obs_source_filter_add(source, filter);
    obs_set_output_source(0, source);
    for (const auto &picture : every_format) {
        picture->push_to(source);
        wait_for_host_frames(2);
    }
    graphics_hooks{nullptr};
    obs_set_output_source(0, nullptr);
    obs_source_filter_remove(source, filter);
    wait_for_host_frames(2);
    obs_source_release(filter);
    obs_source_release(source);
    obs_wait_for_destroy_queue();
}

TEST(ConcurrencyStress, FiltersStayResponsiveUnderFramesTicksRendersEditsAndCycling) {
    std::vector<feed> feeds;
    for (const feed_plan &plan : plans)
        feeds.push_back(make_feed(plan));
    warm_up_host(feeds[1]);
    wait_for_quiet_host();
    const int threads_before = process_thread_count();
    const long allocs_before = bnum_allocs();
    const size_t mark = log_mark();

    // Filter and source, each filter with a reference of the registry's own.
    // The first is the anchor: never removed, never stops tracking.
    std::mutex registry_mutex;
    std::vector<std::pair<obs_source_t *, size_t>> registry;
    std::vector<obs_source_t *> sources;
    std::mt19937 rng(1);
    for (size_t s = 0; s < std::size(plans); ++s) {
        sources.push_back(create_test_source("stress"));
        feeds[s][0]->push_to(sources[s]);
        for (int f = 0; f < 2; ++f) {
            data_ptr settings = random_settings(rng, s != 0, !registry.empty());
            registry.push_back(
                {obs_source_create_private("pinvaler_filter", "stress", settings.get()), s});
            obs_source_filter_add(sources[s], registry.back().first);
        }
        // The host draws every output channel in each of its frames.
        obs_set_output_source(static_cast<uint32_t>(s), sources[s]);
    }

    std::optional<graphics_hooks> hooks(std::in_place, sources[0]);
    call_clock pushes[3] = {{"a push"}, {"a push"}, {"a push"}}, create{"a create"};
    std::atomic<uint64_t> pushed{0}, edits{0}, cycled{0};
    std::atomic<bool> running{true};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        while (running) {
            std::this_thread::sleep_for(10ms);
            for (const call_clock *c :
                 {&pushes[0], &pushes[1], &pushes[2], &create, &hooks->frame, &hooks->edit})
                if (const int64_t began = c->started;
                    began && static_cast<int64_t>(os_gettime_ns()) - began > hang_ns) {
                    std::fprintf(stderr, "stress: %s has not returned for 10 s\n", c->name);
                    std::abort();
                }
        }
    });
    for (size_t s = 0; s < std::size(plans); ++s)
        threads.emplace_back([&, s] {
            auto next = std::chrono::steady_clock::now();
            for (size_t k = 0, hold = plans[s].hold; running; ++k) {
                if (s == 0 && k % hold == 0)
                    hooks->watched_changed = hooks->frames.load();
                pushes[s].begin();
                feeds[s][k / hold % feeds[s].size()]->push_to(sources[s]);
                pushes[s].end();
                ++pushed;
                // A late push brings no burst of catching up.
                next = std::max(next + 16667us, std::chrono::steady_clock::now() - 16667us);
                std::this_thread::sleep_until(next);
            }
        });
    threads.emplace_back([&] {
        std::mt19937 edit_rng(2);
        while (running) {
            std::unique_lock lock(registry_mutex);
            const size_t i = edit_rng() % registry.size();
            const auto [filter, s] = registry[i];
            obs_source_get_ref(filter);
            lock.unlock();
            hooks->apply(filter, random_settings(edit_rng, s != 0, i != 0).get());
            obs_source_release(filter);
            ++edits;
            std::this_thread::sleep_for(20ms);
        }
    });
    threads.emplace_back([&] {
        std::mt19937 cycle_rng(3);
        while (running) {
            const size_t s = cycle_rng() % std::size(plans);
            // libobs 29 lets a render run through a chain while a filter joins
            // or leaves it, and a filter without its parent then draws nothing.
            if (s == 0)
                hooks->watched_changed = hooks->frames + 1000;
            std::unique_lock lock(registry_mutex);
            std::vector<size_t> cyclable;
            for (size_t i = 1; i < registry.size(); ++i)
                if (registry[i].second == s)
                    cyclable.push_back(i);
            if (cyclable.empty() || (cyclable.size() == 1 && cycle_rng() % 2)) {
                lock.unlock();
                create.begin();
                obs_source_t *filter = obs_source_create_private(
                    "pinvaler_filter", "cycled", random_settings(cycle_rng, s != 0, true).get());
                create.end();
                obs_source_filter_add(sources[s], filter);
                lock.lock();
                registry.push_back({filter, s});
                lock.unlock();
            } else {
                const size_t at = cyclable[cycle_rng() % cyclable.size()];
                obs_source_t *filter = registry[at].first;
                registry.erase(registry.begin() + static_cast<std::ptrdiff_t>(at));
                lock.unlock();
                obs_source_filter_remove(sources[s], filter);
                // A render under way may still hold the filter, and a last
                // release inside the host's render makes libobs 29 destroy it
                // under its graphics lock, against its lock order.
                wait_for_host_frames(2);
                obs_source_release(filter);
            }
            ++cycled;
            if (s == 0)
                hooks->watched_changed = hooks->frames.load();
            std::this_thread::sleep_for(100ms);
        }
    });

    const char *seconds = std::getenv("PINVALER_STRESS_SECONDS");
    const double duration = seconds && std::atof(seconds) > 0 ? std::atof(seconds) : 3.0;
    std::this_thread::sleep_for(std::chrono::duration<double>(duration));
    running = false;
    for (std::thread &thread : threads)
        thread.join();

    // Afterwards every output shows, and the anchor still finds the markers.
    data_ptr settings(obs_data_create());
    obs_data_set_bool(settings.get(), key_enable_tracking, true);
    obs_data_set_bool(settings.get(), key_hide_without_both_tags, false);
    obs_data_set_int(settings.get(), key_tag_family, tag_family_tag16h5);
    obs_data_set_double(settings.get(), key_detect_fps, 30.0);
    for (const auto &entry : registry)
        hooks->apply(entry.first, settings.get());
    settings.reset();
    ASSERT_TRUE(wait_for_host_frames(3));
    for (obs_source_t *source : sources)
        EXPECT_TRUE(drawn(render_source(source))) << "an output drew nothing after the run";
    auto *anchor = static_cast<filter_instance *>(obs_obj_get_data(registry[0].first));
    bool found = false;
    for (size_t i = 0; i < 300 && !found; ++i) {
        feeds[0][2 * i % feeds[0].size()]->push_to(sources[0]);
        found = wait_until(
            [&] {
                return read_locked<bool>(anchor->frame_mutex, [&] { return anchor->target_valid; });
            },
            30ms);
    }
    EXPECT_TRUE(found) << "the anchor filter published no target after the run";

    std::cout << "[stress] " << duration << " s: " << pushed << " frames pushed, " << edits
              << " settings edits, " << cycled << " filters added or removed, source 0 read back "
              << hooks->checked << " times\n";
    // Create waits for the graphics context, which the host holds while it
    // draws: that wait is the host's, so create is watched for hangs only.
    for (const call_clock *c : {&pushes[0], &pushes[1], &pushes[2], &hooks->edit, &hooks->frame})
        EXPECT_LT(c->longest.load(), block_limit_ns) << c->name;
    EXPECT_GT(hooks->checked.load(), 0u);
    EXPECT_EQ(hooks->empty.load(), 0u) << "source 0 drew nothing";
    EXPECT_GT(edits.load(), 0u);
    EXPECT_GT(cycled.load(), 0u);
    EXPECT_EQ(count_log_since(mark, LOG_ERROR, "Pinvale: "), 0u);

    hooks.reset();
    for (size_t s = 0; s < sources.size(); ++s)
        obs_set_output_source(static_cast<uint32_t>(s), nullptr);
    for (const auto &[filter, s] : registry)
        obs_source_filter_remove(sources[s], filter);
    wait_for_host_frames(2);
    for (const auto &entry : registry)
        obs_source_release(entry.first);
    for (obs_source_t *source : sources)
        obs_source_release(source);
    // The host's tick may hold the last reference to a source for a moment and
    // queue its destruction after a first wait has returned.
    EXPECT_TRUE(wait_until(
        [&] {
            obs_wait_for_destroy_queue();
            return process_thread_count() == threads_before && bnum_allocs() == allocs_before;
        },
        20s))
        << process_thread_count() - threads_before << " threads and "
        << bnum_allocs() - allocs_before << " host allocations left";
}

} // namespace

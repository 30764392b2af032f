// Several filters on several sources in the real host, driven from every side
// at once for a bounded time: raw frames at 60 fps in changing sizes and
// formats, the host ticking and drawing, settings edits through the host (the
// setup view switched on and off among them), and filters added and removed.
// PINVALER_STRESS_SECONDS runs it longer.
#include "host_harness.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

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
// The longest an update or the host's frame from tick to drawn outputs may
// take (a push waits for the tick that hands frames to the filters, so the
// frame covers it). A call still running after hang_ns is a hang.
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

// Settings as a user might set them, any of them changed.
data_ptr random_settings(std::mt19937 &rng, bool may_hide, bool may_stop_tracking) {
    data_ptr settings(obs_data_create());
    obs_data_t *s = settings.get();
    obs_data_set_int(s, key_tag_family, rng() % 2);
    const long long id_a = rng() % 2;
    obs_data_set_int(s, key_tag_id_a, id_a);
    obs_data_set_int(s, key_tag_id_b, rng() % 4 == 0 ? id_a : 1 - id_a);
    obs_data_set_double(s, key_detect_fps, std::array{1.0, 5.0, 10.0, 30.0}[rng() % 4]);
    obs_data_set_int(s, key_detect_width, std::array{160, 320, 480, 640}[rng() % 4]);
    obs_data_set_bool(s, key_enable_tracking, !may_stop_tracking || rng() % 5 != 0);
    obs_data_set_bool(s, key_hide_without_both_tags, may_hide && rng() % 2 == 0);
    obs_data_set_bool(s, key_perf_diagnostics, rng() % 3 == 0);
    obs_data_set_double(s, key_follow_half_life_ms, rng() % 2 ? 250.0 : 0.0);
    obs_data_set_bool(s, key_show_setup_view, rng() % 4 == 0);
    return settings;
}

// A camera: its pictures, and the one it sends now. libobs 29's tick reads a
// source's current frame after letting go of the source's frame lock, and a
// push in another size or conversion frees that frame at once (its debug build
// then asserts in init_gpu_conversion, whatever the formats). So a picture
// changes only on the host's graphics thread, before the host ticks the
// sources, and the camera's own thread resends the current one, which reuses
// the host's frames; the lock keeps it from resending the one just replaced.
struct camera_feed {
    std::vector<std::unique_ptr<host_frame>> pictures;
    obs_source_t *source = nullptr;
    std::mutex mutex;
    size_t picture = 0;
    uint64_t changed_at = 0; // the host frame of the last change
    void push_current() {
        std::lock_guard lock(mutex);
        pictures[picture]->push_to(source);
    }
    // The next picture when `due` says so, unless the camera is pushing: the
    // host's frame never waits for that (a copy takes up to 200 ms under
    // ThreadSanitizer on a busy machine).
    template <typename due_fn>
    bool try_push_next(uint64_t frame, due_fn due) {
        std::unique_lock lock(mutex, std::try_to_lock);
        if (!lock.owns_lock() || !due())
            return false;
        picture = (picture + 1) % pictures.size();
        pictures[picture]->push_to(source);
        changed_at = frame;
        return true;
    }
};

// Hooks into the host's graphics thread. The host calls tick callbacks right
// before it ticks the sources and main render callbacks right after it drew
// the outputs, so the time between covers every tick, render and deferred
// update of the frame, and the raw-frame callbacks too (libobs 29 hands pushed
// frames to filters from its tick). Pictures change there. Settings are edited
// there, every other frame: obs_source_update merges into the filter's settings
// on the calling thread, unlocked, while the host's tick reads them, so no
// other thread may. And source 0 is read back there: the host updates an async
// source's frame in its tick, which a render from another thread can meet half
// done.
struct graphics_hooks {
    static void on_tick(void *param, float) {
        auto *self = static_cast<graphics_hooks *>(param);
        self->frame.begin();
        const uint64_t n = ++self->frames;
        // A new picture every few frames, one a frame at most, each source first
        // in turn; source 0's every eight frames, to be checked in between.
        for (size_t k = 0; k < 3; ++k) {
            const size_t s = (n + k) % 3;
            camera_feed &feed = self->feeds[s];
            if (feed.try_push_next(n, [&] {
                    return s == 0 ? self->claim_change(n) : n >= feed.changed_at + s + 1;
                }))
                break;
        }
        if (n % 2)
            return;
        std::lock_guard lock(self->mutex);
        const size_t s = self->rng() % 3;
        const std::vector<obs_source_t *> &filters = self->filters[s];
        const size_t i = self->rng() % filters.size();
        const data_ptr settings = random_settings(self->rng, s != 0, s != 0 || i != 0);
        self->edit.begin();
        obs_source_update(filters[i], settings.get());
        self->edit.end();
        ++self->edits;
    }
    // Source 0 must show something every other frame, unless its picture or
    // filters changed in the last three (marked before the change, and read
    // after the render), when the host itself may draw nothing.
    static void on_render(void *param, uint32_t, uint32_t) {
        auto *self = static_cast<graphics_hooks *>(param);
        self->frame.end();
        if (self->frames % 2)
            return;
        const std::vector<uint8_t> drawn = render_source(self->watched).pixels;
        const bool empty = std::none_of(drawn.begin(), drawn.end(), [](uint8_t v) { return v; });
        if (self->frames >= self->changed + 3) {
            ++self->checked;
            self->empty += empty;
        }
    }
    // Source 0 may change once it has been still for eight frames. The tick (a
    // new picture) and the cycling thread (a filter) may try at once: one wins.
    bool claim_change(uint64_t mark) {
        uint64_t last = changed;
        return frames >= last + 8 && changed.compare_exchange_strong(last, mark);
    }

    obs_source_t *watched = nullptr;
    camera_feed feeds[3];
    // The filters on each source, each with a reference of its own. Each
    // source keeps its first; source 0's is the anchor, which never stops tracking.
    std::mutex mutex;
    std::vector<obs_source_t *> filters[3];
    std::mt19937 rng{2};
    std::atomic<uint64_t> frames{0}, changed{0}, checked{0}, empty{0}; // changed: of source 0
    std::atomic<uint64_t> pushes{0}, edits{0}, cycled{0};
    call_clock frame{"the host's frame"}, edit{"obs_source_update"};
};

TEST(ConcurrencyStress, FiltersStayResponsiveUnderFramesTicksRendersEditsAndCycling) {
    // The host draws sources 0 and 2, so they get formats it draws, I420 to
    // I422: source 0 carries the anchor, which never hides, so its output must
    // always show, and source 2 comes every other picture upside down. Source 1,
    // shown but drawn nowhere, runs through every format value from 0 to 30, as
    // a camera with a format the host cannot draw would (the host's tick takes
    // each of them). Each picture has its own size; even ones carry tag16h5
    // markers, odd ones tagCircle21h7.
    constexpr size_t undrawn = 1;
    graphics_hooks hooks;
    for (size_t s = 0; s < 3; ++s)
        for (int k = 0, formats = s == undrawn ? 31 : 12; k < formats + formats % 2; ++k) {
            const int w = (s == 1 ? 640 : 480) * (4 + k % 3) / 6 | 1;
            const rgba_image picture =
                tag_picture(tag_family_kind(k % 2), tag_scene::pair, w, w * 9 / 16);
            std::vector<std::unique_ptr<host_frame>> &pictures = hooks.feeds[s].pictures;
            pictures.push_back(std::make_unique<host_frame>(
                static_cast<video_format>((s == undrawn ? 0 : 1) + k % formats), picture));
            pictures.back()->frame.flip = s == 2 && k % 2;
        }
    const int threads_before = process_thread_count();
    const size_t mark = log_mark();

    std::vector<obs_source_t *> sources;
    std::mt19937 rng(1);
    for (size_t s = 0; s < 3; ++s) {
        sources.push_back(create_push_source("stress"));
        hooks.feeds[s].source = sources[s];
        hooks.feeds[s].push_current();
        for (int f = 0; f < 2; ++f) {
            const data_ptr settings = random_settings(rng, s != 0, s != 0 || f != 0);
            hooks.filters[s].push_back(
                obs_source_create_private("pinvaler_filter", "stress", settings.get()));
            obs_source_filter_add(sources[s], hooks.filters[s].back());
        }
        // The host draws every output channel in each of its frames; a source
        // that is only shown gets its frames to its filters in the host's tick.
        if (s == undrawn)
            obs_source_inc_showing(sources[s]);
        else
            obs_set_output_source(static_cast<uint32_t>(s), sources[s]);
    }
    hooks.watched = sources[0];
    obs_add_tick_callback(graphics_hooks::on_tick, &hooks);
    obs_add_main_render_callback(graphics_hooks::on_render, &hooks);
    std::atomic<bool> running{true};
    std::vector<std::thread> threads;
    for (size_t s = 0; s < 3; ++s)
        threads.emplace_back([&, s] {
            auto next = std::chrono::steady_clock::now();
            for (uint64_t frame = 0, in_frame = 0; running;) {
                // At most three pushes a host frame: once 30 frames wait (the
                // host stalled), libobs 29 drops them and its frame cache on
                // the pushing thread, which frees the current frame as a
                // change does; and under the sanitizers, where a push costs
                // tens of milliseconds, more would starve the host.
                if (const uint64_t now = hooks.frames; now != frame)
                    frame = now, in_frame = 0;
                if (in_frame < 3) {
                    hooks.feeds[s].push_current();
                    ++in_frame;
                    ++hooks.pushes;
                }
                // A late push brings no burst of catching up.
                next = std::max(next + 16667us, std::chrono::steady_clock::now() - 16667us);
                std::this_thread::sleep_until(next);
            }
        });
    threads.emplace_back([&] {
        std::mt19937 cycle_rng(3);
        for (; running; std::this_thread::sleep_for(100ms)) {
            const size_t s = cycle_rng() % 3;
            // libobs 29 lets a render run through a chain while a filter joins
            // or leaves it, and a filter without its parent then draws nothing.
            if (s == 0 && !hooks.claim_change(hooks.frames + 1000))
                continue;
            std::unique_lock lock(hooks.mutex);
            std::vector<obs_source_t *> &here = hooks.filters[s];
            if (here.size() == 1 || (here.size() < 3 && cycle_rng() % 2)) {
                lock.unlock();
                const data_ptr settings = random_settings(cycle_rng, s != 0, true);
                obs_source_t *filter =
                    obs_source_create_private("pinvaler_filter", "cycled", settings.get());
                obs_source_filter_add(sources[s], filter);
                lock.lock();
                here.push_back(filter);
            } else {
                const auto at =
                    here.begin() + 1 + static_cast<long>(cycle_rng() % (here.size() - 1));
                obs_source_t *filter = *at;
                here.erase(at);
                lock.unlock();
                obs_source_filter_remove(sources[s], filter);
                // A render under way may still hold the filter, and a last
                // release inside the host's render makes libobs 29 destroy it
                // under its graphics lock, against its lock order.
                wait_for_host_frames(2);
                obs_source_release(filter);
            }
            ++hooks.cycled;
            if (s == 0)
                hooks.changed = hooks.frames.load();
        }
    });

    const char *seconds = std::getenv("PINVALER_STRESS_SECONDS");
    const auto end =
        std::chrono::steady_clock::now() +
        std::chrono::duration<double>(seconds && std::atof(seconds) > 0 ? std::atof(seconds) : 3.0);
    // Meanwhile, a call that has not returned for ten seconds is a hang.
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(10ms);
        for (const call_clock *c : {&hooks.frame, &hooks.edit})
            if (const int64_t began = c->started;
                began && static_cast<int64_t>(os_gettime_ns()) - began > hang_ns) {
                std::fprintf(stderr, "stress: %s has not returned for 10 s\n", c->name);
                std::abort();
            }
    }
    running = false;
    for (std::thread &thread : threads)
        thread.join();
    std::fprintf(stderr,
                 "stress: %llu frames pushed, %llu host frames, %llu settings edits, %llu filters "
                 "added or removed; longest host frame %.0f ms\n",
                 static_cast<unsigned long long>(hooks.pushes.load()),
                 static_cast<unsigned long long>(hooks.frames.load()),
                 static_cast<unsigned long long>(hooks.edits.load()),
                 static_cast<unsigned long long>(hooks.cycled.load()),
                 static_cast<double>(hooks.frame.longest.load()) / 1e6);
    for (const call_clock *c : {&hooks.edit, &hooks.frame})
        EXPECT_LT(c->longest.load(), block_limit_ns) << c->name;
    EXPECT_GT(hooks.checked.load(), 0u) << hooks.frames << " host frames";
    EXPECT_EQ(hooks.empty.load(), 0u) << "source 0 drew nothing";
    EXPECT_EQ(count_log_since(mark, LOG_ERROR, "Pinvale: "), 0u);
    EXPECT_GT(count_log_since(mark, LOG_INFO, "Pinvale: reading the picture as drawn (its raw "),
              0u)
        << "the undrawn source's formats never reached a filter";

    obs_remove_main_render_callback(graphics_hooks::on_render, &hooks);
    obs_remove_tick_callback(graphics_hooks::on_tick, &hooks);
    for (size_t s = 0; s < 3; ++s) {
        if (s == undrawn)
            obs_source_dec_showing(sources[s]);
        else
            obs_set_output_source(static_cast<uint32_t>(s), nullptr);
        for (obs_source_t *filter : hooks.filters[s])
            obs_source_filter_remove(sources[s], filter);
    }
    wait_for_host_frames(2);
    for (size_t s = 0; s < 3; ++s) {
        for (obs_source_t *filter : hooks.filters[s])
            obs_source_release(filter);
        obs_source_release(sources[s]);
    }
    // Every worker joined. Host allocations are counted after the host shuts
    // down (host_environment); its tick may hold the last reference to a
    // source for a moment and queue its destruction after a first wait.
    EXPECT_TRUE(wait_until(
        [&] {
            obs_wait_for_destroy_queue();
            return process_thread_count() == threads_before;
        },
        20s))
        << process_thread_count() - threads_before << " threads left";
}

} // namespace

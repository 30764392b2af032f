// Several filters on several sources, loaded by the real host and driven from
// every side at once: raw frames at 60 fps in changing sizes and formats, the
// host ticking and rendering, settings edits through the host, and filters
// added and removed, for a bounded time. Set PINVALER_STRESS_SECONDS for a
// longer run.
#include "detect/detector_setup.h"
#include "filter/filter_instance.h"
#include "filter/settings_keys.h"
#include "filter_fixture.h"
#include "frame_probe.h"
#include "host_environment.h"
#include "host_frame.h"
#include "render_readback.h"
#include "test_source.h"
#include "tag_scenes.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <graphics/vec4.h>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <util/platform.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

std::chrono::milliseconds stress_duration() {
    const char *value = std::getenv("PINVALER_STRESS_SECONDS");
    const double seconds = value ? std::strtod(value, nullptr) : 0.0;
    return std::chrono::milliseconds(seconds > 0.0 ? static_cast<long long>(seconds * 1000) : 3000);
}

#if defined(__has_feature)
#define PINVALER_HAS_FEATURE(x) __has_feature(x)
#else
#define PINVALER_HAS_FEATURE(x) 0
#endif
// Under the sanitizers the host and the filter run several times slower, and
// ThreadSanitizer slows the host's frame copies and uploads most of all.
#if defined(__SANITIZE_THREAD__) || PINVALER_HAS_FEATURE(thread_sanitizer)
constexpr int sanitizer_slowdown = 4;
#elif defined(__SANITIZE_ADDRESS__) || PINVALER_HAS_FEATURE(address_sanitizer)
constexpr int sanitizer_slowdown = 2;
#else
constexpr int sanitizer_slowdown = 1;
#endif

// The longest a callback of ours may hold up the host: the host's frame from
// tick to drawn outputs, a render, an update, and a push of a raw frame (which
// waits while the host's tick hands the previous one to the filters) must
// each stay within it.
constexpr auto block_limit = 400ms * sanitizer_slowdown;
// A call still running after this is a hang: the process stops with a report
// instead of waiting for the test runner's time-out.
constexpr auto hang_limit = 10s;

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               clock_type::now().time_since_epoch())
        .count();
}

double to_ms(int64_t ns) {
    return static_cast<double>(ns) / 1e6;
}

// The call one test thread is in, for the watchdog, and the longest it made.
struct call_clock {
    std::atomic<int64_t> started_ns{0}; // 0 while no call runs
    std::atomic<const char *> call{""};
    int64_t longest_ns = 0; // owner thread only
    const char *longest_call = "";
};

class timed_call {
public:
    timed_call(call_clock &clock, const char *call) : clock_(clock) {
        clock_.call = call;
        clock_.started_ns = now_ns();
    }
    ~timed_call() {
        const int64_t took = now_ns() - clock_.started_ns;
        clock_.started_ns = 0;
        if (took > clock_.longest_ns) {
            clock_.longest_ns = took;
            clock_.longest_call = clock_.call;
        }
    }
    timed_call(const timed_call &) = delete;
    timed_call &operator=(const timed_call &) = delete;

private:
    call_clock &clock_;
};

// Stops the process with a report when a call has not returned for the hang
// limit, rather than leaving a hung test to the runner's time-out.
class watchdog {
public:
    explicit watchdog(std::vector<call_clock *> clocks)
        : clocks_(std::move(clocks)), thread_([this] { run(); }) {}
    ~watchdog() {
        stop_ = true;
        thread_.join();
    }

private:
    void run() {
        while (!stop_) {
            std::this_thread::sleep_for(10ms);
            const int64_t now = now_ns();
            for (call_clock *clock : clocks_) {
                const int64_t started = clock->started_ns;
                if (started != 0 && now - started > std::chrono::nanoseconds(hang_limit).count()) {
                    std::fprintf(stderr, "stress: %s has not returned for %.0f ms; stopping\n",
                                 clock->call.load(), to_ms(now - started));
                    std::abort();
                }
            }
        }
    }

    std::vector<call_clock *> clocks_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct render_result {
    bool done = false;
    uint64_t iteration = 0;  // the host frame it was drawn in, counted by the probe
    size_t drawn_pixels = 0; // pixels with any alpha
    uint32_t width = 0;
    uint32_t height = 0;
};

// Draws the source, filters included, into a transparent texture of its size
// and counts what came out; inside the graphics context. Only the host's
// render call, which runs the filters' renders, is timed.
render_result render_and_count(obs_source_t *source, call_clock &clock) {
    render_result result;
    result.done = true;
    result.width = obs_source_get_width(source);
    result.height = obs_source_get_height(source);
    gs_texrender_t *target = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
    gs_stagesurf_t *stage = result.width && result.height
                                ? gs_stagesurface_create(result.width, result.height, GS_RGBA)
                                : nullptr;
    if (stage && gs_texrender_begin(target, result.width, result.height)) {
        vec4 clear;
        vec4_zero(&clear);
        gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
        gs_ortho(0.0f, static_cast<float>(result.width), 0.0f, static_cast<float>(result.height),
                 -100.0f, 100.0f);
        gs_blend_state_push();
        gs_enable_blending(false);
        {
            timed_call call(clock, "obs_source_video_render");
            obs_source_video_render(source);
        }
        gs_blend_state_pop();
        gs_texrender_end(target);

        gs_stage_texture(stage, gs_texrender_get_texture(target));
        uint8_t *data = nullptr;
        uint32_t linesize = 0;
        if (gs_stagesurface_map(stage, &data, &linesize)) {
            for (uint32_t y = 0; y < result.height; ++y)
                for (uint32_t x = 0; x < result.width; ++x)
                    result.drawn_pixels += data[y * linesize + x * 4 + 3] != 0;
            gs_stagesurface_unmap(stage);
        }
    }
    gs_stagesurface_destroy(stage);
    gs_texrender_destroy(target);
    return result;
}

// Hooks into the host's graphics thread. The host calls tick callbacks right
// before it ticks the sources and main render callbacks right after it has
// drawn the outputs, so the time from one to the other covers every tick,
// every render and every deferred update of the frame, ours included, and
// the filters' raw-frame callbacks too: libobs 29 hands a pushed frame to the
// filters from its tick, on this thread.
//
// Renders of ours run there too, in the main render callback: the host
// updates an async source's frame in its tick, outside the graphics context,
// and a render from a thread of ours can meet that update half done (libobs
// 29 then fails an assertion in init_gpu_conversion after a format change).
//
// Settings edits reach the host there as well, from its tick callback. The
// host runs a video filter's update in its next tick on this thread whoever
// calls obs_source_update, reading the filter's settings object, into which
// the filter also writes the corrected tag ids; but obs_source_update merges
// the new values into that same object on the calling thread, without a lock.
// Edits from another thread would race inside the host's settings object,
// which is the host's design, not something the filter can change.
class graphics_probe {
public:
    struct edit {
        obs_source_t *filter;
        data_ptr settings;
    };

    graphics_probe() {
        obs_add_tick_callback(on_tick, this);
        obs_add_main_render_callback(on_render, this);
    }
    ~graphics_probe() {
        obs_remove_main_render_callback(on_render, this);
        obs_remove_tick_callback(on_tick, this);
    }
    graphics_probe(const graphics_probe &) = delete;
    graphics_probe &operator=(const graphics_probe &) = delete;

    // Frames the host has begun since the probe was made.
    uint64_t iterations() const { return iterations_; }

    // Renders the source in the host's next frame and waits for the result.
    render_result render(obs_source_t *source) {
        std::unique_lock<std::mutex> lock(mutex_);
        request_ = source;
        result_ = {};
        done_.wait(lock, [&] { return result_.done; });
        return result_;
    }

    // Hands new settings to the host in its next tick and waits until it has
    // taken them. The filters stay the caller's: a release there could be the
    // last one, and destroying a source under the host's callback lock would
    // take the host's locks out of their order.
    void apply(const std::vector<edit> &edits) {
        std::unique_lock<std::mutex> lock(mutex_);
        edits_ = &edits;
        done_.wait(lock, [&] { return edits_ == nullptr; });
        edits_applied_ += edits.size();
    }
    uint64_t edits_applied() {
        std::lock_guard<std::mutex> lock(mutex_);
        return edits_applied_;
    }

    // Each used by the graphics thread only, besides the watchdog.
    call_clock frame_clock;
    call_clock render_clock;
    call_clock edit_clock;

private:
    static void on_tick(void *param, float) {
        auto *self = static_cast<graphics_probe *>(param);
        ++self->iterations_;
        self->frame_clock.call = "the host's tick and render";
        self->frame_clock.started_ns = now_ns();
        std::lock_guard<std::mutex> lock(self->mutex_);
        if (!self->edits_)
            return;
        for (const edit &e : *self->edits_) {
            timed_call call(self->edit_clock, "obs_source_update");
            obs_source_update(e.filter, e.settings.get());
        }
        self->edits_ = nullptr;
        self->done_.notify_all();
    }

    static void on_render(void *param, uint32_t, uint32_t) {
        auto *self = static_cast<graphics_probe *>(param);
        call_clock &frame = self->frame_clock;
        if (const int64_t started = frame.started_ns; started != 0) {
            const int64_t took = now_ns() - started;
            frame.started_ns = 0;
            if (took > frame.longest_ns) {
                frame.longest_ns = took;
                frame.longest_call = frame.call;
            }
        }
        obs_source_t *source;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            source = std::exchange(self->request_, nullptr);
        }
        if (!source)
            return;
        render_result result = render_and_count(source, self->render_clock);
        result.iteration = self->iterations_;
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->result_ = result;
        self->done_.notify_all();
    }

    std::atomic<uint64_t> iterations_{0};
    std::mutex mutex_;
    std::condition_variable done_;
    obs_source_t *request_ = nullptr;
    render_result result_;
    const std::vector<edit> *edits_ = nullptr;
    uint64_t edits_applied_ = 0;
};

// What each source is fed, each picture for `hold` frames of a 60 fps
// camera. Source 0 gets only formats the filter reads, with markers, and is
// never hidden, so its output must always show. Source 1 mixes in formats
// the filter leaves alone; source 2 runs through every format the host
// knows, stored upside down every other picture.
struct feed_plan {
    std::vector<video_format> formats; // empty: all the host knows
    std::vector<std::pair<int, int>> sizes;
    int pictures;
    int hold;
    bool flips;
};

const feed_plan feed_plans[] = {
    {{VIDEO_FORMAT_Y800, VIDEO_FORMAT_NV12, VIDEO_FORMAT_BGRA, VIDEO_FORMAT_YUY2, VIDEO_FORMAT_I420,
      VIDEO_FORMAT_RGBA, VIDEO_FORMAT_UYVY, VIDEO_FORMAT_I444, VIDEO_FORMAT_BGRX, VIDEO_FORMAT_YVYU,
      VIDEO_FORMAT_I422},
     {{480, 270}, {321, 181}, {400, 224}},
     16,
     20,
     false},
    {{VIDEO_FORMAT_NV12, VIDEO_FORMAT_P010, VIDEO_FORMAT_BGR3, VIDEO_FORMAT_BGRA, VIDEO_FORMAT_I010,
      VIDEO_FORMAT_AYUV, VIDEO_FORMAT_I40A, VIDEO_FORMAT_I42A, VIDEO_FORMAT_YUVA, VIDEO_FORMAT_I210,
      VIDEO_FORMAT_I412, VIDEO_FORMAT_YA2L},
     {{640, 360}, {333, 187}, {320, 240}},
     16,
     3,
     false},
    {{}, {{480, 270}, {320, 180}, {200, 112}}, 21, 3, true},
};
constexpr size_t source_count = std::size(feed_plans);

using feed = std::vector<std::unique_ptr<host_frame>>;

// Even pictures carry tag16h5 markers, odd ones tagCircle21h7.
feed make_feed(const feed_plan &plan) {
    std::vector<video_format> formats = plan.formats;
    if (formats.empty())
        for (int format = VIDEO_FORMAT_I420; format <= VIDEO_FORMAT_YA2L; ++format)
            formats.push_back(static_cast<video_format>(format));
    apriltag_family_t *families[] = {create_tag_family(tag_family_tag16h5),
                                     create_tag_family(tag_family_circle21h7)};
    feed pictures;
    for (int k = 0; k < plan.pictures; ++k) {
        const auto [w, h] = plan.sizes[static_cast<size_t>(k) % plan.sizes.size()];
        const scene_picture scene = make_tag_scene(families[k % 2], tag_scene::pair, w, h);
        pictures.push_back(std::make_unique<host_frame>(
            formats[static_cast<size_t>(k) % formats.size()], scene.image));
        pictures.back()->get()->flip = plan.flips && k % 2 == 1;
    }
    destroy_tag_family(families[0], tag_family_tag16h5);
    destroy_tag_family(families[1], tag_family_circle21h7);
    return pictures;
}

template <typename T>
T pick(std::mt19937 &rng, std::initializer_list<T> values) {
    return values.begin()[rng() % values.size()];
}

// Settings as a user might set them, any of them changed. Source 0's filters
// are never hidden; the anchor filter also keeps tracking on.
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
    obs_data_set_double(s, key_follow_half_life_ms, pick(rng, {0.0, 100.0, 250.0}));
    obs_data_set_double(s, key_padding, pick(rng, {0.0, 8.0}));
    return settings;
}

filter_instance *instance_of(obs_source_t *filter) {
    return static_cast<filter_instance *>(obs_obj_get_data(filter));
}

bool target_published(obs_source_t *filter) {
    filter_instance *instance = instance_of(filter);
    return instance &&
           read_locked<bool>(instance->frame_mutex, [&] { return instance->target_valid; });
}

struct stressed_filter {
    obs_source_t *filter;
    size_t source;
    bool anchor; // never removed, never stops tracking
};

// The filters attached right now. Threads take a reference of their own to
// the one they use, so the cycler may remove it meanwhile.
class filter_registry {
public:
    void add(stressed_filter entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        filters_.push_back(entry);
    }
    // A reference to a random filter (of `source`, if given), or nothing.
    std::pair<obs_source_t *, stressed_filter> take(std::mt19937 &rng, size_t source = SIZE_MAX) {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::vector<size_t> candidates = matching(
            [&](const stressed_filter &f) { return source == SIZE_MAX || f.source == source; });
        if (candidates.empty())
            return {nullptr, {}};
        const stressed_filter entry = filters_[candidates[rng() % candidates.size()]];
        return {obs_source_get_ref(entry.filter), entry};
    }
    // Takes a filter of `source` other than the anchor out, with the registry's reference.
    obs_source_t *remove_one(std::mt19937 &rng, size_t source) {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::vector<size_t> candidates =
            matching([&](const stressed_filter &f) { return f.source == source && !f.anchor; });
        if (candidates.empty())
            return nullptr;
        const size_t at = candidates[rng() % candidates.size()];
        obs_source_t *filter = filters_[at].filter;
        filters_.erase(filters_.begin() + static_cast<std::ptrdiff_t>(at));
        return filter;
    }
    size_t count(size_t source) {
        std::lock_guard<std::mutex> lock(mutex_);
        return matching([&](const stressed_filter &f) { return f.source == source; }).size();
    }
    std::vector<stressed_filter> all() {
        std::lock_guard<std::mutex> lock(mutex_);
        return filters_;
    }
    std::vector<stressed_filter> release_all() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(filters_, {});
    }

private:
    template <typename F>
    std::vector<size_t> matching(F wanted) const {
        std::vector<size_t> found;
        for (size_t i = 0; i < filters_.size(); ++i)
            if (wanted(filters_[i]))
                found.push_back(i);
        return found;
    }

    std::mutex mutex_;
    std::vector<stressed_filter> filters_;
};

// Filters taken off their source are released a few host frames later, on
// the releasing thread: a render in progress may still hold a reference,
// and a last reference dropped inside the host's render makes libobs 29
// destroy the source under its graphics lock, taking its list lock in the
// opposite order to its tick.
class release_later {
public:
    void add(obs_source_t *filter, uint64_t iteration) { pending_.push_back({filter, iteration}); }
    void release_due(uint64_t iteration) {
        std::erase_if(pending_, [&](const std::pair<obs_source_t *, uint64_t> &p) {
            if (iteration < p.second + 2)
                return false;
            obs_source_release(p.first);
            return true;
        });
    }
    void release_all() {
        for (const auto &p : pending_)
            obs_source_release(p.first);
        pending_.clear();
    }

private:
    std::vector<std::pair<obs_source_t *, uint64_t>> pending_;
};

// The host keeps records of the first source of each type, of every effect
// file it loaded, of what it first needed to draw each format and of its
// lists of callbacks until it shuts down; a first pass through all of them
// keeps those out of the counts taken around the run.
void warm_up_host(const std::vector<feed> &feeds) {
    obs_source_t *source = create_test_source("warm-up");
    obs_source_t *filter = obs_source_create_private("pinvaler_filter", "warm-up", nullptr);
    obs_source_filter_add(source, filter);
    obs_set_output_source(0, source);
    std::set<int> drawn;
    for (const feed &pictures : feeds)
        for (const auto &picture : pictures)
            if (drawn.insert(picture->get()->format).second) {
                obs_source_output_video(source, picture->get());
                wait_for_host_frames(2);
            }
    graphics_probe{};
    obs_source_release(create_frame_probe("warm-up", false));
    obs_set_output_source(0, nullptr);
    obs_source_filter_remove(source, filter);
    wait_for_host_frames(2);
    obs_source_release(filter);
    obs_source_release(source);
    obs_wait_for_destroy_queue();
}

struct stress_counts {
    std::array<uint64_t, source_count> frames_pushed{};
    uint64_t edits = 0;
    uint64_t created = 0;
    uint64_t destroyed = 0;
    uint64_t renders = 0;
    uint64_t checked_renders = 0; // of source 0, its picture unchanged for a few host frames
    uint64_t empty_renders = 0;   // of those
    uint64_t target_samples = 0;
    uint64_t samples_with_target = 0;
};

TEST(ConcurrencyStress, FiltersStayResponsiveUnderFramesTicksRendersEditsAndCycling) {
    std::vector<feed> feeds;
    for (const feed_plan &plan : feed_plans)
        feeds.push_back(make_feed(plan));
    warm_up_host(feeds);
    wait_for_quiet_host();
    const int threads_before = process_thread_count();
    const long allocs_before = bnum_allocs();
    const size_t mark = log_mark();

    filter_registry registry;
    std::vector<obs_source_t *> sources;
    std::vector<obs_source_t *> counters; // first in each chain: counts the frames handed on
    std::mt19937 setup_rng(1);
    for (size_t s = 0; s < source_count; ++s) {
        sources.push_back(create_test_source(("stress source " + std::to_string(s)).c_str()));
        ASSERT_NE(sources.back(), nullptr);
        counters.push_back(create_frame_probe("counter", false));
        obs_source_filter_add(sources[s], counters.back());
        obs_source_output_video(sources[s], feeds[s][0]->get());
        for (int f = 0; f < 2; ++f) {
            const bool anchor = s == 0 && f == 0;
            data_ptr settings = random_settings(setup_rng, s != 0, !anchor);
            obs_source_t *filter =
                obs_source_create_private("pinvaler_filter", "stress filter", settings.get());
            ASSERT_NE(filter, nullptr);
            obs_source_filter_add(sources[s], filter);
            registry.add({filter, s, anchor});
        }
        // The host draws every output channel in each of its frames.
        obs_set_output_source(static_cast<uint32_t>(s), sources[s]);
    }

    const auto duration = stress_duration();
    stress_counts counts;
    std::array<call_clock, source_count> push_clocks;
    call_clock create_clock, wait_clock;
    auto graphics = std::make_unique<graphics_probe>();
    // The host frame of source 0's last change of picture or filters.
    std::atomic<uint64_t> source0_changed{0};
    release_later removed;
    uint64_t frames_handed_before = 0;
    for (obs_source_t *counter : counters)
        frames_handed_before += probe_count(counter);
    const uint32_t host_frames_before = obs_get_total_frames();
    const uint32_t lagged_before = obs_get_lagged_frames();
    {
        watchdog dog({&push_clocks[0], &push_clocks[1], &push_clocks[2], &graphics->edit_clock,
                      &create_clock, &wait_clock, &graphics->frame_clock, &graphics->render_clock});
        std::atomic<bool> running{true};
        std::vector<std::thread> threads;
        for (size_t s = 0; s < source_count; ++s)
            threads.emplace_back([&, s] {
                const int hold = feed_plans[s].hold;
                const auto interval = std::chrono::nanoseconds(1'000'000'000 / 60);
                auto next = clock_type::now();
                for (size_t k = static_cast<size_t>(hold); running; ++k) {
                    const size_t picture = k / static_cast<size_t>(hold) % feeds[s].size();
                    if (s == 0 && k % static_cast<size_t>(hold) == 0)
                        source0_changed = graphics->iterations();
                    {
                        // The host copies the frame and queues it; its tick
                        // hands it to the filters while it holds the source's
                        // frame queue, so a slow frame callback stalls this too.
                        timed_call call(push_clocks[s], "obs_source_output_video");
                        obs_source_output_video(sources[s], feeds[s][picture]->get());
                    }
                    ++counts.frames_pushed[s];
                    // A late push brings no burst of catching up.
                    next = std::max(next + interval, clock_type::now() - interval);
                    std::this_thread::sleep_until(next);
                }
            });
        threads.emplace_back([&] {
            std::mt19937 rng(2);
            while (running) {
                auto [filter, entry] = registry.take(rng);
                if (filter) {
                    std::vector<graphics_probe::edit> edits;
                    edits.push_back(
                        {filter, random_settings(rng, entry.source != 0, !entry.anchor)});
                    graphics->apply(edits);
                    obs_source_release(filter);
                    ++counts.edits;
                }
                std::this_thread::sleep_for(20ms);
            }
        });
        threads.emplace_back([&] {
            std::mt19937 rng(3);
            while (running) {
                removed.release_due(graphics->iterations());
                const size_t s = rng() % source_count;
                const size_t attached = registry.count(s);
                // libobs 29 lets a render run through a chain while a filter
                // joins or leaves it, and a filter without its parent then
                // draws nothing for that frame.
                if (s == 0)
                    source0_changed = graphics->iterations();
                if (attached < 3 && (attached <= 1 || rng() % 2 == 0)) {
                    data_ptr settings = random_settings(rng, s != 0, true);
                    obs_source_t *filter;
                    {
                        timed_call call(create_clock, "obs_source_create_private");
                        filter = obs_source_create_private("pinvaler_filter", "cycled filter",
                                                           settings.get());
                    }
                    if (filter) {
                        obs_source_filter_add(sources[s], filter);
                        registry.add({filter, s, false});
                        ++counts.created;
                    }
                } else if (obs_source_t *filter = registry.remove_one(rng, s)) {
                    obs_source_filter_remove(sources[s], filter);
                    removed.add(filter, graphics->iterations());
                    ++counts.destroyed;
                }
                if (s == 0)
                    source0_changed = graphics->iterations();
                std::this_thread::sleep_for(100ms);
            }
        });
        threads.emplace_back([&] {
            std::mt19937 rng(4);
            while (running) {
                for (size_t s = 0; s < source_count; ++s) {
                    render_result r;
                    {
                        timed_call call(wait_clock, "a render in the host's frame");
                        r = graphics->render(sources[s]);
                    }
                    ++counts.renders;
                    // The host itself may draw nothing for a frame or two
                    // after a change of size or format, or of the filters.
                    if (s == 0 && r.iteration >= source0_changed + 3) {
                        ++counts.checked_renders;
                        counts.empty_renders += r.drawn_pixels == 0;
                    }
                }
                for (int i = 0; i < 2; ++i) {
                    auto [filter, entry] = registry.take(rng, 0);
                    if (filter) {
                        ++counts.target_samples;
                        counts.samples_with_target += target_published(filter);
                        obs_source_release(filter);
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50 + rng() % 100));
            }
        });

        std::this_thread::sleep_for(duration);
        running = false;
        for (std::thread &thread : threads)
            thread.join();
    }
    const uint32_t host_frames = obs_get_total_frames() - host_frames_before;
    uint64_t frames_handed = 0;
    for (obs_source_t *counter : counters)
        frames_handed += probe_count(counter);
    frames_handed -= frames_handed_before;
    const uint32_t lagged = obs_get_lagged_frames() - lagged_before;

    // Afterwards every output shows, and the anchor still finds the markers.
    obs_source_t *anchor = nullptr;
    std::vector<graphics_probe::edit> final_edits;
    for (const stressed_filter &entry : registry.all()) {
        data_ptr settings(obs_data_create());
        obs_data_set_bool(settings.get(), key_hide_without_both_tags, false);
        obs_data_set_bool(settings.get(), key_enable_tracking, true);
        if (entry.anchor) {
            anchor = entry.filter;
            obs_data_set_int(settings.get(), key_tag_family, tag_family_tag16h5);
            obs_data_set_double(settings.get(), key_detect_fps, 30.0);
        }
        final_edits.push_back({entry.filter, std::move(settings)});
    }
    graphics->apply(final_edits);
    final_edits.clear();
    ASSERT_NE(anchor, nullptr);
    ASSERT_TRUE(wait_for_host_frames(3));
    for (size_t s = 0; s < source_count; ++s) {
        const render_result r = graphics->render(sources[s]);
        ++counts.renders;
        EXPECT_GT(r.drawn_pixels, 0u) << "source " << s << " drew nothing after the run";
    }
    bool found = false;
    for (size_t i = 0; i < 300 && !found; ++i) {
        obs_source_output_video(sources[0], feeds[0][2 * i % feeds[0].size()]->get());
        found = wait_until([&] { return target_published(anchor); }, 30ms);
    }
    EXPECT_TRUE(found) << "the anchor filter published no target after the run";

    uint64_t pushed = 0;
    int64_t longest_push_ns = 0;
    for (size_t s = 0; s < source_count; ++s) {
        EXPECT_GT(counts.frames_pushed[s], 0u);
        pushed += counts.frames_pushed[s];
        longest_push_ns = std::max(longest_push_ns, push_clocks[s].longest_ns);
    }
    std::printf("[stress] %.1f s: %llu frames pushed (%llu handed to the filters), %llu renders of "
                "ours (%llu checked) in %u "
                "host frames (%u lagged), %llu settings edits, %llu filters created and %llu "
                "destroyed, a target in %llu of %llu samples\n",
                static_cast<double>(duration.count()) / 1000.0,
                static_cast<unsigned long long>(pushed),
                static_cast<unsigned long long>(frames_handed),
                static_cast<unsigned long long>(counts.renders),
                static_cast<unsigned long long>(counts.checked_renders), host_frames, lagged,
                static_cast<unsigned long long>(graphics->edits_applied()),
                static_cast<unsigned long long>(counts.created),
                static_cast<unsigned long long>(counts.destroyed),
                static_cast<unsigned long long>(counts.samples_with_target),
                static_cast<unsigned long long>(counts.target_samples));
    std::printf("[stress] longest: push %.1f ms, update %.1f ms, render %.1f ms, host tick and "
                "render %.1f ms, create %.1f ms\n",
                to_ms(longest_push_ns), to_ms(graphics->edit_clock.longest_ns),
                to_ms(graphics->render_clock.longest_ns), to_ms(graphics->frame_clock.longest_ns),
                to_ms(create_clock.longest_ns));

    // Create waits for the host's graphics context, which the host holds for
    // the whole of a frame's drawing: that wait is the host's, so create is
    // only watched for hangs.
    for (const call_clock *clock :
         {&push_clocks[0], &push_clocks[1], &push_clocks[2], &graphics->edit_clock,
          &graphics->render_clock, &graphics->frame_clock})
        EXPECT_LT(clock->longest_ns, std::chrono::nanoseconds(block_limit).count())
            << clock->longest_call << " took " << to_ms(clock->longest_ns) << " ms";
    EXPECT_EQ(counts.empty_renders, 0u) << "of " << counts.checked_renders << " checked renders";
    EXPECT_GT(counts.edits, 0u);
    EXPECT_GT(counts.created, 0u);
    EXPECT_GT(counts.destroyed, 0u);
    EXPECT_EQ(count_log_since(mark, LOG_ERROR, "Pinvale: "), 0u);

    for (size_t s = 0; s < source_count; ++s)
        obs_set_output_source(static_cast<uint32_t>(s), nullptr);
    for (const stressed_filter &entry : registry.release_all()) {
        obs_source_filter_remove(sources[entry.source], entry.filter);
        removed.add(entry.filter, 0);
    }
    for (size_t s = 0; s < source_count; ++s) {
        obs_source_filter_remove(sources[s], counters[s]);
        removed.add(counters[s], 0);
    }
    wait_for_host_frames(2);
    graphics.reset();
    removed.release_all();
    for (obs_source_t *source : sources)
        obs_source_release(source);
    // The host's own tick may hold the last reference to a source for a
    // moment and queue its destruction after a first wait has returned.
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

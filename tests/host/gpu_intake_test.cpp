// Which intake reads a source, as the host shows it, and the GPU intake's own conduct: once per
// host frame however often the filter is drawn, nothing allocated per frame, nothing left when
// the filter goes with pictures in flight. Its crops are the end-to-end tests'.
#include "host_harness.h"

#include <thread>

namespace {

using namespace std::chrono_literals;

const rgba_image grey_picture = tag_picture(tag_family_kind::tag16h5, tag_scene::empty, 320, 180);

// A test source shown on the main output with the filter on it, all released in order.
struct filtered_source {
    obs_source_t *parent = nullptr;
    obs_source_t *filter = nullptr;
    bool shown = false;

    filtered_source(bool gpu, obs_data_t *settings, bool show = true) {
        parent = gpu ? create_picture_source("intake", grey_picture) : create_push_source("intake");
        filter = obs_source_create_private("pinvaler_filter", "intake", settings);
        obs_source_filter_add(parent, filter);
        if (show)
            set_shown(true);
    }
    ~filtered_source() {
        set_shown(false);
        obs_source_filter_remove(parent, filter);
        obs_source_release(filter);
        obs_source_release(parent);
        obs_wait_for_destroy_queue();
    }
    void set_shown(bool on) {
        if (on != shown)
            obs_set_output_source(0, on ? parent : nullptr);
        shown = on;
    }
    filter_instance *instance() const { return instance_of(filter); }
    filter_state state() const { return read_filter_state(*instance()); }
    // The GPU intake's counts: pictures staged so far, and staged but not taken.
    std::pair<uint64_t, int32_t> readback() const {
        obs_enter_graphics();
        const graphics_part &graphics = instance()->graphics;
        const auto counts = std::pair(graphics.stages, graphics.readback.pending());
        obs_leave_graphics();
        return counts;
    }
};

data_ptr settings_with(bool force, double detect_fps = 30.0) {
    data_ptr settings = default_settings();
    obs_data_set_bool(settings.get(), key_force_gpu_intake, force);
    obs_data_set_double(settings.get(), key_detect_fps, detect_fps);
    return settings;
}

// The lines that named an intake since `mark`.
std::vector<std::string> intake_lines(size_t mark) {
    std::vector<std::string> lines;
    for (const log_line &line : log_since(mark))
        if (line.text.starts_with("Pinvale: reading ") ||
            line.text.starts_with("Pinvale: cannot read"))
            lines.push_back(line.text);
    return lines;
}

struct choice_row {
    const char *name;
    bool gpu_source;
    video_format format;
    long long rotation;
    bool force;
    intake_kind want;
    const char *line;
};

// Raw frames serve only in a format the luma reader takes, drawn as delivered, and when the user
// did not ask otherwise; a 180-degree turn keeps the sizes and goes unseen. The line naming the
// intake comes once.
TEST(IntakeChoice, FollowsWhatTheHostShowsAndSaysWhichOnce) {
    const choice_row rows[] = {
        {.name = "GPU-drawn source",
         .gpu_source = true,
         .format = VIDEO_FORMAT_NONE,
         .rotation = 0,
         .force = false,
         .want = intake_kind::drawn,
         .line = "Pinvale: reading the picture as drawn (the source draws on the GPU and hands "
                 "over no raw frames)"},
        {.name = "BGRA frames",
         .gpu_source = false,
         .format = VIDEO_FORMAT_BGRA,
         .rotation = 0,
         .force = false,
         .want = intake_kind::raw_frames,
         .line = "Pinvale: reading the source's raw frames (BGRA, 320x180)"},
        {.name = "P010 frames",
         .gpu_source = false,
         .format = VIDEO_FORMAT_P010,
         .rotation = 0,
         .force = false,
         .want = intake_kind::drawn,
         .line = "Pinvale: reading the picture as drawn (its raw frames are P010, which the "
                 "filter does not read directly)"},
        {.name = "frames turned a quarter",
         .gpu_source = false,
         .format = VIDEO_FORMAT_NV12,
         .rotation = 270,
         .force = false,
         .want = intake_kind::drawn,
         .line = "Pinvale: reading the picture as drawn (its 320x180 raw frames are shown at "
                 "180x320, turned or resized)"},
        {.name = "frames turned upside down",
         .gpu_source = false,
         .format = VIDEO_FORMAT_NV12,
         .rotation = 180,
         .force = false,
         .want = intake_kind::raw_frames,
         .line = "Pinvale: reading the source's raw frames (NV12, 320x180)"},
        {.name = "asked for by the setting",
         .gpu_source = false,
         .format = VIDEO_FORMAT_BGRA,
         .rotation = 0,
         .force = true,
         .want = intake_kind::drawn,
         .line = "Pinvale: reading the picture as drawn (as its settings ask)"},
    };
    for (const choice_row &row : rows) {
        SCOPED_TRACE(row.name);
        const size_t mark = log_mark();
        data_ptr settings = settings_with(row.force);
        filtered_source source(row.gpu_source, settings.get());
        obs_source_set_async_rotation(source.parent, row.rotation);
        const host_frame frame(row.format, grey_picture);
        // Three frames, a host frame apart: the first comes before the host drew any.
        for (int i = 0; i < 3 && !row.gpu_source; ++i) {
            frame.push_to(source.parent);
            ASSERT_TRUE(wait_until([&] { return source.instance()->raw_frames_seen > size_t(i); }));
            ASSERT_TRUE(wait_for_host_frames(1));
        }
        ASSERT_TRUE(wait_for_host_frames(3));
        EXPECT_EQ(source.state().intake, row.want);
        EXPECT_TRUE(source.state().frame_usable);
        EXPECT_EQ(intake_lines(mark), std::vector<std::string>{row.line});
        if (!row.force)
            continue;
        obs_data_set_bool(settings.get(), key_force_gpu_intake, false);
        filter_update(source.instance(), settings.get());
        frame.push_to(source.parent);
        ASSERT_TRUE(wait_until([&] { return source.state().intake == intake_kind::raw_frames; }));
        EXPECT_EQ(intake_lines(mark).back(),
                  "Pinvale: reading the source's raw frames (BGRA, 320x180)");
    }
}

// However often the filter is drawn, it stages one picture per host frame at most, even at a
// detection rate above the host's.
TEST(GpuIntake, StagesAtMostOncePerHostFrame) {
    data_ptr settings = settings_with(false, 1000.0);
    filtered_source source(true, settings.get(), false);
    ASSERT_TRUE(wait_for_host_frames(1));
    const uint64_t first = obs_get_video_frame_time();
    const uint64_t staged = source.readback().first;
    for (int frame = 0; frame < 12; ++frame) {
        for (int draw = 0; draw < 3; ++draw)
            render_source(source.parent);
        ASSERT_TRUE(wait_for_host_frames(1));
    }
    const uint64_t frames = (obs_get_video_frame_time() - first) / obs_get_frame_interval_ns() + 1;
    const uint64_t stages = source.readback().first - staged;
    EXPECT_LE(stages, frames);
    EXPECT_GE(stages, 6u) << "hardly anything staged in " << frames << " frames";
}

// Staging on every frame and taking the picture of the one before allocate nothing once the
// surfaces exist. The intake runs here inside the graphics context, where the host's own frame
// work cannot allocate meanwhile.
TEST(GpuIntake, SteadyStateAllocatesNothing) {
    data_ptr settings = settings_with(false);
    filtered_source source(true, settings.get(), false);
    filter_instance &instance = *source.instance();
    long allocated = 0;
    for (int frame = 0; frame < 40; ++frame) {
        ASSERT_TRUE(wait_for_host_frames(1));
        obs_enter_graphics();
        const long before = bnum_allocs();
        intake_drawn_picture(instance);
        allocated += frame < 5 ? 0 : bnum_allocs() - before; // the first make the surfaces
        obs_leave_graphics();
    }
    EXPECT_EQ(allocated, 0);
    EXPECT_GE(source.state().input_sequence, 20u) << "the intake did not run";
}

// Destroyed with pictures staged and not taken: the surfaces, render targets and effect go with
// the filter.
TEST(GpuIntake, DestroyedWithPicturesInFlightLeavesNothing) {
    obs_source_t *parent = create_picture_source("in flight", grey_picture);
    data_ptr settings = settings_with(false);
    // A filter made, shown until a picture waits, hidden (so that it is never taken) and taken
    // off.
    const auto destroy_in_flight = [&] {
        obs_source_t *filter =
            obs_source_create_private("pinvaler_filter", "in flight", settings.get());
        obs_source_filter_add(parent, filter);
        obs_set_output_source(0, parent);
        const auto in_flight = [&] {
            obs_enter_graphics();
            const graphics_part &graphics = instance_of(filter)->graphics;
            const bool staged = graphics.stages >= 3 && graphics.readback.pending() > 0;
            obs_leave_graphics();
            return staged;
        };
        EXPECT_TRUE(wait_until([&] {
            if (!in_flight())
                return false;
            obs_set_output_source(0, nullptr);
            return true;
        }));
        EXPECT_TRUE(wait_for_host_frames(2));
        EXPECT_TRUE(in_flight());
        obs_source_filter_remove(parent, filter);
        obs_source_release(filter);
    };
    // The host keeps effect files and records of its first uses for good: a first round makes
    // them.
    destroy_in_flight();
    wait_for_quiet_host();
    const long before = bnum_allocs();
    destroy_in_flight();
    EXPECT_TRUE(wait_until(
        [&] {
            wait_for_quiet_host();
            return bnum_allocs() == before;
        },
        20s))
        << bnum_allocs() - before << " host allocations left";
    obs_source_release(parent);
    obs_wait_for_destroy_queue();
}

} // namespace

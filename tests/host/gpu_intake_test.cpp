// Which intake reads a source, and the GPU intake's own conduct. Its crops are the end-to-end
// tests'.
#include "host_harness.h"
#include "intake/luma.h"

#include <algorithm>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

const rgba_image grey_picture = tag_picture(tag_family_kind::tag16h5, tag_scene::empty, 320, 180);

// A test source with the filter on it, shown on the main output unless asked otherwise.
struct filtered_source {
    obs_source_t *parent, *filter;
    bool shown;

    filtered_source(bool gpu, obs_data_t *settings, bool show = true)
        : parent(gpu ? create_picture_source("intake", grey_picture)
                     : create_push_source("intake")),
          filter(obs_source_create_private("pinvaler_filter", "intake", settings)), shown(show) {
        obs_source_filter_add(parent, filter);
        if (shown)
            obs_set_output_source(0, parent);
    }
    ~filtered_source() {
        if (shown)
            obs_set_output_source(0, nullptr);
        obs_source_filter_remove(parent, filter);
        obs_source_release(filter);
        obs_source_release(parent);
        obs_wait_for_destroy_queue();
    }
    filter_instance *instance() const { return instance_of(filter); }
    filter_state state() const { return read_filter_state(*instance()); }
    std::pair<uint64_t, int32_t> readback() const { return readback_counts(instance()); }
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
    bool gpu_source = false;
    video_format format = VIDEO_FORMAT_NONE;
    long long rotation = 0;
    bool force = false;
    intake_kind want;
    const char *line;
};

// Raw frames serve only when readable, drawn as delivered (a half turn goes unseen) and not
// overridden by the user; the line naming the intake comes once.
TEST(IntakeChoice, FollowsWhatTheHostShowsAndSaysWhichOnce) {
    const choice_row rows[] = {
        {.name = "GPU-drawn source",
         .gpu_source = true,
         .want = intake_kind::drawn,
         .line = "Pinvale: reading the picture as drawn (the source draws on the GPU and hands "
                 "over no raw frames)"},
        {.name = "BGRA frames",
         .format = VIDEO_FORMAT_BGRA,
         .want = intake_kind::raw_frames,
         .line = "Pinvale: reading the source's raw frames (BGRA, 320x180)"},
        {.name = "frames turned a quarter",
         .format = VIDEO_FORMAT_NV12,
         .rotation = 270,
         .want = intake_kind::drawn,
         .line = "Pinvale: reading the picture as drawn (its 320x180 raw frames are shown at "
                 "180x320, turned or resized)"},
        {.name = "frames turned upside down",
         .format = VIDEO_FORMAT_NV12,
         .rotation = 180,
         .want = intake_kind::raw_frames,
         .line = "Pinvale: reading the source's raw frames (NV12, 320x180)"},
        {.name = "asked for by the setting",
         .format = VIDEO_FORMAT_BGRA,
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

// Every level of each channel somewhere, so that a wrong weight or a channel read twice shows.
rgba_image colour_picture(int32_t width, int32_t height) {
    rgba_image picture(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t *p = picture.at(x, y);
            p[0] = static_cast<uint8_t>(x * 7 + y);
            p[1] = static_cast<uint8_t>(y * 5 + x / 3);
            p[2] = static_cast<uint8_t>((x ^ y) * 3);
            p[3] = 255;
        }
    return picture;
}

// The luma the raw-frame intake computes of a picture as the viewer sees it, at its own size.
std::vector<uint8_t> cpu_luma(const rgba_image &picture) {
    std::vector<uint8_t> luma(picture.pixels.size() / 4);
    for (size_t i = 0; i < luma.size(); ++i)
        luma[i] = luma_from_rgb(&picture.pixels[4 * i]);
    return luma;
}

// The worker's input a few host frames after the picture changed (staged, and taken a frame
// later), when it is of the picture shown at its size.
std::vector<uint8_t> input_after_frames(filter_instance *instance, int32_t width, int32_t height) {
    if (!wait_for_host_frames(4))
        return {};
    std::lock_guard lock(instance->tracking.mutex);
    const detection_frame &input = instance->tracking.input_frame;
    if (input.width != width || input.height != height || input.source_width != width ||
        input.source_height != height)
        return {};
    return {input.data.get(), input.data.get() + size_t(width) * height};
}

// The picture as drawn reaches the worker as the raw-frame intake would hand the picture the
// viewer sees (a turned camera's as shown, not as delivered): the same luma, to the level for
// 8-bit pictures, within the rounding of the tests' YUV encoding for 10-bit frames.
TEST(GpuIntake, HandsTheWorkerTheLumaOfThePictureShown) {
    const struct {
        const char *what;
        bool gpu_source = false;
        video_format format = VIDEO_FORMAT_NONE;
        long long rotation = 0;
        int32_t width, height; // as shown
        int tolerance = 0;
    } rows[] = {
        {.what = "GPU source", .gpu_source = true, .width = 640, .height = 360},
        // A width that is no multiple of four ends in a partial group of packed luma.
        {.what = "GPU source, odd size", .gpu_source = true, .width = 318, .height = 179},
        {.what = "BGRA turned a quarter",
         .format = VIDEO_FORMAT_BGRA,
         .rotation = 90,
         .width = 180,
         .height = 320},
        {.what = "P010", .format = VIDEO_FORMAT_P010, .width = 320, .height = 180, .tolerance = 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        // 10-bit test frames carry luma alone: their picture is grey.
        rgba_image shown = colour_picture(row.width, row.height);
        if (row.format == VIDEO_FORMAT_P010) {
            const std::vector<uint8_t> luma = cpu_luma(shown);
            for (size_t i = 0; i < luma.size(); ++i)
                std::fill_n(&shown.pixels[4 * i], 3, luma[i]);
        }
        data_ptr settings = settings_with(false);
        filtered_source source(row.gpu_source, settings.get());
        if (row.gpu_source) {
            set_source_picture(source.parent, shown);
        } else {
            obs_source_set_async_rotation(source.parent, row.rotation);
            // The frame that shows the picture once the host turns it a quarter counter-clockwise.
            const bool turned = row.rotation == 90;
            rgba_image stored(turned ? row.height : row.width, turned ? row.width : row.height);
            for (int32_t y = 0; y < stored.height; ++y)
                for (int32_t x = 0; x < stored.width; ++x)
                    std::copy_n(turned ? shown.at(y, shown.height - 1 - x) : shown.at(x, y), 4,
                                stored.at(x, y));
            const host_frame frame(row.format, stored);
            for (int i = 0; i < 2; ++i) {
                frame.push_to(source.parent);
                ASSERT_TRUE(wait_for_host_frames(2));
            }
        }
        EXPECT_LE(worst_difference(input_after_frames(source.instance(), row.width, row.height),
                                   cpu_luma(shown)),
                  row.tolerance);
        EXPECT_EQ(source.state().intake, intake_kind::drawn);
    }
}

// A camera read as drawn is read once per frame it delivers, not at every due time.
TEST(GpuIntake, ReadsACameraOncePerFrame) {
    data_ptr settings = settings_with(false);
    filtered_source source(false, settings.get());
    const host_frame frame(VIDEO_FORMAT_P010, grey_picture);
    for (int i = 0; i < 2; ++i) {
        frame.push_to(source.parent);
        ASSERT_TRUE(wait_until([&] { return source.instance()->raw_frames_seen > size_t(i); }));
        ASSERT_TRUE(wait_for_host_frames(2));
    }
    const uint64_t staged = source.readback().first;
    ASSERT_TRUE(wait_for_host_frames(10));
    EXPECT_EQ(source.readback().first, staged) << "staged again without a new frame";
    frame.push_to(source.parent);
    EXPECT_TRUE(wait_until([&] { return source.readback().first == staged + 1; }));
}

// One picture per host frame at most, however often drawn, even at a rate above the host's.
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

// Staging and taking allocate nothing once the surfaces exist; run inside the graphics context,
// where the host's own frame work cannot allocate meanwhile.
TEST(GpuIntake, SteadyStateAllocatesNothing) {
    data_ptr settings = settings_with(false);
    filtered_source source(true, settings.get(), false);
    filter_instance &instance = *source.instance();
    uint64_t allocations = 0;
    long kept = 0;
    for (int frame = 0; frame < 40; ++frame) {
        ASSERT_TRUE(wait_for_host_frames(1));
        obs_enter_graphics();
        const long before = bnum_allocs();
        // As the host runs them: the tick takes, the render stages.
        const uint64_t made = host_allocations_in([&] {
            take_drawn_picture(instance);
            intake_drawn_picture(instance);
        });
        // The first frames make the surfaces.
        allocations += frame < 5 ? 0 : made;
        kept += frame < 5 ? 0 : bnum_allocs() - before;
        obs_leave_graphics();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(kept, 0);
    EXPECT_GE(source.state().input_sequence, 20u) << "the intake did not run";
}

// Destroyed with a picture staged: surfaces, render targets and effect go with the filter.
TEST(GpuIntake, DestroyedWithPicturesInFlightLeavesNothing) {
    obs_source_t *parent = create_picture_source("in flight", grey_picture);
    obs_set_output_source(0, parent);
    data_ptr settings = settings_with(false);
    int in_flight = 0;
    const auto destroy_while_staging = [&] {
        obs_source_t *filter =
            obs_source_create_private("pinvaler_filter", "in flight", settings.get());
        obs_source_filter_add(parent, filter);
        const auto staged = [&] { return readback_counts(instance_of(filter)); };
        EXPECT_TRUE(wait_until([&] { return staged().first >= 3; }));
        in_flight += staged().second > 0;
        obs_source_filter_remove(parent, filter);
        obs_source_release(filter);
    };
    // The host keeps effect files and records of first uses for good: a first round makes them.
    destroy_while_staging();
    wait_for_quiet_host();
    const long before = bnum_allocs();
    for (int round = 0; round < 3; ++round)
        destroy_while_staging();
    EXPECT_TRUE(wait_until(
        [&] {
            wait_for_quiet_host();
            return bnum_allocs() == before;
        },
        20s))
        << bnum_allocs() - before << " host allocations left";
    EXPECT_GE(in_flight, 1) << "never a picture in flight";
    obs_set_output_source(0, nullptr);
    obs_source_release(parent);
    obs_wait_for_destroy_queue();
}

} // namespace

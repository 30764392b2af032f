// The filter in the real host, fed raw frames or a picture drawn on the GPU: what the host draws
// is compared with the source cropped by hand.
#include "host_harness.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <mutex>

namespace {

using namespace std::chrono_literals;
constexpr uint64_t ms = 1'000'000;

// The picture in colour unless `grey`.
rgba_image scene(tag_scene kind, int width, int height, bool grey, int shift = 0,
                 tag_family_kind family = tag_family_kind::tag16h5) {
    return shifted_scene(kind, width, height, shift, !grey, family);
}

// How far any of c's scales and offsets lies outside the range from a to b.
float outside(const crop_parameters &c, const crop_parameters &a, const crop_parameters &b) {
    float worst = 0.0f;
    for (float crop_parameters::*v :
         {&crop_parameters::crop_scale_x, &crop_parameters::crop_scale_y,
          &crop_parameters::crop_offset_x, &crop_parameters::crop_offset_y})
        worst = std::max({worst, std::min(a.*v, b.*v) - c.*v, c.*v - std::max(a.*v, b.*v)});
    return worst;
}

bool close_crop(const crop_parameters &a, const crop_parameters &b, float within = 1e-6f) {
    return crop_distance(a, b) <= within;
}

// YUV converted on the GPU is a level or two off; bilinear fractions cost as much at edges.
constexpr int tolerance = 3;

enum class feed { raw_frames, gpu };

// Its effect is the shipped one swapping red and blue, so that every picture drawn shows it went
// through the effect, tracking off included.
class EndToEnd : public shown_filter {
protected:
    void SetUp() override {
        std::ifstream shipped(PINVALER_DATA_DIR "/effects/pinvaler.effect");
        std::string effect{std::istreambuf_iterator<char>(shipped), {}};
        const std::string sample = "image.Sample(textureSampler, v_in.uv)";
        ASSERT_NE(effect.find(sample), std::string::npos);
        std::filesystem::create_directories(data.file("effects"));
        std::ofstream(data.file("effects/pinvaler.effect"))
            << effect.insert(effect.find(sample) + sample.size(), ".bgra");
        std::filesystem::copy_file(PINVALER_DATA_DIR "/effects/luma.effect",
                                   data.file("effects/luma.effect"));
    }
    // A camera's first frame comes before the host has sized the source, when the filter cannot
    // yet tell whether the host turns its frames: a grey one goes first.
    void add_filter(feed kind = feed::raw_frames) {
        ASSERT_NO_FATAL_FAILURE(shown_filter::add_filter(kind == feed::gpu));
        if (kind == feed::raw_frames) {
            show(scene(tag_scene::empty, 640, 360, true));
            ASSERT_TRUE(wait_until([&] { return instance()->raw_frames_seen > 0; }));
            ASSERT_TRUE(wait_for_host_frames(2));
        }
    }
    tracking_status status() const { return state().status; }
    crop_parameters crop() const { return state().crop; }
    // Until the crop shows the target of a frame of this size, noting every crop on the way.
    bool settles_on_target(int32_t width, int32_t height,
                           std::vector<crop_parameters> *seen = nullptr) {
        return wait_until([&] {
            if (seen)
                seen->push_back(crop());
            const filter_state s = state();
            return s.status.target_frame_width == width && s.status.target_frame_height == height &&
                   crop_on_target(s, 1e-6f);
        });
    }
    // How far what the host draws now is from the picture cropped by hand, in any channel.
    int drawn_against(const rgba_image &picture, const crop_parameters &crop) const {
        return worst_difference(render_source(parent), crop_reference(picture, crop, true));
    }

    module_data_dir data{"swapped-effect"};
};

// A source as the tests feed it: raw frames of a format, or a picture drawn on the GPU.
struct source_case {
    const char *name;
    feed kind;
    video_format format;
    tag_family_kind family;
};

class EndToEndSources : public EndToEnd, public ::testing::WithParamInterface<source_case> {};

TEST_P(EndToEndSources, ShowsTheRegionBetweenTheMarkers) {
    const source_case &c = GetParam();
    obs_data_set_int(settings.get(), key_tag_family, static_cast<long long>(c.family));
    ASSERT_NO_FATAL_FAILURE(add_filter(c.kind));
    const bool bgra = c.kind == feed::gpu || c.format == VIDEO_FORMAT_BGRA;
    const rgba_image picture = scene(tag_scene::pair, 640, 360, !bgra, 0, c.family);
    {
        std::lock_guard lock(instance()->tracking.mutex);
        instance()->tracking.canvas_width = 0;
    }
    show(picture, c.format);
    ASSERT_TRUE(settles_on_target(640, 360)) << "no target from the markers";
    EXPECT_EQ(state().intake, c.kind == feed::gpu ? intake_kind::drawn : intake_kind::raw_frames);
    EXPECT_EQ(state().canvas_width, canvas_width)
        << "the tick refreshes the canvas size for the worker";
    // Detection runs at the frame's own size.
    expect_crop_of_drawn_pair(status().target_rect, 640, 360, 640, 360, c.family);
    EXPECT_LE(drawn_against(picture, crop()), tolerance);
    obs_data_set_bool(settings.get(), key_enable_tracking, false);
    update();
    ASSERT_TRUE(wait_until([&] { return close_crop(crop(), identity_crop()); }));
    EXPECT_LE(drawn_against(picture, identity_crop()), bgra ? 0 : tolerance)
        << "tracking off, through the effect: RGB exactly, YUV up to the conversion";
}

INSTANTIATE_TEST_SUITE_P(
    Sources, EndToEndSources,
    ::testing::Values(
        source_case{"BGRA", feed::raw_frames, VIDEO_FORMAT_BGRA, tag_family_kind::tag16h5},
        source_case{"NV12", feed::raw_frames, VIDEO_FORMAT_NV12, tag_family_kind::tag16h5},
        source_case{"gpu_tag16h5", feed::gpu, VIDEO_FORMAT_NONE, tag_family_kind::tag16h5},
        source_case{"gpu_circle21h7", feed::gpu, VIDEO_FORMAT_NONE, tag_family_kind::circle21h7}),
    [](const auto &p) { return std::string(p.param.name); });

// Hidden without both markers, back within two host frames at their new place; when both go, the
// crop holds 0.8 s, then eases back to the whole frame. Whichever intake reads the picture.
class EndToEndFeeds : public EndToEnd, public ::testing::WithParamInterface<feed> {};

TEST_P(EndToEndFeeds, HidesWithoutBothMarkersAndHoldsThenEasesWhenBothAreGone) {
    obs_data_set_bool(settings.get(), key_hide_without_both_tags, true);
    obs_data_set_double(settings.get(), key_follow_half_life_ms, 40.0);
    ASSERT_NO_FATAL_FAILURE(add_filter(GetParam()));
    show(scene(tag_scene::pair, 640, 360, false));
    ASSERT_TRUE(settles_on_target(640, 360));
    const crop_parameters first = crop();
    const rgba_image one = scene(tag_scene::only_b, 640, 360, false);
    show(one);
    ASSERT_TRUE(wait_until([&] { return crop().crop_visibility == 0.0f; }));
    EXPECT_EQ(drawn_against(one, crop()), 0) << "something of the source shows while hidden";

    show(scene(tag_scene::pair, 640, 360, false, 24));
    ASSERT_TRUE(wait_until([&] { return status().both_tags_seen; }));
    const uint64_t seen_at = obs_get_video_frame_time();
    crop_parameters held{};
    ASSERT_TRUE(wait_until([&] { return (held = crop()).crop_visibility > 0.0f; }));
    EXPECT_LE(obs_get_video_frame_time() - seen_at, 2 * 1'000'000'000ull / 30 + ms)
        << "host frames from both markers seen to the output shown";
    EXPECT_TRUE(close_crop(held, region_of(status().target_rect, 640, 360)));
    EXPECT_FALSE(close_crop(held, first, 1e-3f)) << "the markers moved";

    show(scene(tag_scene::empty, 640, 360, false));
    ASSERT_TRUE(wait_until([&] { return status().tags_lost; }));
    const uint64_t lost_ns = status().tags_lost_since_ns;
    uint64_t first_move_ns = 0;
    bool eased = false;
    ASSERT_TRUE(wait_until([&] {
        const crop_parameters c = crop();
        const bool moved = !close_crop(c, held), whole = close_crop(c, identity_crop(), 1e-3f);
        first_move_ns = moved && !first_move_ns ? os_gettime_ns() : first_move_ns;
        eased = eased || (moved && !whole);
        return whole;
    })) << "the crop never went back to the whole frame";
    EXPECT_GE(first_move_ns - lost_ns, 800 * ms);
    EXPECT_LT(first_move_ns - lost_ns, 1800 * ms) << "generous: the machine is shared";
    EXPECT_TRUE(eased) << "the crop jumped back instead of easing";
    obs_data_set_bool(settings.get(), key_enable_tracking, false);
    update();
    EXPECT_TRUE(wait_until([&] { return crop().crop_visibility == 1.0f; }))
        << "tracking off shows the whole source, even while hiding";
}

INSTANTIATE_TEST_SUITE_P(Feeds, EndToEndFeeds, ::testing::Values(feed::raw_frames, feed::gpu),
                         [](const auto &p) {
                             return std::string(p.param == feed::gpu ? "gpu" : "raw_frames");
                         });

// A frame stored bottom row first, marked flipped: cropped where the viewer sees the markers.
TEST_F(EndToEnd, FlippedFramesAreCroppedWhereTheMarkersShow) {
    ASSERT_NO_FATAL_FAILURE(add_filter());
    const rgba_image shown = scene(tag_scene::pair, 640, 360, false);
    rgba_image stored(shown.width, shown.height);
    for (int32_t y = 0; y < shown.height; ++y)
        std::copy_n(shown.row(shown.height - 1 - y), 4 * shown.width, stored.row(y));
    host_frame flipped(VIDEO_FORMAT_BGRA, stored);
    flipped.frame.flip = true;
    flipped.push_to(parent);
    ASSERT_TRUE(settles_on_target(640, 360)) << "no target from the flipped frame";
    expect_crop_of_drawn_pair(status().target_rect, 640, 360, 640, 360);
    EXPECT_LE(drawn_against(shown, crop()), tolerance);
}

// A camera whose frames the host turns as it draws them (a phone held upright): 1280x720 frames
// shown at 720x1280. The frames do not show what the viewer sees, so the picture is read as
// drawn, and the crop lands between the markers where the viewer sees them.
TEST_F(EndToEnd, TurnedFramesAreCroppedBetweenTheMarkersAsShown) {
    ASSERT_NO_FATAL_FAILURE(add_filter());
    obs_source_set_async_rotation(parent, 90);
    // The host turns a frame a quarter counter-clockwise: the frame holds the picture shown
    // turned a quarter clockwise.
    const rgba_image seen = scene(tag_scene::pair, 720, 1280, false);
    rgba_image frame(1280, 720);
    for (int32_t y = 0; y < frame.height; ++y)
        for (int32_t x = 0; x < frame.width; ++x)
            std::copy_n(seen.at(y, seen.height - 1 - x), 4, frame.at(x, y));
    show(frame);
    ASSERT_TRUE(settles_on_target(720, 1280)) << "no target in the picture as shown";
    EXPECT_EQ(state().intake, intake_kind::drawn);
    expect_crop_of_drawn_pair(status().target_rect, 720, 1280, 720, 1280);
    EXPECT_LE(drawn_against(seen, crop()), tolerance);
}

// A 10-bit camera: the luma reader does not take its frames, so the picture is read as drawn,
// and with hiding on the output stays hidden until both markers are seen.
TEST_F(EndToEnd, TenBitFramesAreTrackedAndHiddenWithoutBothMarkers) {
    obs_data_set_bool(settings.get(), key_hide_without_both_tags, true);
    ASSERT_NO_FATAL_FAILURE(add_filter());
    // Grey: the tests' YUV frames carry exactly the picture's luma.
    show(scene(tag_scene::only_b, 640, 360, true), VIDEO_FORMAT_P010);
    ASSERT_TRUE(wait_until([&] { return state().intake == intake_kind::drawn; }));
    const uint64_t sequence = state().input_sequence;
    ASSERT_TRUE(wait_until([&] {
        const filter_state now = state();
        return now.taken_sequence > sequence && now.markers.tag_b_seen;
    })) << "tag B was not seen in the picture as drawn";
    EXPECT_TRUE(state().frame_usable);
    EXPECT_EQ(crop().crop_visibility, 0.0f) << "shown while only one marker is seen";

    show(scene(tag_scene::pair, 640, 360, true), VIDEO_FORMAT_P010);
    ASSERT_TRUE(settles_on_target(640, 360)) << "no target from the 10-bit frames";
    EXPECT_EQ(crop().crop_visibility, 1.0f);
    expect_crop_of_drawn_pair(status().target_rect, 640, 360, 640, 360);
}

// Tracking off stops the GPU intake at once, dropping what was staged; on, it reads again.
TEST_F(EndToEnd, TrackingOffStopsReadingThePictureBack) {
    ASSERT_NO_FATAL_FAILURE(add_filter(feed::gpu));
    show(scene(tag_scene::pair, 640, 360, false));
    ASSERT_TRUE(settles_on_target(640, 360));
    const auto readback = [&] { return readback_counts(instance()); };
    obs_data_set_bool(settings.get(), key_enable_tracking, false);
    update();
    ASSERT_TRUE(wait_for_host_frames(2));
    const auto off = readback();
    const uint64_t sequence = state().input_sequence;
    EXPECT_EQ(off.second, 0) << "staged pictures kept";
    ASSERT_TRUE(wait_for_host_frames(10));
    EXPECT_EQ(readback(), off) << "staged with tracking off";
    EXPECT_EQ(state().input_sequence, sequence) << "a picture handed over with tracking off";
    obs_data_set_bool(settings.get(), key_enable_tracking, true);
    update();
    EXPECT_TRUE(wait_until([&] { return state().input_sequence > sequence; }));
    EXPECT_GT(readback().first, off.first);
}

// A family switch while a detection of the old family runs: with hiding on, the output stays
// hidden until both markers of the new family are seen, though the old family's pass, which
// began before the switch, saw both of its own.
TEST_F(EndToEnd, HidingHoldsThroughAFamilySwitchDuringADetection) {
    obs_data_set_bool(settings.get(), key_hide_without_both_tags, true);
    // Whole-picture passes every time: the switch must fall inside one of the old family.
    obs_data_set_bool(settings.get(), key_window_search, false);
    ASSERT_NO_FATAL_FAILURE(add_filter());
    const rgba_image old_pair = scene(tag_scene::pair, 960, 540, false);
    show(old_pair);
    ASSERT_TRUE(wait_until([&] { return crop().crop_visibility > 0.0f; }, 60s));

    const filter_state before = state();
    show(old_pair);
    ASSERT_TRUE(wait_until(
        [&] {
            const filter_state now = state();
            return now.taken_sequence != before.taken_sequence &&
                   now.last_pass_ns == before.last_pass_ns;
        },
        60s))
        << "no detection of the old family under way";
    obs_data_set_int(settings.get(), key_tag_family, 1);
    update();
    // The tick after the switch hides the output; from then on it must stay hidden through the
    // stale pass and one of the new family on the same picture.
    ASSERT_TRUE(wait_for_host_frames(2));
    bool shown = false;
    const auto watch_until = [&](auto &&done) {
        return wait_until(
            [&] {
                shown = shown || crop().crop_visibility > 0.0f;
                return done(state());
            },
            60s);
    };
    ASSERT_TRUE(watch_until([&](const filter_state &now) {
        return now.last_pass_ns != before.last_pass_ns;
    })) << "the stale pass never ended";
    const uint64_t shown_at = os_gettime_ns();
    const uint64_t taken = state().taken_sequence;
    show(old_pair);
    ASSERT_TRUE(watch_until([&](const filter_state &now) {
        return now.taken_sequence != taken && now.last_pass_ns > shown_at;
    })) << "no pass of the new family";
    ASSERT_TRUE(wait_for_host_frames(2));
    EXPECT_FALSE(shown || crop().crop_visibility > 0.0f)
        << "the old family's markers showed the output after the switch";

    show(scene(tag_scene::pair, 960, 540, false, 0, tag_family_kind::circle21h7));
    EXPECT_TRUE(wait_until([&] { return crop().crop_visibility > 0.0f; }, 60s))
        << "the new family's markers did not show it";
}

// A camera going from 1920x1080 to 1280x720, markers at the same relative places: the old target
// stays while only one is seen, then the crop glides to the new one, showing the same region.
TEST_F(EndToEnd, SourceResolutionChangeKeepsShowingTheSameRegion) {
    obs_data_set_double(settings.get(), key_follow_half_life_ms, 100.0);
    ASSERT_NO_FATAL_FAILURE(add_filter());
    show(scene(tag_scene::pair, 1920, 1080, false));
    ASSERT_TRUE(settles_on_target(1920, 1080));
    const crop_parameters region = crop();
    std::vector<crop_parameters> seen;
    show(scene(tag_scene::only_b, 1280, 720, false));
    uint64_t one_seen_at = 0;
    ASSERT_TRUE(wait_until([&] {
        seen.push_back(crop());
        if (!one_seen_at && !status().both_tags_seen && !status().tags_lost)
            one_seen_at = obs_get_video_frame_time();
        return one_seen_at && obs_get_video_frame_time() >= one_seen_at + 200 * ms;
    })) << "the worker never saw the single marker";
    EXPECT_EQ(status().target_frame_width, 1920) << "the old target stays";
    const rgba_image small = scene(tag_scene::pair, 1280, 720, false);
    show(small);
    ASSERT_TRUE(settles_on_target(1280, 720, &seen)) << "no settled crop from the smaller frames";
    for (const crop_parameters &c : seen)
        ASSERT_LE(outside(c, region, crop()), 2.0f / 1280.0f) << "the crop strayed";
    EXPECT_LE(drawn_against(small, crop()), tolerance);
}

// The README's picture: a frame with its markers beside what the filter draws of it, both at
// half size, the target outlined in yellow on the frame. PINVALER_WRITE_DOCS=1 writes it.
TEST_F(EndToEnd, WritesTheReadmePicture) {
    if (!std::getenv("PINVALER_WRITE_DOCS"))
        GTEST_SKIP() << "set PINVALER_WRITE_DOCS=1 to write docs/crop-example.png";
    ASSERT_NO_FATAL_FAILURE(add_filter());
    const rgba_image picture = scene(tag_scene::pair, 960, 540, true);
    show(picture);
    ASSERT_TRUE(settles_on_target(960, 540));
    const rgba_image drawn = render_source(parent);
    ASSERT_EQ(drawn.width, 960);
    constexpr int32_t half_w = 480, half_h = 270, gap = 8;
    rgba_image sheet(2 * half_w + gap, half_h);
    std::fill(sheet.pixels.begin(), sheet.pixels.end(), uint8_t{255});
    for (int32_t y = 0; y < half_h; ++y)
        for (int32_t x = 0; x < half_w; ++x)
            for (int c = 0; c < 3; ++c) {
                int in = 0, out = 0;
                for (int32_t d = 0; d < 4; ++d) {
                    in += picture.at(2 * x + d % 2, 2 * y + d / 2)[c];
                    out += drawn.at(2 * x + d % 2, 2 * y + d / 2)[c];
                }
                sheet.at(x, y)[c] = static_cast<uint8_t>((in + 2) / 4);
                sheet.at(half_w + gap + x, y)[c] = static_cast<uint8_t>((out + 2) / 4);
            }
    const crop_rect t = status().target_rect;
    const auto half = [](float v, int32_t n) {
        return std::clamp(static_cast<int32_t>(v / 2), 0, n - 1);
    };
    const int32_t l = half(t.center_x - t.width / 2, half_w),
                  r = half(t.center_x + t.width / 2, half_w);
    const int32_t top = half(t.center_y - t.height / 2, half_h),
                  bottom = half(t.center_y + t.height / 2, half_h);
    for (int32_t y = top; y <= bottom; ++y)
        for (int32_t x = l; x <= r; ++x)
            if (x < l + 2 || x > r - 2 || y < top + 2 || y > bottom - 2)
                std::copy_n(std::array<uint8_t, 3>{255, 210, 0}.data(), 3, sheet.at(x, y));
    EXPECT_TRUE(write_png(PINVALER_SOURCE_DIR "/docs/crop-example.png", sheet));
}

} // namespace

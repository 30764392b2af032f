// Which intake serves a source, the lines naming it, and the GPU intake's staging ring on
// scripted video frames.
#include "intake/intake_choice.h"
#include "intake/luma.h"
#include "intake/staging_ring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr intake_choice raw{intake_kind::raw_frames, drawn_reason::none};
constexpr intake_choice undecided{intake_kind::undecided, drawn_reason::none};
constexpr intake_choice by_format{intake_kind::drawn, drawn_reason::format};
constexpr intake_choice by_size{intake_kind::drawn, drawn_reason::size};
constexpr intake_choice by_setting{intake_kind::drawn, drawn_reason::setting};

// Each row a 1280x720 camera the host has drawn before at its own size, but for what it names.
TEST(IntakeChoice, RawFramesServeOnlyWhatIsDrawnAsDelivered) {
    const struct {
        const char *what;
        bool force = false, readable = true, target = true, gpu = true;
        int32_t w = 1280, h = 720, pw = 1280, ph = 720, dw = 1280, dh = 720;
        intake_choice want;
    } rows[] = {
        {.what = "as delivered", .want = raw},
        {.what = "the setting", .force = true, .want = by_setting},
        {.what = "a format the reader does not take", .readable = false, .want = by_format},
        {.what = "setting over format", .force = true, .readable = false, .want = by_setting},
        {.what = "turned a quarter", .dw = 720, .dh = 1280, .want = by_size},
        {.what = "a filter below resizes it", .dw = 1279, .want = by_size},
        // The drawn size describes the frame before: a camera switching size is no turn.
        {.what = "the camera switched size", .w = 640, .h = 360, .want = raw},
        {.what = "switched and turned", .w = 640, .h = 360, .dw = 720, .dh = 1280, .want = by_size},
        {.what = "first frame, own size", .pw = 0, .ph = 0, .want = raw},
        {.what = "first frame, turned", .pw = 0, .ph = 0, .dw = 720, .dh = 1280, .want = by_size},
        {.what = "nothing drawn yet", .dw = 0, .dh = 0, .want = undecided},
        {.what = "nothing drawn, no GPU intake", .gpu = false, .dw = 0, .dh = 0, .want = raw},
        {.what = "only a width drawn", .dh = 0, .want = undecided},
        {.what = "no target to draw", .target = false, .dw = 720, .dh = 1280, .want = raw},
        {.what = "no target, unreadable", .readable = false, .target = false, .want = by_format},
    };
    for (const auto &r : rows) {
        const intake_choice got =
            choose_intake({r.force, r.readable, r.target, r.gpu, r.w, r.h, r.pw, r.ph, r.dw, r.dh});
        EXPECT_EQ(std::pair(got.kind, got.reason), std::pair(r.want.kind, r.want.reason)) << r.what;
    }
}

TEST(IntakeChoice, LinesNameTheIntakeAndWhy) {
    const struct {
        intake_choice choice;
        bool available;
        int format;
        bool warning;
        const char *text;
    } rows[] = {
        {.choice = raw,
         .available = true,
         .format = VIDEO_FORMAT_NV12,
         .warning = false,
         .text = "Pinvale: reading the source's raw frames (NV12, 1280x720)"},
        {.choice = gpu_source_choice,
         .available = true,
         .format = VIDEO_FORMAT_NONE,
         .warning = false,
         .text = "Pinvale: reading the picture as drawn (the source draws on the GPU and hands "
                 "over no raw frames)"},
        {.choice = by_format,
         .available = true,
         .format = VIDEO_FORMAT_I010,
         .warning = false,
         .text = "Pinvale: reading the picture as drawn (its raw frames are I010, which the filter "
                 "does not read directly)"},
        {.choice = by_size,
         .available = true,
         .format = VIDEO_FORMAT_NV12,
         .warning = false,
         .text = "Pinvale: reading the picture as drawn (its 1280x720 raw frames are shown at "
                 "720x1280, turned or resized)"},
        {.choice = by_setting,
         .available = true,
         .format = VIDEO_FORMAT_NV12,
         .warning = false,
         .text = "Pinvale: reading the picture as drawn (as its settings ask)"},
        {.choice = by_format,
         .available = false,
         .format = VIDEO_FORMAT_BGR3,
         .warning = true,
         .text = "Pinvale: cannot read the picture as drawn (its raw frames are BGR3, which the "
                 "filter does not read directly: its effect did not load); tracking remains "
                 "pass-through"},
        // Raw frames need no effect.
        {.choice = raw,
         .available = false,
         .format = VIDEO_FORMAT_BGRA,
         .warning = false,
         .text = "Pinvale: reading the source's raw frames (BGRA, 1280x720)"},
    };
    for (const auto &row : rows) {
        const intake_log_line line =
            describe_intake(row.choice, row.available, row.format, 1280, 720, 720, 1280);
        EXPECT_EQ(line.text, row.text);
        EXPECT_EQ(line.warning, row.warning) << row.text;
    }
}

constexpr uint64_t frame = 33'333'333;

staged_picture staged_on(uint64_t frame_number) {
    return {.width = 64,
            .height = 36,
            .source_width = 640,
            .source_height = 360,
            .frame_time = frame_number * frame,
            .sequence = frame_number,
            .stage_ns = 0};
}

// A frame's calls, in order: 's' asks to stage, 't' takes; what each should give: for 's'
// whether it staged, for 't' the frame (1-based, 0: nothing) whose picture it took.
struct frame_script {
    std::string calls;
    std::vector<int> expected;
};

struct ring_case {
    const char *name;
    std::vector<frame_script> frames;
};

class StagingRing : public ::testing::TestWithParam<ring_case> {};

TEST_P(StagingRing, GivesTheExpectedSlots) {
    staging_ring ring;
    const ring_case &c = GetParam();
    for (size_t f = 0; f < c.frames.size(); ++f) {
        const uint64_t now = (f + 1) * frame;
        const frame_script &script = c.frames[f];
        ASSERT_EQ(script.calls.size(), script.expected.size());
        for (size_t i = 0; i < script.calls.size(); ++i) {
            if (script.calls[i] == 's') {
                const int32_t slot = ring.slot_to_stage(now);
                if (slot >= 0)
                    ring.mark_staged(slot, staged_on(f + 1));
                EXPECT_EQ(slot >= 0, script.expected[i] != 0) << "frame " << f + 1 << " call " << i;
                continue;
            }
            const int32_t slot = ring.slot_to_take(now);
            uint64_t taken = 0;
            if (slot >= 0) {
                taken = ring.picture(slot).sequence;
                EXPECT_EQ(ring.picture(slot).frame_time, taken * frame);
                ring.release(slot);
            }
            EXPECT_EQ(taken, static_cast<uint64_t>(script.expected[i]))
                << "frame " << f + 1 << " call " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, StagingRing,
    ::testing::Values(
        ring_case{"one_stage_per_frame_however_often_drawn", {{"sss", {1, 0, 0}}, {"ss", {1, 0}}}},
        ring_case{"never_taken_on_the_frame_it_was_staged", {{"st", {1, 0}}, {"t", {1}}}},
        ring_case{"taken_once", {{"s", {1}}, {"tt", {1, 0}}}},
        ring_case{"no_stage_over_pictures_not_taken",
                  {{"s", {1}}, {"s", {1}}, {"s", {0}}, {"ts", {1, 1}}}},
        ring_case{"oldest_first", {{"s", {1}}, {"s", {1}}, {"ttt", {1, 2, 0}}}},
        // Staged before taken on every frame: the second surface keeps this from skipping.
        ring_case{"staging_every_frame_never_skips",
                  {{"st", {1, 0}}, {"st", {1, 1}}, {"st", {1, 2}}, {"st", {1, 3}}}},
        ring_case{"take_then_stage_every_frame", {{"ts", {0, 1}}, {"ts", {1, 1}}, {"ts", {2, 1}}}}),
    [](const auto &p) { return std::string(p.param.name); });

TEST(StagingRingClear, ForgetsPicturesButNotThatThisFrameStaged) {
    staging_ring ring;
    ring.mark_staged(ring.slot_to_stage(1 * frame), staged_on(1));
    ring.mark_staged(ring.slot_to_stage(2 * frame), staged_on(2));
    EXPECT_EQ(ring.pending(), 2);
    ring.clear();
    EXPECT_EQ(ring.pending(), 0);
    EXPECT_LT(ring.slot_to_take(3 * frame), 0);
    EXPECT_LT(ring.slot_to_stage(2 * frame), 0) << "a second draw on the same frame";
    EXPECT_GE(ring.slot_to_stage(3 * frame), 0);
}

} // namespace

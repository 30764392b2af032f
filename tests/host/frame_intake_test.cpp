// The frame intake on a real instance: pass-through, conversion, warnings, buffer reuse.
#include "filter_fixture.h"
#include "host_environment.h"
#include "intake/frame_intake.h"

#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace {

// A raw frame whose plane 0 is a buffer of the test's own.
struct raw_frame {
    raw_frame(video_format format, uint32_t width, uint32_t height, uint32_t linesize)
        : plane(static_cast<size_t>(linesize) * height + 16) {
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = static_cast<uint8_t>(i * 7 + i / 251);
        frame.format = format;
        frame.width = width;
        frame.height = height;
        frame.linesize[0] = linesize;
        frame.data[0] = plane.data();
    }
    uint64_t checksum() const {
        return std::accumulate(plane.begin(), plane.end(), uint64_t{0},
                               [](uint64_t s, uint8_t b) { return s * 31 + b; });
    }
    std::vector<uint8_t> plane;
    obs_source_frame frame{};
};

class FrameIntake : public ::testing::Test {
protected:
    void SetUp() override {
        settings = default_settings();
        instance = create_instance(settings.get());
        ASSERT_NE(instance, nullptr);
    }
    // Restarting the schedule makes the next frame due at once.
    obs_source_frame *push_due(raw_frame &raw) {
        instance->next_detect_ns = 0;
        return filter_video(instance.get(), &raw.frame);
    }
    detection_frame input() {
        return read_locked<detection_frame>(instance->frame_mutex,
                                            [&] { return instance->input_frame; });
    }
    bool usable() {
        return read_locked<bool>(instance->frame_mutex, [&] { return instance->frame_usable; });
    }
    data_ptr settings;
    instance_ptr instance;
};

TEST_F(FrameIntake, GivesEveryFrameBackUnchanged) {
    for (video_format format : {VIDEO_FORMAT_NV12, VIDEO_FORMAT_BGRA, VIDEO_FORMAT_P010,
                                VIDEO_FORMAT_YUY2, VIDEO_FORMAT_NONE}) {
        raw_frame raw(format, 64, 36, 256);
        const uint64_t before = raw.checksum();
        EXPECT_EQ(push_due(raw), &raw.frame);
        EXPECT_EQ(filter_video(instance.get(), &raw.frame), &raw.frame) << "not due";
        EXPECT_EQ(raw.checksum(), before);
    }
    raw_frame raw(VIDEO_FORMAT_NV12, 64, 36, 64);
    EXPECT_EQ(filter_video(nullptr, &raw.frame), &raw.frame);
    EXPECT_EQ(filter_video(instance.get(), nullptr), nullptr);
}

TEST_F(FrameIntake, TrackingOffConvertsNothing) {
    obs_data_set_bool(settings.get(), "enable_tracking", false);
    filter_update(instance.get(), settings.get());
    raw_frame raw(VIDEO_FORMAT_NV12, 640, 360, 640);
    for (int i = 0; i < 5; ++i)
        push_due(raw);
    EXPECT_EQ(input().data, nullptr);
    EXPECT_EQ(instance->submit_sequence, 0u);
}

TEST_F(FrameIntake, ConvertsADueFrameUprightAtTheDetectionSize) {
    // A picture whose luma is its row number, so the orientation shows.
    raw_frame raw(VIDEO_FORMAT_NV12, 1920, 1080, 1920);
    for (uint32_t y = 0; y < 1080; ++y)
        std::fill_n(raw.plane.begin() + y * 1920, 1920, static_cast<uint8_t>(y / 5));
    for (bool flip : {false, true}) {
        raw.frame.flip = flip;
        push_due(raw);
        const detection_frame in = input();
        ASSERT_NE(in.data, nullptr);
        EXPECT_EQ(in.width, 960);
        EXPECT_EQ(in.height, 540);
        EXPECT_EQ(in.source_width, 1920);
        EXPECT_EQ(in.source_height, 1080);
        EXPECT_EQ(in.sequence, instance->submit_sequence);
        for (int y : {0, 1, 271, 539}) {
            const int source_row = flip ? 1079 - 2 * y : 2 * y;
            EXPECT_EQ(in.data[y * in.stride + 17], source_row / 5)
                << "row " << y << " flip " << flip;
        }
    }
    EXPECT_TRUE(usable());
}

TEST_F(FrameIntake, UnsupportedFormatWarnsOnceByNameAndRecovers) {
    const size_t mark = log_mark();
    raw_frame p010(VIDEO_FORMAT_P010, 320, 180, 640);
    for (int i = 0; i < 3; ++i)
        push_due(p010);
    EXPECT_FALSE(usable());
    EXPECT_EQ(
        count_log_since(mark, LOG_WARNING,
                        "Pinvale: unsupported video format P010; tracking remains pass-through"),
        1u);

    raw_frame nv12(VIDEO_FORMAT_NV12, 320, 180, 320);
    push_due(nv12);
    EXPECT_TRUE(usable());
    raw_frame bgr3(VIDEO_FORMAT_BGR3, 320, 180, 960);
    push_due(bgr3);
    EXPECT_EQ(count_log_since(mark, LOG_WARNING, "Pinvale: unsupported video format"), 1u)
        << "once per instance, whatever the format";
}

TEST_F(FrameIntake, RejectedFramesWarnOnceAndLeaveTheOldPictureAlone) {
    raw_frame good(VIDEO_FORMAT_NV12, 1920, 1080, 1920);
    push_due(good);
    const detection_frame before = input();
    const size_t mark = log_mark();

    raw_frame zero_width(VIDEO_FORMAT_NV12, 0, 1080, 1920);
    push_due(zero_width);
    EXPECT_FALSE(usable());
    raw_frame short_lines(VIDEO_FORMAT_NV12, 1280, 720, 1279);
    push_due(short_lines);
    raw_frame no_plane(VIDEO_FORMAT_BGRA, 1280, 720, 5120);
    no_plane.frame.data[0] = nullptr;
    push_due(no_plane);
    raw_frame too_tall(VIDEO_FORMAT_NV12, 1, 40000, 64); // a detection image no detector can search
    push_due(too_tall);
    EXPECT_FALSE(usable());

    EXPECT_EQ(
        count_log_since(mark, LOG_WARNING, "Pinvale: ignored a frame with invalid dimensions"), 1u);
    EXPECT_EQ(count_log_since(mark, LOG_WARNING, "Pinvale: ignored a frame"), 1u)
        << "the two frame messages share one flag";
    const detection_frame after = input();
    EXPECT_EQ(after.sequence, before.sequence);
    EXPECT_EQ(after.source_width, 1920) << "a refused frame does not relabel the old pixels";
    EXPECT_EQ(after.source_height, 1080);

    push_due(good);
    EXPECT_TRUE(usable());
}

TEST_F(FrameIntake, KeepsTheBufferWhileTheDetectionSizeStays) {
    raw_frame full_hd(VIDEO_FORMAT_NV12, 1920, 1080, 1920);
    push_due(full_hd);
    const uint8_t *buffer = input().data;
    raw_frame hd(VIDEO_FORMAT_NV12, 1280, 720, 1280);
    push_due(hd);
    EXPECT_EQ(input().data, buffer) << "1280x720 at 960 is still 960x540";
    raw_frame small(VIDEO_FORMAT_NV12, 640, 360, 640);
    push_due(small);
    EXPECT_EQ(input().width, 640);
    EXPECT_EQ(input().height, 360);
}

TEST_F(FrameIntake, SteadyStateAllocatesNothing) {
    raw_frame raw(VIDEO_FORMAT_BGRA, 1280, 720, 5120);
    push_due(raw);
    wait_for_quiet_host();
    const long before = bnum_allocs();
    for (int i = 0; i < 1000; ++i)
        push_due(raw);
    EXPECT_EQ(bnum_allocs(), before);
}

TEST_F(FrameIntake, NewestConvertedFrameWins) {
    raw_frame raw(VIDEO_FORMAT_NV12, 640, 360, 640);
    for (uint8_t value : {10, 20, 30}) {
        std::fill(raw.plane.begin(), raw.plane.end(), value);
        push_due(raw);
    }
    const detection_frame in = input();
    EXPECT_EQ(in.sequence, 3u);
    EXPECT_EQ(in.data[0], 30);
}

TEST_F(FrameIntake, DiagnosticsCountEachSubmission) {
    obs_data_set_bool(settings.get(), "perf_diagnostics", true);
    filter_update(instance.get(), settings.get());
    raw_frame raw(VIDEO_FORMAT_NV12, 640, 360, 640);
    push_due(raw);
    push_due(raw);
    mutex_lock lock(instance->perf_mutex);
    EXPECT_EQ(instance->perf_submitted, 2u);
    EXPECT_GT(instance->perf_downscale_max_ns, 0u);
}

} // namespace

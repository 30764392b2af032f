// The detection image's size and buffer, and the worker's copy of the newest published frame.
#include "detect/work_frame.h"
#include "intake/detection_frame.h"
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(DetectionSize, AtMostTheDetectionWidthNeverWiderThanTheSource) {
    const struct {
        int32_t w, h, detect_width, out_w, out_h;
    } cases[] = {{1920, 1080, 960, 960, 540},    {1920, 1081, 960, 960, 540},
                 {1280, 720, 960, 960, 540},     {640, 480, 960, 640, 480},
                 {3840, 2160, 3840, 3840, 2160}, {3840, 12, 960, 960, 3},
                 {4000, 1, 960, 960, 1},         {5, 7, 0, 1, 1}};
    for (const auto &c : cases) {
        const detection_size s = detection_size_for(c.w, c.h, c.detect_width);
        EXPECT_EQ(s.width, c.out_w) << c.w << "x" << c.h << " at " << c.detect_width;
        EXPECT_EQ(s.height, c.out_h) << c.w << "x" << c.h << " at " << c.detect_width;
    }
}

TEST(EnsureDetectionFrame, ReusesAFittingBufferAndReplacesOthers) {
    const long allocs = bnum_allocs();
    detection_frame frame{};
    ASSERT_TRUE(ensure_detection_frame(&frame, 4, 3));
    EXPECT_EQ(frame.stride, 4);
    EXPECT_EQ(std::vector<uint8_t>(frame.data, frame.data + 12), std::vector<uint8_t>(12, 0));
    uint8_t *first = frame.data;
    frame.data[5] = 9;
    frame.sequence = 7;
    ASSERT_TRUE(ensure_detection_frame(&frame, 4, 3));
    EXPECT_EQ(frame.data, first) << "a fitting buffer is kept, contents and all";
    EXPECT_EQ(frame.data[5], 9);
    EXPECT_EQ(frame.sequence, 7u);

    frame.source_width = 40;
    ASSERT_TRUE(ensure_detection_frame(&frame, 3, 4));
    EXPECT_EQ(frame.width, 3);
    EXPECT_EQ(frame.sequence, 0u) << "a new buffer holds no picture";
    EXPECT_EQ(frame.source_width, 0);
    for (const auto &[w, h] : {std::pair{0, 3}, {3, -1}, {-5, 2}})
        EXPECT_FALSE(ensure_detection_frame(&frame, w, h));
    EXPECT_FALSE(ensure_detection_frame(nullptr, 2, 2));
    EXPECT_EQ(frame.width, 3) << "a refusal leaves the frame as it was";
    bfree(frame.data);
    EXPECT_EQ(bnum_allocs(), allocs);
}

// A w x h picture at `sequence`, from a source twice its size.
detection_frame picture(int32_t w, int32_t h, uint64_t sequence) {
    auto *data = static_cast<uint8_t *>(bzalloc(static_cast<size_t>(w) * h));
    for (int32_t i = 0; i < w * h; ++i)
        data[i] = static_cast<uint8_t>(sequence * 7 + i * 31);
    return {data, w, h, w, 2 * w, 2 * h, sequence};
}

TEST(TakeNewestFrame, TakesEachPublishedPictureOnceIntoAReusedBuffer) {
    filter_instance instance{};
    ASSERT_TRUE(mutex_init(&instance.frame_mutex));
    detection_frame &input = instance.input_frame, &work = instance.work_frame;
    const auto publish = [&](detection_frame next) {
        bfree(input.data);
        input = next;
        take_newest_frame(&instance);
    };
    const auto holds = [&](const detection_frame &f) {
        return work.width == f.width && work.height == f.height && work.stride == f.width &&
               work.source_width == f.source_width && work.source_height == f.source_height &&
               work.sequence == f.sequence &&
               std::memcmp(work.data, f.data, static_cast<size_t>(f.width) * f.height) == 0;
    };
    take_newest_frame(&instance);
    EXPECT_EQ(work.data, nullptr) << "nothing published";
    publish(picture(8, 4, 0));
    EXPECT_EQ(work.data, nullptr) << "a buffer at sequence 0 holds no picture yet";
    publish(picture(8, 4, 3));
    EXPECT_TRUE(holds(input));
    const detection_frame held = picture(8, 4, 3);
    input.data[0] ^= 0xff;
    take_newest_frame(&instance);
    EXPECT_TRUE(holds(held)) << "the same sequence is not taken again";

    const uint8_t *buffer = work.data;
    publish(picture(8, 4, 4));
    EXPECT_TRUE(holds(input));
    EXPECT_EQ(work.data, buffer) << "the buffer is kept while the size stays";
    const detection_frame kept = picture(8, 4, 4);
    for (const auto &[w, h] : {std::pair{0, 4}, {8, 0}, {-3, 4}, {8, -1}, {8, 4}}) {
        detection_frame bad = picture(8, 4, 5);
        bad.width = w, bad.height = h;
        if (w == 8 && h == 4)
            bfree(bad.data), bad.data = nullptr;
        publish(bad);
        EXPECT_TRUE(holds(kept)) << w << "x" << h << " leaves the work frame as it was";
    }
    EXPECT_TRUE(instance.warned_alloc);
    publish(picture(4, 8, 6));
    EXPECT_TRUE(holds(input)) << "a new size is taken into a new buffer";
    for (uint8_t *data : {input.data, work.data, held.data, kept.data})
        bfree(data);
    mutex_destroy(&instance.frame_mutex);
}

} // namespace

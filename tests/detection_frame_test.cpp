#include "intake/detection_frame.h"

#include <gtest/gtest.h>

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
        EXPECT_EQ(std::pair(s.width, s.height), std::pair(c.out_w, c.out_h))
            << c.w << "x" << c.h << " at " << c.detect_width;
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

} // namespace

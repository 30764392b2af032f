// The worker's copy of the newest frame: buffer reuse, refused inputs, and
// which published frames it takes. The sizing rule is the intake's, tested there.
#include "detect/work_frame.h"
#include "platform/threads.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

detection_frame make_input(int32_t w, int32_t h, uint64_t sequence, uint8_t seed) {
    detection_frame f{};
    if (w > 0 && h > 0) {
        f.data = static_cast<uint8_t *>(bzalloc(static_cast<size_t>(w) * h));
        for (int32_t i = 0; i < w * h; ++i)
            f.data[i] = static_cast<uint8_t>(seed + i * 31);
    }
    f.width = w;
    f.height = h;
    f.stride = w;
    f.source_width = w * 2;
    f.source_height = h * 2;
    f.sequence = sequence;
    return f;
}

std::vector<uint8_t> pixels(const detection_frame &f) {
    return {f.data, f.data + static_cast<size_t>(f.width) * f.height};
}

struct frames {
    detection_frame input{};
    detection_frame work{};
    ~frames() {
        bfree(input.data);
        bfree(work.data);
    }
    void replace_input(detection_frame next) {
        bfree(input.data);
        input = next;
    }
};

void expect_same_frame(const detection_frame &a, const detection_frame &b) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.stride, b.width);
    EXPECT_EQ(a.source_width, b.source_width);
    EXPECT_EQ(a.source_height, b.source_height);
    EXPECT_EQ(a.sequence, b.sequence);
    EXPECT_EQ(pixels(a), pixels(b));
}

TEST(WorkFrameCopy, ReusesTheBufferWhileTheSizeStays) {
    frames f;
    f.input = make_input(8, 4, 5, 1);
    ASSERT_TRUE(copy_detection_frame(f.work, f.input));
    expect_same_frame(f.work, f.input);
    const uint8_t *buffer = f.work.data;

    f.replace_input(make_input(8, 4, 6, 99));
    ASSERT_TRUE(copy_detection_frame(f.work, f.input));
    EXPECT_EQ(f.work.data, buffer);
    expect_same_frame(f.work, f.input);
}

TEST(WorkFrameCopy, RefusedInputLeavesTheWorkFrameAsItWas) {
    const struct {
        int32_t w, h;
        bool with_data;
    } refused[] = {{0, 4, true}, {8, 0, true}, {-3, 4, true}, {8, -1, true}, {8, 4, false}};
    for (const auto input : refused) {
        SCOPED_TRACE(testing::Message()
                     << input.w << "x" << input.h << " data " << input.with_data);
        frames f;
        f.input = make_input(8, 4, 5, 1);
        ASSERT_TRUE(copy_detection_frame(f.work, f.input));
        const detection_frame before = f.work;
        const std::vector<uint8_t> before_pixels = pixels(f.work);

        detection_frame bad = make_input(8, 4, 6, 50);
        bad.width = input.w;
        bad.height = input.h;
        if (!input.with_data) {
            bfree(bad.data);
            bad.data = nullptr;
        }
        f.replace_input(bad);
        EXPECT_FALSE(copy_detection_frame(f.work, f.input));
        EXPECT_EQ(f.work.data, before.data);
        EXPECT_EQ(f.work.sequence, before.sequence);
        EXPECT_EQ(f.work.width, before.width);
        EXPECT_EQ(pixels(f.work), before_pixels);
    }
}

// A record with only what the take needs.
struct take_record {
    filter_instance instance{};
    take_record() { EXPECT_TRUE(mutex_init(&instance.frame_mutex)); }
    ~take_record() {
        bfree(instance.input_frame.data);
        bfree(instance.work_frame.data);
        mutex_destroy(&instance.frame_mutex);
    }
    void publish(detection_frame next) {
        bfree(instance.input_frame.data);
        instance.input_frame = next;
    }
};

TEST(TakeNewestFrame, TakesEachPublishedPictureOnce) {
    take_record r;
    detection_frame &work = r.instance.work_frame;

    take_newest_frame(&r.instance);
    EXPECT_EQ(work.data, nullptr) << "nothing published";

    r.publish(make_input(8, 4, 0, 1));
    take_newest_frame(&r.instance);
    EXPECT_EQ(work.data, nullptr) << "a buffer at sequence 0 holds no picture yet";

    r.publish(make_input(8, 4, 3, 1));
    take_newest_frame(&r.instance);
    expect_same_frame(work, r.instance.input_frame);

    // Same sequence, different bytes: the worker already holds this frame.
    const std::vector<uint8_t> held = pixels(work);
    r.instance.input_frame.data[0] ^= 0xff;
    take_newest_frame(&r.instance);
    EXPECT_EQ(pixels(work), held);

    r.publish(make_input(8, 4, 4, 9));
    take_newest_frame(&r.instance);
    expect_same_frame(work, r.instance.input_frame);
}

} // namespace

// Luma extraction against a plain reference written from the layout table and the
// point-sampling rule, with every source plane against a guard page.
#include "intake/luma.h"
#include "intake/luma_rows.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

namespace {

// Random bytes with an inaccessible page right after their end (or right before their start), so
// that a read one byte outside faults at once.
struct guarded_bytes {
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE)), span;
    uint8_t *map, *data;
    guarded_bytes(size_t size, bool guard_after, std::mt19937 &random)
        : span((size + page - 1) / page * page + 2 * page),
          map(static_cast<uint8_t *>(
              mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))) {
        EXPECT_EQ(mprotect(map + page, span - 2 * page, PROT_READ | PROT_WRITE), 0);
        data = guard_after ? map + span - page - size : map + page;
        std::generate_n(data, size, [&] { return static_cast<uint8_t>(random()); });
    }
    ~guarded_bytes() { munmap(map, span); }
};

int64_t row_bytes(luma_layout layout, int64_t width) {
    return layout == LUMA_PLANE8 ? width : 4 * (layout >= LUMA_UYVY ? (width + 1) / 2 : width);
}

// Straight from the layout table, with no shared code.
uint8_t reference_luma(luma_layout layout, const uint8_t *row, int64_t x) {
    const int64_t px = 4 * x, pair = 4 * (x / 2), odd = x % 2;
    return layout == LUMA_PLANE8 ? row[x]
           : layout == LUMA_BGRA || layout == LUMA_BGRX
               ? (77u * row[px + 2] + 150u * row[px + 1] + 29u * row[px]) >> 8
           : layout == LUMA_RGBA ? (77u * row[px] + 150u * row[px + 1] + 29u * row[px + 2]) >> 8
           : layout == LUMA_UYVY ? row[pair + (odd ? 3 : 1)]
                                 : row[pair + (odd ? 2 : 0)];
}

// Every layout, upright and flipped (rows counted from the bottom), the plane against a guard page
// on either side: the whole destination, row padding and margins included, must be the rule's.
TEST(DownscaleLuma, FollowsTheRuleOnEveryLayout) {
    // Non-integer ratios, odd widths, halves and halves plus one, padded rows, wide rows.
    const struct {
        int32_t src_w, src_h, dst_w, dst_h, src_pad, dst_pad;
    } cases[] = {
        {.src_w = 1, .src_h = 1, .dst_w = 1, .dst_h = 1, .src_pad = 0, .dst_pad = 0},
        {.src_w = 7, .src_h = 5, .dst_w = 1, .dst_h = 1, .src_pad = 0, .dst_pad = 0},
        {.src_w = 1, .src_h = 9, .dst_w = 1, .dst_h = 3, .src_pad = 0, .dst_pad = 0},
        {.src_w = 17, .src_h = 13, .dst_w = 17, .dst_h = 13, .src_pad = 0, .dst_pad = 0},
        {.src_w = 33, .src_h = 7, .dst_w = 33, .dst_h = 7, .src_pad = 13, .dst_pad = 3},
        {.src_w = 64, .src_h = 36, .dst_w = 32, .dst_h = 18, .src_pad = 0, .dst_pad = 0},
        {.src_w = 65, .src_h = 37, .dst_w = 32, .dst_h = 18, .src_pad = 1, .dst_pad = 1},
        {.src_w = 130, .src_h = 9, .dst_w = 65, .dst_h = 4, .src_pad = 64, .dst_pad = 0},
        {.src_w = 131, .src_h = 9, .dst_w = 65, .dst_h = 4, .src_pad = 0, .dst_pad = 0},
        {.src_w = 132, .src_h = 9, .dst_w = 65, .dst_h = 4, .src_pad = 0, .dst_pad = 0},
        {.src_w = 66, .src_h = 5, .dst_w = 65, .dst_h = 5, .src_pad = 0, .dst_pad = 0},
        {.src_w = 67, .src_h = 5, .dst_w = 65, .dst_h = 5, .src_pad = 0, .dst_pad = 0},
        {.src_w = 40, .src_h = 30, .dst_w = 30, .dst_h = 22, .src_pad = 5, .dst_pad = 2},
        {.src_w = 5, .src_h = 3, .dst_w = 3, .dst_h = 2, .src_pad = 0, .dst_pad = 0},
        {.src_w = 5, .src_h = 4, .dst_w = 4, .dst_h = 3, .src_pad = 1, .dst_pad = 0},
        {.src_w = 15, .src_h = 6, .dst_w = 8, .dst_h = 3, .src_pad = 0, .dst_pad = 0},
        {.src_w = 100, .src_h = 50, .dst_w = 37, .dst_h = 19, .src_pad = 3, .dst_pad = 7},
        {.src_w = 3, .src_h = 2, .dst_w = 7, .dst_h = 5, .src_pad = 0, .dst_pad = 0},
        {.src_w = 1, .src_h = 1, .dst_w = 3, .dst_h = 3, .src_pad = 0, .dst_pad = 0},
        {.src_w = 5000, .src_h = 3, .dst_w = 4500, .dst_h = 2, .src_pad = 0, .dst_pad = 5},
        {.src_w = 4200, .src_h = 2, .dst_w = 2100, .dst_h = 1, .src_pad = 0, .dst_pad = 0},
        {.src_w = 4100, .src_h = 2, .dst_w = 4100, .dst_h = 2, .src_pad = 2, .dst_pad = 0},
        {.src_w = 1280, .src_h = 720, .dst_w = 960, .dst_h = 540, .src_pad = 0, .dst_pad = 0},
        {.src_w = 1920, .src_h = 1081, .dst_w = 960, .dst_h = 540, .src_pad = 64, .dst_pad = 0},
    };
    std::mt19937 random(1234);
    for (const auto &[src_w, src_h, dst_w, dst_h, src_pad, dst_pad] : cases)
        for (int32_t flags = 0; flags < 4 * 7; ++flags) {
            const auto layout = static_cast<luma_layout>(flags / 4);
            const bool flip = flags & 1;
            SCOPED_TRACE(testing::Message() << "layout " << layout << ", flags " << flags % 4
                                            << ", " << src_w << "x" << src_h << " to " << dst_w);
            const int64_t row = row_bytes(layout, src_w);
            const auto linesize = static_cast<int32_t>(row + src_pad);
            const int32_t stride = dst_w + dst_pad;
            guarded_bytes plane(static_cast<size_t>(linesize) * (src_h - 1) + row, flags & 2,
                                random);
            std::vector<uint8_t> expected(static_cast<size_t>(stride) * dst_h + 32);
            std::iota(expected.begin(), expected.end(), uint8_t{7}); // margins and padding
            std::vector<uint8_t> actual = expected, through_pointer = expected;
            for (int64_t y = 0; y < dst_h; ++y) {
                const int64_t sy = y * src_h / dst_h;
                const uint8_t *src_row = plane.data + (flip ? src_h - 1 - sy : sy) * linesize;
                for (int64_t x = 0; x < dst_w; ++x)
                    expected[16 + y * stride + x] =
                        reference_luma(layout, src_row, x * src_w / dst_w);
            }
            ASSERT_TRUE(downscale_luma(layout, actual.data() + 16, dst_w, dst_h, stride, plane.data,
                                       src_w, src_h, linesize, flip));
            ASSERT_TRUE(actual == expected);
            // Any sampler but the two known ones goes through its pointer, with the same result.
            const luma_sampler rgb = [](const uint8_t *p) { return luma_from_rgb(p); };
            EXPECT_TRUE(layout != LUMA_RGBA ||
                        (downscale_packed32(through_pointer.data() + 16, dst_w, dst_h, stride,
                                            plane.data, src_w, src_h, linesize, rgb, flip) &&
                         through_pointer == expected));
        }
}

// The downscaler runs only the fastest kernel set; every set this CPU can run is held to the rule
// here, on the widths that read source column x or 2x, up to a few vector lengths, each source
// ending at a guard page. (The general-width gathers are the downscaler's own, tested above.)
TEST(LumaRowKernels, EverySetCopiesAndHalvesByTheRule) {
    // LUMA_YUY2 stands for any 4:2:2 pair with its luma bytes at `even` and `odd`.
    std::vector<std::tuple<luma_layout, int32_t, int32_t>> samplings = {
        {LUMA_PLANE8, 0, 0}, {LUMA_BGRA, 0, 0}, {LUMA_RGBA, 0, 0}};
    for (int32_t pair = 0; pair < 16; ++pair)
        samplings.emplace_back(LUMA_YUY2, pair / 4, pair % 4);
    std::mt19937 random(7);
    for (const luma_row_kernels *k : supported_row_kernels())
        for (int32_t count = 0; count <= 140; ++count)
            for (const auto &[layout, even, odd] : samplings)
                for (const int32_t step : {1, 2}) {
                    SCOPED_TRACE(testing::Message()
                                 << k->name << ", layout " << layout << " " << even << odd
                                 << ", width " << count << " step " << step);
                    const bool pairs = layout == LUMA_YUY2,
                               weighted = !pairs && layout != LUMA_PLANE8;
                    guarded_bytes src(static_cast<size_t>(row_bytes(layout, step * count)), true,
                                      random);
                    std::vector<uint8_t> dst(static_cast<size_t>(count) + 1, 0xEE);
                    const luma_weights weights = layout == LUMA_BGRA ? bgr_weights : rgb_weights;
                    if (step == 1 && weighted)
                        k->copy_packed32(dst.data(), src.data, count, weights);
                    else if (step == 1 && pairs)
                        k->copy_packed422(dst.data(), src.data, count, even, odd);
                    else if (step == 1)
                        continue; // the downscaler copies such rows whole
                    else
                        weighted ? k->halve_packed32(dst.data(), src.data, count, weights)
                        : pairs  ? k->halve_packed422(dst.data(), src.data, count, even)
                                 : k->halve_plane8(dst.data(), src.data, count);
                    for (int32_t x = 0, sx = 0; x < count; ++x, sx += step)
                        ASSERT_EQ(dst[x], pairs ? src.data[4 * (sx / 2) + (sx % 2 ? odd : even)]
                                                : reference_luma(layout, src.data, sx))
                            << "column " << x;
                    EXPECT_EQ(dst[count], 0xEE);
                }
}

// Refused calls write nothing; at the width limits, where the pitch rule stops fitting 32 bits,
// a one-pixel destination reads only the first pixel.
TEST(DownscaleLuma, ArgumentChecks) {
    constexpr int32_t max = INT32_MAX, w32 = 536'870'911, w422 = 1'073'741'823;
    const struct {
        luma_layout layout;
        int32_t dst_w = 2, dst_h = 2, stride = 2, src_w = 4, src_h = 4, pitch;
    } refused[] = {
        {.layout = LUMA_PLANE8, .dst_w = 0, .pitch = 4},
        {.layout = LUMA_YUY2, .dst_h = 0, .pitch = 8},
        {.layout = LUMA_RGBA, .dst_w = -2, .pitch = 16},
        {.layout = LUMA_PLANE8, .src_w = 0, .pitch = 4},
        {.layout = LUMA_UYVY, .src_h = -4, .pitch = 8},
        {.layout = LUMA_PLANE8, .dst_w = 3, .pitch = 4},
        {.layout = LUMA_BGRX, .stride = -2, .pitch = 16},
        {.layout = LUMA_PLANE8, .pitch = 3},
        {.layout = LUMA_BGRA, .pitch = 15},
        {.layout = LUMA_YUY2, .pitch = 7},
        {.layout = LUMA_YVYU, .src_w = 5, .pitch = 11},
        {.layout = LUMA_PLANE8, .pitch = -4},
        {.layout = LUMA_RGBA, .src_w = w32 + 1, .pitch = max},
        {.layout = LUMA_BGRA, .src_w = w32, .pitch = max - 4},
        {.layout = LUMA_UYVY, .src_w = w422 + 1, .pitch = max},
        {.layout = LUMA_YUY2, .src_w = w422, .pitch = max},
        {.layout = luma_layout(7), .pitch = 16},
        {.layout = luma_layout(-1), .pitch = 16},
    };
    const uint8_t src[64] = {200, 100, 50, 9};
    std::vector<uint8_t> dst(64, 0xC7);
    for (const auto &c : refused)
        EXPECT_FALSE(downscale_luma(c.layout, dst.data(), c.dst_w, c.dst_h, c.stride, src, c.src_w,
                                    c.src_h, c.pitch, false))
            << "layout " << c.layout << ", " << c.src_w << " wide, pitch " << c.pitch;
    EXPECT_FALSE(downscale_luma(LUMA_PLANE8, nullptr, 2, 2, 2, src, 4, 4, 4, false));
    EXPECT_FALSE(downscale_luma(LUMA_BGRA, dst.data(), 2, 2, 2, nullptr, 4, 4, 16, false));
    EXPECT_FALSE(downscale_packed32(dst.data(), 2, 2, 2, src, 2, 2, 8, nullptr, false));
    for (const auto &[even, odd] : {std::pair{-1, 2}, {4, 2}, {0, -1}, {0, 4}})
        EXPECT_FALSE(downscale_packed422(dst.data(), 2, 2, 2, src, 4, 2, 8, even, odd, false));
    EXPECT_EQ(dst, std::vector<uint8_t>(64, 0xC7));
    for (const auto &[layout, width, pitch] : {std::tuple{LUMA_PLANE8, max, max},
                                               {LUMA_BGRA, w32, max - 3},
                                               {LUMA_UYVY, w422 - 1, max - 3}}) {
        EXPECT_TRUE(downscale_luma(layout, dst.data(), 1, 1, 1, src, width, 1, pitch, false));
        EXPECT_EQ(dst[0], reference_luma(layout, src, 0)) << "layout " << layout;
    }
}

// Row offsets beyond 2^31 bytes, in the source and the destination, on sparse mappings.
TEST(DownscaleLuma, RowOffsetsPastThirtyTwoBits) {
    const int32_t pitch = 1'500'000'000;
    const size_t span = static_cast<size_t>(pitch) * 2 + 64;
    void *maps[2];
    for (void *&map : maps)
        map = mmap(nullptr, span, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    auto *src = static_cast<uint8_t *>(maps[0]), *dst = static_cast<uint8_t *>(maps[1]);
    const bool mapped = maps[0] != MAP_FAILED && maps[1] != MAP_FAILED;
    for (int row = 0; mapped && row < 3; ++row)
        src[static_cast<size_t>(row) * pitch] = static_cast<uint8_t>(40 + row);
    for (const bool flip : {false, true}) {
        EXPECT_TRUE(!mapped || downscale_plane8(dst, 1, 3, pitch, src, 1, 3, pitch, flip));
        for (int row = 0; mapped && row < 3; ++row)
            EXPECT_EQ(dst[static_cast<size_t>(row) * pitch], flip ? 42 - row : 40 + row) << row;
    }
    for (void *map : maps)
        if (map != MAP_FAILED)
            munmap(map, span);
}

// Every host format value, its short name, and the layout it is read as (none: unsupported).
TEST(LumaLayout, EveryHostFormatValue) {
    const char *const names[] = {"None", "I420", "NV12", "YVYU", "YUY2", "UYVY", "RGBA",
                                 "BGRA", "BGRX", "Y800", "I444", "BGR3", "I422", "I40A",
                                 "I42A", "YUVA", "AYUV", "I010", "P010", "I210", "I412",
                                 "YA2L", "P216", "P416", "v210", "R10l", "None"};
    const int p8 = LUMA_PLANE8,
              layouts[] = {-1,        p8,        p8, LUMA_YVYU, LUMA_YUY2, LUMA_UYVY, LUMA_RGBA,
                           LUMA_BGRA, LUMA_BGRX, p8, p8,        -1,        p8};
    for (int format = -1; format <= 1000; format += format < 30 ? 1 : 970) {
        const bool listed = format >= 0 && format <= 26;
        EXPECT_EQ(
            luma_layout_for_format(static_cast<video_format>(format)).value_or(luma_layout(-1)),
            format >= 0 && format <= 12 ? layouts[format] : -1)
            << format;
        EXPECT_STREQ(video_format_short_name(format), listed ? names[format] : "None") << format;
    }
}

} // namespace

#include "intake/downscale_luma.h"
#include "intake/luma_rows.h"

#include "guarded_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr luma_layout all_layouts[] = {LUMA_PLANE8, LUMA_BGRA, LUMA_RGBA, LUMA_BGRX,
                                       LUMA_UYVY,   LUMA_YUY2, LUMA_YVYU};

int64_t row_bytes(luma_layout layout, int64_t width) {
    switch (layout) {
    case LUMA_PLANE8:
        return width;
    case LUMA_BGRA:
    case LUMA_RGBA:
    case LUMA_BGRX:
        return 4 * width;
    case LUMA_UYVY:
    case LUMA_YUY2:
    case LUMA_YVYU:
        return 4 * ((width + 1) / 2);
    }
    return 0;
}

// Straight from the layout table, with no shared code.
uint8_t reference_luma(luma_layout layout, const uint8_t *row, int64_t x) {
    const uint8_t *pixel = row + 4 * x;
    const uint8_t *pair = row + 4 * (x / 2);
    switch (layout) {
    case LUMA_PLANE8:
        return row[x];
    case LUMA_BGRA:
    case LUMA_BGRX:
        return static_cast<uint8_t>((77u * pixel[2] + 150u * pixel[1] + 29u * pixel[0]) >> 8);
    case LUMA_RGBA:
        return static_cast<uint8_t>((77u * pixel[0] + 150u * pixel[1] + 29u * pixel[2]) >> 8);
    case LUMA_UYVY:
        return pair[x % 2 == 0 ? 1 : 3];
    case LUMA_YUY2:
    case LUMA_YVYU:
        return pair[x % 2 == 0 ? 0 : 2];
    }
    return 0;
}

// The sampling rule with a 64-bit division per pixel.
void reference_downscale(luma_layout layout, uint8_t *dst, int32_t dst_width, int32_t dst_height,
                         int32_t dst_stride, const uint8_t *src, int32_t src_width,
                         int32_t src_height, int32_t src_linesize, bool flip) {
    for (int64_t y = 0; y < dst_height; ++y) {
        int64_t sy = y * src_height / dst_height;
        if (flip) {
            sy = src_height - 1 - sy;
        }
        const uint8_t *row = src + sy * src_linesize;
        for (int64_t x = 0; x < dst_width; ++x) {
            dst[y * dst_stride + x] = reference_luma(layout, row, x * src_width / dst_width);
        }
    }
}

struct frame_case {
    int32_t src_width;
    int32_t src_height;
    int32_t dst_width;
    int32_t dst_height;
    int32_t src_padding = 0;
    int32_t dst_padding = 0;
};

std::string describe(luma_layout layout, const frame_case &c, bool flip, guarded_buffer::guard g) {
    return "layout " + std::to_string(layout) + ", " + std::to_string(c.src_width) + "x" +
           std::to_string(c.src_height) + " (+" + std::to_string(c.src_padding) + ") to " +
           std::to_string(c.dst_width) + "x" + std::to_string(c.dst_height) + " (+" +
           std::to_string(c.dst_padding) + "), flip " + std::to_string(flip) + ", guard " +
           (g == guarded_buffer::guard::after ? "after" : "before");
}

// Converts one frame whose plane sits against a guard page and compares the whole destination
// buffer, margins and row padding included, with the reference.
void expect_matches_reference(luma_layout layout, const frame_case &c, bool flip,
                              guarded_buffer::guard g, std::mt19937 &random) {
    SCOPED_TRACE(describe(layout, c, flip, g));
    const int64_t bytes_per_row = row_bytes(layout, c.src_width);
    const int32_t linesize = static_cast<int32_t>(bytes_per_row + c.src_padding);
    const size_t plane_size = static_cast<size_t>(linesize) * (c.src_height - 1) + bytes_per_row;
    guarded_buffer plane(plane_size, g);
    ASSERT_TRUE(plane.ok());
    for (size_t i = 0; i < plane_size; ++i) {
        plane.data()[i] = static_cast<uint8_t>(random());
    }

    constexpr size_t margin = 16;
    const int32_t dst_stride = c.dst_width + c.dst_padding;
    const size_t image_size = static_cast<size_t>(dst_stride) * c.dst_height;
    std::vector<uint8_t> expected(image_size + 2 * margin);
    for (size_t i = 0; i < expected.size(); ++i) {
        expected[i] = static_cast<uint8_t>(i * 131 + 7);
    }
    std::vector<uint8_t> actual = expected;

    reference_downscale(layout, expected.data() + margin, c.dst_width, c.dst_height, dst_stride,
                        plane.data(), c.src_width, c.src_height, linesize, flip);
    ASSERT_TRUE(downscale_luma(layout, actual.data() + margin, c.dst_width, c.dst_height,
                               dst_stride, plane.data(), c.src_width, c.src_height, linesize,
                               flip));
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i]) {
            const int64_t at = static_cast<int64_t>(i) - static_cast<int64_t>(margin);
            FAIL() << "first difference at buffer offset " << at << " (row "
                   << (at >= 0 ? at / dst_stride : -1) << ", column "
                   << (at >= 0 ? at % dst_stride : at) << "): expected " << int(expected[i])
                   << ", got " << int(actual[i]);
        }
    }
}

void expect_all_layouts_match(const frame_case &c, std::mt19937 &random) {
    for (const luma_layout layout : all_layouts) {
        for (const bool flip : {false, true}) {
            for (const auto g : {guarded_buffer::guard::after, guarded_buffer::guard::before}) {
                expect_matches_reference(layout, c, flip, g, random);
            }
        }
    }
}

TEST(DownscaleLuma, MatchesReferenceOnChosenSizes) {
    const frame_case cases[] = {
        {1, 1, 1, 1},                  // smallest frame
        {7, 5, 1, 1},                  // one sample of a larger frame
        {1, 9, 1, 3},                  // one column
        {17, 13, 17, 13, 0, 0},        // same size, odd width
        {33, 7, 33, 7, 13, 3},         // same size, padded
        {64, 36, 32, 18},              // exact halves
        {65, 37, 32, 18, 1, 1},        // halves plus one: still columns 2x
        {130, 9, 65, 4, 64, 0},        // halves with an odd destination width
        {131, 9, 65, 4},               // and one more source column
        {132, 9, 65, 4},               // two more: no longer columns 2x
        {66, 5, 65, 5},                // one column more than the destination
        {67, 5, 65, 5},                // two more: no longer one to one
        {40, 30, 30, 22, 5, 2},        // 4:3
        {5, 3, 3, 2},                  // odd 4:2:2 width
        {5, 4, 4, 3, 1, 0},            // odd 4:2:2 width, 5:4
        {15, 6, 8, 3},                 // 15:8
        {100, 50, 37, 19, 3, 7},       // awkward ratio
        {3, 2, 7, 5},                  // more destination than source
        {1, 1, 3, 3},                  // one pixel spread out
        {5000, 3, 4500, 2, 0, 5},      // offset table in several chunks
        {4200, 2, 2100, 1},            // wide halves
        {4100, 2, 4100, 2, 2, 0},      // wide same size
        {1280, 720, 960, 540},         // common camera size, non-integer ratio
        {1920, 1081, 960, 540, 64, 0}, // odd height
    };
    std::mt19937 random(1234);
    for (const frame_case &c : cases) {
        expect_all_layouts_match(c, random);
    }
}

TEST(DownscaleLuma, MatchesReferenceOnRandomSizes) {
    std::mt19937 random(99);
    auto between = [&](int32_t low, int32_t high) {
        return std::uniform_int_distribution<int32_t>(low, high)(random);
    };
    for (int i = 0; i < 150; ++i) {
        frame_case c{};
        c.src_width = between(1, 300);
        c.src_height = between(1, 24);
        // Favour the widths with fast paths: same size, halves and halves plus one.
        switch (between(0, 3)) {
        case 0:
            c.dst_width = c.src_width;
            break;
        case 1:
            c.dst_width = std::max(1, c.src_width / 2);
            break;
        default:
            c.dst_width = between(1, c.src_width + 4);
            break;
        }
        c.dst_height = between(1, c.src_height + 2);
        c.src_padding = between(0, 2) * between(0, 9);
        c.dst_padding = between(0, 1) * between(0, 5);
        expect_all_layouts_match(c, random);
    }
}

// Each kernel set this CPU runs, at every width up to a few vector lengths, with the source ending
// exactly where the mapped pixels end.
TEST(LumaRowKernels, EveryKernelSetMatchesTheLayoutRule) {
    std::mt19937 random(7);
    for (const luma_row_kernels *kernels : supported_row_kernels()) {
        SCOPED_TRACE(kernels->name);
        for (int32_t width = 0; width <= 140; ++width) {
            SCOPED_TRACE("width " + std::to_string(width));
            auto run = [&](size_t source_bytes, auto call, auto expected_at) {
                guarded_buffer source(source_bytes, guarded_buffer::guard::after);
                ASSERT_TRUE(source.ok());
                for (size_t i = 0; i < source_bytes; ++i) {
                    source.data()[i] = static_cast<uint8_t>(random());
                }
                std::vector<uint8_t> dst(static_cast<size_t>(width) + 1, 0xEE);
                call(dst.data(), source.data());
                for (int32_t x = 0; x < width; ++x) {
                    ASSERT_EQ(dst[x], expected_at(source.data(), x)) << "column " << x;
                }
                EXPECT_EQ(dst[width], 0xEE);
            };
            const size_t w = static_cast<size_t>(width);
            run(
                2 * w, [&](uint8_t *d, const uint8_t *s) { kernels->halve_plane8(d, s, width); },
                [](const uint8_t *s, int32_t x) { return reference_luma(LUMA_PLANE8, s, 2 * x); });
            struct byte_order {
                luma_weights weights;
                luma_layout layout;
            };
            for (const byte_order &order :
                 {byte_order{bgr_weights, LUMA_BGRA}, byte_order{rgb_weights, LUMA_RGBA}}) {
                const luma_weights weights = order.weights;
                const luma_layout layout = order.layout;
                run(
                    8 * w,
                    [&](uint8_t *d, const uint8_t *s) {
                        kernels->halve_packed32(d, s, width, weights);
                    },
                    [&](const uint8_t *s, int32_t x) { return reference_luma(layout, s, 2 * x); });
                run(
                    4 * w,
                    [&](uint8_t *d, const uint8_t *s) {
                        kernels->copy_packed32(d, s, width, weights);
                    },
                    [&](const uint8_t *s, int32_t x) { return reference_luma(layout, s, x); });
            }
            for (int32_t even = 0; even < 4; ++even) {
                run(
                    4 * w,
                    [&](uint8_t *d, const uint8_t *s) {
                        kernels->halve_packed422(d, s, width, even);
                    },
                    [&](const uint8_t *s, int32_t x) { return s[4 * x + even]; });
                for (int32_t odd = 0; odd < 4; ++odd) {
                    run(
                        4 * ((w + 1) / 2),
                        [&](uint8_t *d, const uint8_t *s) {
                            kernels->copy_packed422(d, s, width, even, odd);
                        },
                        [&](const uint8_t *s, int32_t x) {
                            return s[4 * (x / 2) + (x % 2 == 0 ? even : odd)];
                        });
                }
            }
        }
    }
}

// The general-width gathers of each kernel set, planned as the downscaler plans them, on the first
// and the last chunk of a row whose last byte sits against a guard page.
TEST(LumaRowKernels, EveryKernelSetGathersLikeTheRule) {
    struct widths {
        int32_t source, destination;
    };
    const widths cases[] = {{1280, 960}, {1920, 1440}, {3840, 2560}, {40, 30},
                            {300, 100},  {301, 97},    {17, 5},      {3, 7},
                            {1000, 999}, {64, 17},     {2000, 450},  {4000, 600}};
    struct sampling {
        const char *name;
        int32_t sample_bytes;
        int32_t even, odd; // luma bytes of 4:2:2 pairs; -1 for one byte or one 4-byte pixel each
    };
    const sampling samplings[] = {{"plane8", 1, -1, -1},
                                  {"packed32", 4, -1, -1},
                                  {"yuy2", 1, 0, 2},
                                  {"uyvy", 1, 1, 3},
                                  {"swapped pair", 1, 3, 0}};
    std::mt19937 random(3);
    for (const luma_row_kernels *kernels : supported_row_kernels()) {
        SCOPED_TRACE(kernels->name);
        for (const widths &w : cases) {
            for (const sampling &how : samplings) {
                SCOPED_TRACE(std::string(how.name) + " " + std::to_string(w.source) + " to " +
                             std::to_string(w.destination));
                const bool pairs = how.even >= 0;
                const int64_t bytes = pairs                   ? 4 * ((int64_t{w.source} + 1) / 2)
                                      : how.sample_bytes == 4 ? 4 * int64_t{w.source}
                                                              : w.source;
                guarded_buffer row(static_cast<size_t>(bytes), guarded_buffer::guard::after);
                ASSERT_TRUE(row.ok());
                for (size_t i = 0; i < row.size(); ++i) {
                    row.data()[i] = static_cast<uint8_t>(random());
                }
                const int32_t count = std::min(w.destination, table_columns);
                for (const int32_t first : {0, w.destination - count}) {
                    std::vector<uint32_t> offsets(static_cast<size_t>(count));
                    for (int32_t i = 0; i < count; ++i) {
                        const int64_t sx = int64_t{first + i} * w.source / w.destination;
                        offsets[i] = static_cast<uint32_t>(
                            pairs ? 4 * (sx / 2) + (sx % 2 == 0 ? how.even : how.odd)
                                  : sx * how.sample_bytes);
                    }
                    shuffle_plan plan;
                    const shuffle_plan *planned =
                        kernels->shuffles && build_shuffle_plan(plan, offsets.data(), count,
                                                                how.sample_bytes, bytes)
                            ? &plan
                            : nullptr;
                    std::vector<uint8_t> dst(static_cast<size_t>(count) + 1, 0xEE);
                    if (how.sample_bytes == 4) {
                        kernels->gather_packed32(dst.data(), row.data(), offsets.data(), count,
                                                 planned, rgb_weights);
                    } else {
                        kernels->gather_bytes(dst.data(), row.data(), offsets.data(), count,
                                              planned);
                    }
                    for (int32_t i = 0; i < count; ++i) {
                        const uint8_t *at = row.data() + offsets[i];
                        const uint8_t expected =
                            how.sample_bytes == 4 ? reference_luma(LUMA_RGBA, at, 0) : *at;
                        ASSERT_EQ(dst[i], expected) << "column " << first + i;
                    }
                    EXPECT_EQ(dst[count], 0xEE);
                }
            }
        }
    }
}

TEST(DownscaleLuma, ColourWeightsGiveTheKnownGreys) {
    struct colour {
        uint8_t r, g, b;
        uint8_t luma;
    };
    const colour colours[] = {
        {255, 255, 255, 255}, {128, 128, 128, 128}, {255, 0, 0, 76},
        {0, 255, 0, 149},     {0, 0, 255, 28},      {0, 0, 0, 0},
    };
    for (const colour &c : colours) {
        const uint8_t bgra[4] = {c.b, c.g, c.r, 0x5A};
        const uint8_t rgba[4] = {c.r, c.g, c.b, 0xA5};
        EXPECT_EQ(luma_from_bgr(bgra), c.luma);
        EXPECT_EQ(luma_from_rgb(rgba), c.luma);
    }
}

// Inlining the known samplers must not change what the pointer would give; any other sampler is
// called once per destination pixel.
TEST(DownscaleLuma, OtherSamplersGoThroughThePointer) {
    static int calls = 0;
    const luma_sampler wrapped_bgr = [](const uint8_t *pixel) {
        ++calls;
        return luma_from_bgr(pixel);
    };
    const luma_sampler fourth_byte = [](const uint8_t *pixel) { return pixel[3]; };

    std::mt19937 random(11);
    for (const std::pair<int32_t, int32_t> &widths : {std::pair{64, 64}, {64, 32}, {64, 27}}) {
        const int32_t src_width = widths.first, dst_width = widths.second;
        const int32_t src_height = 9, dst_height = 5, linesize = 4 * src_width + 4;
        std::vector<uint8_t> src(static_cast<size_t>(linesize) * src_height);
        for (uint8_t &byte : src) {
            byte = static_cast<uint8_t>(random());
        }
        const size_t dst_size = static_cast<size_t>(dst_width) * dst_height;
        std::vector<uint8_t> inline_bgr(dst_size), through_pointer(dst_size), alpha(dst_size);
        ASSERT_TRUE(downscale_packed32(inline_bgr.data(), dst_width, dst_height, dst_width,
                                       src.data(), src_width, src_height, linesize, luma_from_bgr,
                                       true));
        calls = 0;
        ASSERT_TRUE(downscale_packed32(through_pointer.data(), dst_width, dst_height, dst_width,
                                       src.data(), src_width, src_height, linesize, wrapped_bgr,
                                       true));
        EXPECT_EQ(calls, dst_width * dst_height);
        EXPECT_EQ(through_pointer, inline_bgr);

        ASSERT_TRUE(downscale_packed32(alpha.data(), dst_width, dst_height, dst_width, src.data(),
                                       src_width, src_height, linesize, fourth_byte, false));
        for (int32_t y = 0; y < dst_height; ++y) {
            for (int32_t x = 0; x < dst_width; ++x) {
                const int64_t sx = int64_t{x} * src_width / dst_width;
                const int64_t sy = int64_t{y} * src_height / dst_height;
                ASSERT_EQ(alpha[y * dst_width + x], src[sy * linesize + 4 * sx + 3]);
            }
        }
    }
}

TEST(DownscaleLuma, PackedPairsReadTheirLumaBytes) {
    // Odd width 5: three 4-byte groups, the last one half used.
    const uint8_t row[12] = {10, 11, 12, 13, 20, 21, 22, 23, 30, 31, 32, 33};
    struct expectation {
        luma_layout layout;
        uint8_t luma[5];
    };
    const expectation expectations[] = {
        {LUMA_YUY2, {10, 12, 20, 22, 30}},
        {LUMA_YVYU, {10, 12, 20, 22, 30}},
        {LUMA_UYVY, {11, 13, 21, 23, 31}},
    };
    for (const expectation &e : expectations) {
        uint8_t dst[5] = {};
        ASSERT_TRUE(downscale_luma(e.layout, dst, 5, 1, 5, row, 5, 1, 12, false));
        EXPECT_EQ(0, std::memcmp(dst, e.luma, 5)) << "layout " << e.layout;
        EXPECT_FALSE(downscale_luma(e.layout, dst, 5, 1, 5, row, 5, 1, 11, false));
    }
}

TEST(DownscaleLuma, FlipSamplesRowsFromTheBottom) {
    // Row r holds the value 10 r; 8 rows to 3 sample rows 0, 2, 5 or, flipped, 7, 5, 2.
    std::vector<uint8_t> src(8 * 4);
    for (int r = 0; r < 8; ++r) {
        std::memset(src.data() + 4 * r, 10 * r, 4);
    }
    uint8_t upright[3] = {}, flipped[3] = {};
    ASSERT_TRUE(downscale_plane8(upright, 1, 3, 1, src.data(), 4, 8, 4, false));
    ASSERT_TRUE(downscale_plane8(flipped, 1, 3, 1, src.data(), 4, 8, 4, true));
    EXPECT_EQ(std::vector<uint8_t>(upright, upright + 3), (std::vector<uint8_t>{0, 20, 50}));
    EXPECT_EQ(std::vector<uint8_t>(flipped, flipped + 3), (std::vector<uint8_t>{70, 50, 20}));
}

struct refused_call {
    const char *what;
    luma_layout layout;
    int32_t dst_width, dst_height, dst_stride;
    int32_t src_width, src_height, src_linesize;
    bool null_dst = false;
    bool null_src = false;
};

TEST(DownscaleLuma, RefusedCallsWriteNothing) {
    const refused_call calls[] = {
        {"null destination", LUMA_PLANE8, 2, 2, 2, 4, 4, 4, true, false},
        {"null source", LUMA_BGRA, 2, 2, 2, 4, 4, 16, false, true},
        {"zero destination width", LUMA_PLANE8, 0, 2, 2, 4, 4, 4},
        {"zero destination height", LUMA_YUY2, 2, 0, 2, 4, 4, 8},
        {"negative destination width", LUMA_RGBA, -2, 2, 2, 4, 4, 16},
        {"zero source width", LUMA_PLANE8, 2, 2, 2, 0, 4, 4},
        {"negative source height", LUMA_UYVY, 2, 2, 2, 4, -4, 8},
        {"stride below width", LUMA_PLANE8, 3, 2, 2, 4, 4, 4},
        {"negative stride", LUMA_BGRX, 2, 2, -2, 4, 4, 16},
        {"plane8 pitch one short", LUMA_PLANE8, 2, 2, 2, 4, 4, 3},
        {"packed32 pitch one short", LUMA_BGRA, 2, 2, 2, 4, 4, 15},
        {"packed422 pitch one short", LUMA_YUY2, 2, 2, 2, 4, 4, 7},
        {"odd packed422 pitch one short", LUMA_YVYU, 2, 2, 2, 5, 4, 11},
        {"negative pitch", LUMA_PLANE8, 2, 2, 2, 4, 4, -4},
        {"packed32 too wide", LUMA_RGBA, 2, 2, 2, 536'870'912, 4, INT32_MAX},
        {"packed32 pitch past 32 bits", LUMA_BGRA, 2, 2, 2, 536'870'911, 4, INT32_MAX - 4},
        {"packed422 too wide", LUMA_UYVY, 2, 2, 2, 1'073'741'824, 4, INT32_MAX},
        {"packed422 widest needs 2^31", LUMA_YUY2, 2, 2, 2, 1'073'741'823, 4, INT32_MAX},
        {"unknown layout", static_cast<luma_layout>(7), 2, 2, 2, 4, 4, 16},
        {"negative layout", static_cast<luma_layout>(-1), 2, 2, 2, 4, 4, 16},
    };
    std::vector<uint8_t> src(64, 0x33);
    for (const refused_call &c : calls) {
        std::vector<uint8_t> dst(64, 0xC7);
        EXPECT_FALSE(downscale_luma(c.layout, c.null_dst ? nullptr : dst.data(), c.dst_width,
                                    c.dst_height, c.dst_stride, c.null_src ? nullptr : src.data(),
                                    c.src_width, c.src_height, c.src_linesize, false))
            << c.what;
        EXPECT_EQ(dst, std::vector<uint8_t>(64, 0xC7)) << c.what;
    }
}

TEST(DownscaleLuma, BadSamplerOrOffsetsAreRefused) {
    std::vector<uint8_t> src(64, 0x33), dst(16, 0xC7);
    EXPECT_FALSE(downscale_packed32(dst.data(), 2, 2, 2, src.data(), 2, 2, 8, nullptr, false));
    for (const auto &[even, odd] : {std::pair{-1, 2}, {4, 2}, {0, -1}, {0, 4}}) {
        EXPECT_FALSE(
            downscale_packed422(dst.data(), 2, 2, 2, src.data(), 4, 2, 8, even, odd, false))
            << even << ", " << odd;
    }
    EXPECT_EQ(dst, std::vector<uint8_t>(16, 0xC7));
}

// The width limits sit where the pitch rule stops fitting 32 bits; at the limits the rule still
// holds and a one-pixel destination reads only the first pixel.
TEST(DownscaleLuma, WidestAcceptedSources) {
    struct widest {
        luma_layout layout;
        int32_t src_width, src_linesize;
        uint8_t luma;
    };
    const uint8_t first_pixel[4] = {200, 100, 50, 9};
    const widest cases[] = {
        {LUMA_PLANE8, INT32_MAX, INT32_MAX, 200},
        {LUMA_BGRA, 536'870'911, 2'147'483'644, (77 * 50 + 150 * 100 + 29 * 200) >> 8},
        {LUMA_UYVY, 1'073'741'822, 2'147'483'644, 100},
    };
    for (const widest &c : cases) {
        uint8_t dst = 0;
        EXPECT_TRUE(downscale_luma(c.layout, &dst, 1, 1, 1, first_pixel, c.src_width, 1,
                                   c.src_linesize, false))
            << "layout " << c.layout;
        EXPECT_EQ(dst, c.luma) << "layout " << c.layout;
    }
}

// Row offsets beyond 2^31 bytes, in the source and the destination, on sparse mappings.
TEST(DownscaleLuma, RowOffsetsPastThirtyTwoBits) {
    const int32_t pitch = 1'500'000'000;
    const size_t span = static_cast<size_t>(pitch) * 2 + 64;
    void *src_map = mmap(nullptr, span, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    void *dst_map = mmap(nullptr, span, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (src_map == MAP_FAILED || dst_map == MAP_FAILED) {
        if (src_map != MAP_FAILED) {
            munmap(src_map, span);
        }
        if (dst_map != MAP_FAILED) {
            munmap(dst_map, span);
        }
        GTEST_SKIP() << "no room for a sparse 3 GB mapping";
    }
    uint8_t *src = static_cast<uint8_t *>(src_map);
    uint8_t *dst = static_cast<uint8_t *>(dst_map);
    for (int row = 0; row < 3; ++row) {
        src[static_cast<size_t>(row) * pitch] = static_cast<uint8_t>(40 + row);
    }
    for (const bool flip : {false, true}) {
        ASSERT_TRUE(downscale_plane8(dst, 1, 3, pitch, src, 1, 3, pitch, flip));
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(dst[static_cast<size_t>(row) * pitch], flip ? 42 - row : 40 + row)
                << "flip " << flip << ", row " << row;
        }
    }
    munmap(src_map, span);
    munmap(dst_map, span);
}

} // namespace

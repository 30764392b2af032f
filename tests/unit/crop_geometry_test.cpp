#include "detect/crop_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>

namespace {

const float nan_f = NAN, inf_f = INFINITY, neg_inf = -INFINITY;

tag_quad square_tag(float x, float y, float h) {
    return {x, y, {{x - h, y - h}, {x + h, y - h}, {x + h, y + h}, {x - h, y + h}}};
}

tag_quad with_corner_x(tag_quad q, int corner, float x) {
    q.corners[corner].x = x;
    return q;
}

auto edges(const crop_target &t) {
    return std::tuple(t.valid, t.center_x, t.center_y, t.width, t.height);
}

// Detection 640x480 of a 1280x960 source; 20-pixel tags whose facing corners
// (120, 120) and (400, 300) make a 560x360 box of source pixels around
// (520, 420); inset 20 / 6 plus padding.
const tag_quad pair_a = square_tag(110, 110, 10), pair_b = square_tag(410, 310, 10);

// Kept inside at the left and right, limited to 95 % of the source, raised to 5 %, and with no
// aspect the source's, its inset cut to what the box allows.
TEST(CropRectFromBox, WorkedBoxes) {
    const float wide = 16.0f / 9.0f;
    const struct {
        float box[4], aspect, inset, want[4]; // box: min x, min y, max x, max y; want: cx, cy, w, h
    } cases[] = {
        {.box = {100, 50, 300, 60}, .aspect = wide, .inset = 5, .want = {400, 110, 390, 220}},
        {.box = {10, 200, 40, 300}, .aspect = wide, .inset = 0, .want = {178, 500, 356, 200}},
        {.box = {0, 0, 959, 539}, .aspect = wide, .inset = 0, .want = {959, 539, 1824, 1026}},
        {.box = {900, 500, 959, 539}, .aspect = wide, .inset = 0, .want = {1850.5f, 1039, 139, 78}},
        {.box = {100, 100, 101, 101}, .aspect = wide, .inset = 0, .want = {201, 201, 96, 54}},
        {.box = {100, 100, 300, 200}, .aspect = nan_f, .inset = 1000, .want = {400, 300, 96, 54}},
    };
    for (const auto &c : cases) {
        crop_target t{};
        EXPECT_TRUE(crop_rect_from_box(c.box[0], c.box[1], c.box[2], c.box[3], 960, 540, 1920, 1080,
                                       c.aspect, c.inset, &t));
        EXPECT_EQ(edges(t), std::tuple(true, c.want[0], c.want[1], c.want[2], c.want[3]))
            << c.box[0];
    }
    EXPECT_FALSE(crop_rect_from_box(100, 50, 300, 60, 960, 540, 1920, 1080, 1.5f, 0, nullptr));
}

// Toward (10, 0) corners 1 and 2 tie and the lower index wins; a target on the centre gives it.
TEST(TagInnerCorner, FarthestCornerTowardTarget) {
    const struct {
        float tx, ty, x, y;
    } cases[] = {
        {.tx = 10, .ty = 0, .x = 1, .y = -1},
        {.tx = -10, .ty = -10, .x = -1, .y = -1},
        {.tx = 3, .ty = 5, .x = 1, .y = 1},
        {.tx = 0, .ty = 0, .x = 0, .y = 0},
    };
    for (const auto &c : cases) {
        const tag_point p = tag_inner_corner(square_tag(0, 0, 1), c.tx, c.ty);
        EXPECT_EQ(std::tuple(p.x, p.y), std::tuple(c.x, c.y)) << c.tx << "," << c.ty;
    }
}

// Canvas shape: without a whole canvas the source's 4/3, else the canvas's 16/9. Source shape:
// the source's 4/3 whatever the canvas. Bad padding counts as 0.
TEST(CropTargetFromPair, AspectAndPadding) {
    constexpr crop_shape_kind canvas = crop_shape_kind::canvas, source = crop_shape_kind::source;
    const struct {
        float pad;
        uint32_t cw, ch;
        crop_shape_kind shape;
        float w, h;
    } cases[] = {
        {.pad = 1, .cw = 0, .ch = 0, .shape = canvas, .w = 552, .h = 414},
        {.pad = 1, .cw = 1920, .ch = 0, .shape = canvas, .w = 552, .h = 414},
        {.pad = 1, .cw = 1920, .ch = 1080, .shape = canvas, .w = 632, .h = 356},
        {.pad = 0, .cw = 1920, .ch = 1080, .shape = canvas, .w = 634, .h = 356},
        {.pad = nan_f, .cw = 1920, .ch = 1080, .shape = canvas, .w = 634, .h = 356},
        {.pad = neg_inf, .cw = 1920, .ch = 1080, .shape = canvas, .w = 634, .h = 356},
        {.pad = inf_f, .cw = 1920, .ch = 1080, .shape = canvas, .w = 634, .h = 356},
        {.pad = -5, .cw = 1920, .ch = 1080, .shape = canvas, .w = 634, .h = 356},
        {.pad = 1, .cw = 1920, .ch = 1080, .shape = source, .w = 552, .h = 414},
        {.pad = 1, .cw = 0, .ch = 0, .shape = source, .w = 552, .h = 414},
    };
    for (const auto &c : cases)
        for (const auto &[a, b] : {std::pair{pair_a, pair_b}, {pair_b, pair_a}})
            EXPECT_EQ(
                edges(crop_target_from_pair(a, b, 640, 480, 1280, 960, c.pad, c.cw, c.ch, c.shape)),
                std::tuple(true, 520.0f, 420.0f, c.w, c.h))
                << c.pad << " " << c.cw << "x" << c.ch << " shape " << static_cast<int>(c.shape);
}

TEST(CropTargetFromPair, DegenerateInputsAreInvalid) {
    const struct {
        const char *name;
        tag_quad a, b;
    } cases[] = {
        {.name = "overlapping", .a = pair_a, .b = pair_a},
        {.name = "closer than one side", .a = pair_a, .b = square_tag(135, 110, 10)},
        {.name = "touching corners", .a = pair_a, .b = square_tag(130, 130, 10)},
        {.name = "NaN inner corner", .a = with_corner_x(pair_a, 2, nan_f), .b = pair_b},
        {.name = "NaN outer corner", .a = pair_a, .b = with_corner_x(pair_b, 2, nan_f)},
        {.name = "infinite corner", .a = with_corner_x(pair_a, 0, neg_inf), .b = pair_b},
        {.name = "NaN centre", .a = pair_a, .b = square_tag(nan_f, 310, 10)},
    };
    for (const auto &c : cases)
        EXPECT_FALSE(
            crop_target_from_pair(c.a, c.b, 640, 480, 1280, 960, 0, 0, 0, crop_shape_kind::canvas)
                .valid)
            << c.name;
    const int32_t bad_sizes[][4] = {
        {0, 480, 1280, 960}, {640, -480, 1280, 960}, {640, 480, 0, 960}, {640, 480, 1280, -960}};
    for (const auto &z : bad_sizes)
        EXPECT_FALSE(crop_target_from_pair(pair_a, pair_b, z[0], z[1], z[2], z[3], 0, 0, 0,
                                           crop_shape_kind::canvas)
                         .valid)
            << z[0] << "x" << z[1] << " of " << z[2] << "x" << z[3];
}

// Random pairs of odd shape, far outside the frame or huge, with odd frame sizes and padding: a
// valid result always has whole edges inside the source.
TEST(CropTargetFromPair, AnyValidResultIsWellFormed) {
    std::mt19937 rng(12345);
    const auto unit = [&] { return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng); };
    const auto size = [&] { return static_cast<int32_t>(rng() % 4000 + 1); };
    const float specials[] = {0.0f, 1e30f, -1e30f, 3e38f};
    int valid = 0;
    for (int i = 0; i < 2000; ++i) {
        tag_quad tags[2];
        for (tag_quad &t : tags) {
            t = square_tag(unit() * 1400 - 200, unit() * 1400 - 200, 0);
            for (tag_point &p : t.corners)
                p = {t.center_x + (unit() - 0.5f) * 80.0f, t.center_y + (unit() - 0.5f) * 80.0f};
            if (unit() < 0.05f)
                t.corners[rng() % 4].y = specials[rng() % 4];
        }
        const int32_t sw = size(), sh = size();
        const float padding = unit() < 0.1f ? specials[rng() % 4] : unit() * 500.0f;
        const crop_target t =
            crop_target_from_pair(tags[0], tags[1], size() % 999 + 1, size() % 999 + 1, sw, sh,
                                  padding, rng() % 3 ? size() : 0, size(),
                                  rng() % 2 ? crop_shape_kind::canvas : crop_shape_kind::source);
        const float x0 = t.center_x - t.width * 0.5f, x1 = t.center_x + t.width * 0.5f;
        const float y0 = t.center_y - t.height * 0.5f, y1 = t.center_y + t.height * 0.5f;
        valid += t.valid;
        ASSERT_TRUE(!t.valid || (x0 == std::round(x0) && x1 == std::round(x1) &&
                                 y0 == std::round(y0) && y1 == std::round(y1) && 0 <= x0 &&
                                 x0 < x1 && x1 <= sw && 0 <= y0 && y0 < y1 && y1 <= sh))
            << i;
    }
    EXPECT_GT(valid, 100);
}

} // namespace

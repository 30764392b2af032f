// The setup view's geometry: what a tick hands the render, and the triangles drawn for it,
// checked by rasterising them with the plain reference rasteriser.
#include "overlay_raster.h"
#include "zoom/overlay_geometry.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <set>

namespace {

seen_marker make_marker(marker_role role, int32_t id, float cx, float cy, float side,
                        float angle = 0.0f) {
    seen_marker m{id, role, {cx, cy, {}}};
    const float c = std::cos(angle), s = std::sin(angle), h = side / 2;
    const float local[4][2] = {{-h, -h}, {h, -h}, {h, h}, {-h, h}};
    for (int i = 0; i < 4; ++i)
        m.quad.corners[i] = {cx + c * local[i][0] - s * local[i][1],
                             cy + s * local[i][0] + c * local[i][1]};
    return m;
}

overlay_data picture(int32_t w, int32_t h) {
    overlay_data d;
    d.width = w;
    d.height = h;
    return d;
}

void add(overlay_data &d, const seen_marker &m) {
    d.markers.markers[d.markers.count++] = m;
}

overlay_mesh build(const overlay_data &d, int32_t w = 0, int32_t h = 0) {
    overlay_mesh mesh;
    build_overlay(d, w ? w : d.width, h ? h : d.height, mesh);
    return mesh;
}

bool at(const std::vector<uint8_t> &mask, int w, float x, float y) {
    return mask[static_cast<size_t>(std::floor(y)) * w + static_cast<size_t>(std::floor(x))] != 0;
}

overlay_point point(tag_point p) {
    return {p.x, p.y};
}

float segment_distance(overlay_point p, overlay_point a, overlay_point b) {
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float len2 = dx * dx + dy * dy;
    const float u =
        len2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0f, 1.0f) : 0.0f;
    return std::hypot(p.x - a.x - u * dx, p.y - a.y - u * dy);
}

// Bounding box of a mask's set pixels: {x0, y0, x1, y1}, inclusive; x0 > x1 when empty.
std::array<int, 4> mask_box(const std::vector<uint8_t> &mask, int w, int h) {
    std::array<int, 4> box{w, h, -1, -1};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (mask[static_cast<size_t>(y) * w + x]) {
                box[0] = std::min(box[0], x);
                box[1] = std::min(box[1], y);
                box[2] = std::max(box[2], x);
                box[3] = std::max(box[3], y);
            }
    return box;
}

std::vector<uint8_t> layer_mask(const overlay_mesh &mesh, overlay_layer layer, int w, int h) {
    return coverage(layer_triangles(mesh, layer), w, h);
}

void expect_rect(const overlay_rect &got, const overlay_rect &want) {
    EXPECT_EQ(got.valid, want.valid);
    EXPECT_FLOAT_EQ(got.left, want.left);
    EXPECT_FLOAT_EQ(got.top, want.top);
    EXPECT_FLOAT_EQ(got.width, want.width);
    EXPECT_FLOAT_EQ(got.height, want.height);
}

// What the tick hands the render: the pass's markers in the pass's frame, the target carried
// over from its own frame, the crop shown as a rectangle, and the loss.
TEST(SetupViewData, PutsWhatThePassSawAndTheCropsInThePassFrame) {
    pass_markers markers{};
    markers.count = 1;
    markers.markers[0] = make_marker(marker_role::b, 1, 100, 50, 20);
    markers.source_width = 1280;
    markers.source_height = 720;
    tracking_status status{};
    status.target_valid = true;
    status.target_rect = {960, 540, 640, 360};
    status.target_frame_width = 1920;
    status.target_frame_height = 1080;
    status.tags_lost = true;
    const crop_parameters shown{0.5f, 0.25f, 0.125f, 0.5f, 0.0f};
    struct row {
        const char *name;
        int32_t pass_w = 0, pass_h = 0, frame_w = 640, frame_h = 360, want_w, want_h;
    };
    const row rows[] = {
        {.name = "pass frame", .pass_w = 1280, .pass_h = 720, .want_w = 1280, .want_h = 720},
        {.name = "no pass yet", .want_w = 640, .want_h = 360},
        {.name = "no frame", .frame_w = 0, .frame_h = 0, .want_w = 0, .want_h = 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        markers.source_width = r.pass_w;
        markers.source_height = r.pass_h;
        const overlay_data d = setup_view_data(markers, status, shown, r.frame_w, r.frame_h);
        EXPECT_EQ(std::pair(d.width, d.height), std::pair(r.want_w, r.want_h));
        if (!r.want_w) {
            EXPECT_EQ(d.markers.count, 0u);
            EXPECT_FALSE(d.target.valid || d.current_crop.valid || d.none_found);
            continue;
        }
        ASSERT_EQ(d.markers.count, 1u);
        EXPECT_EQ(d.markers.markers[0].quad.corners[2].x, 110.0f);
        EXPECT_TRUE(d.none_found);
        const float w = static_cast<float>(r.want_w), h = static_cast<float>(r.want_h);
        expect_rect(d.target, {true, w / 3, h / 3, w / 3, h / 3});
        expect_rect(d.current_crop, {true, w / 8, h / 2, w / 2, h / 4}); // even while hidden
    }
    status.target_valid = status.tags_lost = false;
    const overlay_data d = setup_view_data(markers, status, shown, 640, 360);
    EXPECT_FALSE(d.target.valid || d.none_found);
}

TEST(OverlayThickness, GrowsWithTheShorterSideAndDrawsAsThickAsStated) {
    // The halo adds half a line on each side, at least a pixel; 0 rows: not drawn here.
    struct row {
        int32_t w, h;
        float thickness;
        int core = 0, halo = 0;
    };
    const row rows[] = {
        {.w = 640, .h = 360, .thickness = 2, .core = 2, .halo = 4},
        {.w = 1920, .h = 1080, .thickness = 4, .core = 4, .halo = 8},
        {.w = 3840, .h = 2160, .thickness = 8, .core = 8, .halo = 16},
        {.w = 1080, .h = 1920, .thickness = 4},
        {.w = 7680, .h = 4320, .thickness = 16},
        {.w = 100, .h = 40, .thickness = 2},
        {.w = 0, .h = 0, .thickness = 2},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.w << "x" << r.h);
        EXPECT_FLOAT_EQ(overlay_line_thickness(r.w, r.h), r.thickness);
        if (!r.core)
            continue;
        overlay_data d = picture(r.w, r.h);
        add(d, make_marker(marker_role::a, 0, r.w / 2.0f, r.h / 2.0f, r.h / 3.0f));
        const overlay_mesh mesh = build(d);
        const std::vector<uint8_t> core = layer_mask(mesh, overlay_layer::marker_a, r.w, r.h);
        const std::vector<uint8_t> halo = layer_mask(mesh, overlay_layer::halo, r.w, r.h);
        int core_rows = 0, halo_rows = 0;
        // Down a column through the marker's top edge, clear of its id.
        const float x = r.w / 2.0f + 0.5f;
        for (int y = 0; y < r.h / 2; ++y) {
            core_rows += at(core, r.w, x, y + 0.5f);
            halo_rows += at(halo, r.w, x, y + 0.5f);
        }
        EXPECT_EQ(core_rows, r.core);
        EXPECT_EQ(halo_rows, r.halo);
    }
}

TEST(OverlayBuild, EmitsNothingWithoutAnythingToShow) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct row {
        const char *name;
        overlay_data data;
        int32_t drawn_w, drawn_h;
    };
    overlay_data invalid_rects = picture(640, 360);
    invalid_rects.target = {false, 10, 10, 100, 100};
    invalid_rects.current_crop = {true, 10, 10, 0, 100};
    overlay_data no_picture;
    add(no_picture, make_marker(marker_role::a, 1, 50, 50, 20));
    no_picture.none_found = true;
    overlay_data unusable = picture(640, 360);
    add(unusable, make_marker(marker_role::b, 1, nan, 50, 20));
    unusable.target = {true, nan, 0, 10, 10};
    overlay_data drawn_at_no_size = picture(640, 360);
    drawn_at_no_size.none_found = true;
    const row rows[] = {
        {.name = "default", .data = overlay_data{}, .drawn_w = 640, .drawn_h = 360},
        {.name = "empty picture", .data = picture(640, 360), .drawn_w = 640, .drawn_h = 360},
        {.name = "invalid rectangles", .data = invalid_rects, .drawn_w = 640, .drawn_h = 360},
        {.name = "no picture size", .data = no_picture, .drawn_w = 640, .drawn_h = 360},
        {.name = "not finite", .data = unusable, .drawn_w = 640, .drawn_h = 360},
        {.name = "drawn at no size", .data = drawn_at_no_size, .drawn_w = 0, .drawn_h = 360}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        overlay_mesh mesh;
        build_overlay(r.data, r.drawn_w, r.drawn_h, mesh);
        EXPECT_EQ(mesh.batch_count, 0u);
        EXPECT_TRUE(mesh.vertices.empty());
        EXPECT_TRUE(mesh.strokes.empty());
    }
}

TEST(OverlayBuild, OutlinesEachMarkerFromCornerToCornerInItsRoleColour) {
    struct row {
        marker_role role;
        overlay_layer layer;
    };
    const row rows[] = {
        {.role = marker_role::a, .layer = overlay_layer::marker_a},
        {.role = marker_role::b, .layer = overlay_layer::marker_b},
        {.role = marker_role::other, .layer = overlay_layer::other_marker},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(static_cast<int>(r.role));
        overlay_data d = picture(1280, 720);
        const seen_marker m = make_marker(r.role, 7, 600, 400, 180, 0.4f);
        add(d, m);
        const overlay_mesh mesh = build(d);
        ASSERT_GT(mesh.batch_count, 1u);
        EXPECT_EQ(mesh.batches[1].layer, r.layer);

        std::vector<overlay_stroke> edges;
        for (const overlay_stroke &s : mesh.strokes) {
            EXPECT_EQ(s.layer, r.layer);
            if (std::hypot(s.to.x - s.from.x, s.to.y - s.from.y) > 100.0f)
                edges.push_back(s);
        }
        ASSERT_EQ(edges.size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(edges[i].from.x, m.quad.corners[i].x);
            EXPECT_FLOAT_EQ(edges[i].from.y, m.quad.corners[i].y);
            EXPECT_FLOAT_EQ(edges[i].to.x, m.quad.corners[(i + 1) % 4].x);
            EXPECT_FLOAT_EQ(edges[i].to.y, m.quad.corners[(i + 1) % 4].y);
        }

        // Drawn, the outline covers every corner and keeps to the edges.
        const std::vector<uint8_t> core = layer_mask(mesh, r.layer, 1280, 720);
        const float t = overlay_line_thickness(1280, 720);
        for (const tag_point &c : m.quad.corners)
            EXPECT_TRUE(at(core, 1280, c.x, c.y));
        for (int y = 280; y < 520; ++y)
            for (int x = 480; x < 720; ++x) {
                if (!core[static_cast<size_t>(y) * 1280 + x])
                    continue;
                float nearest = 1e9f;
                for (size_t i = 0; i < 4; ++i)
                    nearest = std::min(
                        nearest, segment_distance({x + 0.5f, y + 0.5f}, point(m.quad.corners[i]),
                                                  point(m.quad.corners[(i + 1) % 4])));
                EXPECT_LE(nearest, t / 2 * std::sqrt(2.0f) + 0.01f) << x << "," << y;
            }
    }
}

TEST(OverlayBuild, ScalesTheDataCoordinatesToTheDrawnSize) {
    overlay_data d = picture(1920, 1080);
    add(d, make_marker(marker_role::a, 3, 800, 500, 200, 0.2f));
    const overlay_mesh mesh = build(d, 960, 540);
    ASSERT_FALSE(mesh.strokes.empty());
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(mesh.strokes[i].from.x, d.markers.markers[0].quad.corners[i].x / 2);
        EXPECT_FLOAT_EQ(mesh.strokes[i].from.y, d.markers.markers[0].quad.corners[i].y / 2);
    }
    EXPECT_FLOAT_EQ(mesh.strokes[0].half_width, overlay_line_thickness(960, 540) / 2);
}

TEST(OverlayDigits, SevenSegmentGlyphsFollowTheUsualShapes) {
    // Segments a..g as the usual display lights them.
    const char *lit[10] = {"abcdef", "bc",     "abdeg", "abcdg",   "bcfg",
                           "acdfg",  "acdefg", "abc",   "abcdefg", "abcdfg"};
    for (int d = 0; d < 10; ++d) {
        uint8_t want = 0;
        for (const char *s = lit[d]; *s; ++s)
            want |= static_cast<uint8_t>(1u << (*s - 'a'));
        EXPECT_EQ(overlay_digit_segments(d), want) << d;
    }
    EXPECT_EQ(overlay_digit_segments(10), 1u << 6);
    EXPECT_EQ(overlay_digit_segments(-1), 1u << 6);
}

// Each digit drawn as a marker's id, at 360p and 1080p: the lit segments show in the id's
// colour, the unlit ones and both holes of the glyph show the picture.
TEST(OverlayDigits, EveryDigitReadsAt360pAnd1080p) {
    for (const auto &[wide, high] : {std::pair{640, 360}, std::pair{1920, 1080}}) {
        const int w = wide, h = high;
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        const float t = overlay_line_thickness(w, h);
        const float side = h / 4.0f;
        const auto id_pixels = [&](int32_t id, overlay_layer want_layer) {
            overlay_data d = picture(w, h);
            add(d, make_marker(marker_role::b, id, w / 2.0f, h / 2.0f, side));
            std::vector<uint8_t> mask = layer_mask(build(d), want_layer, w, h);
            // Only what lies above the marker and its outline.
            for (int y = static_cast<int>(h / 2.0f - side / 2 - t); y < h; ++y)
                std::fill_n(&mask[static_cast<size_t>(y) * w], w, 0);
            return mask;
        };
        // The full glyph "8" marks out the cell.
        const std::array<int, 4> cell = mask_box(id_pixels(8, overlay_layer::marker_b), w, h);
        ASSERT_LE(cell[0], cell[2]);
        EXPECT_NEAR(cell[2] - cell[0] + 1, overlay_digit_width * t, 1.0f);
        EXPECT_NEAR(cell[3] - cell[1] + 1, overlay_digit_height * t, 1.0f);
        const float x0 = cell[0] + t / 2, x1 = cell[2] + 1 - t / 2, xm = (x0 + x1) / 2;
        const float y0 = cell[1] + t / 2, y1 = cell[3] + 1 - t / 2, ym = (y0 + y1) / 2;
        const overlay_point middles[7] = {{xm, y0}, {x1, (y0 + ym) / 2}, {x1, (ym + y1) / 2},
                                          {xm, y1}, {x0, (ym + y1) / 2}, {x0, (y0 + ym) / 2},
                                          {xm, ym}};
        const overlay_point holes[2] = {{xm, (y0 + ym) / 2}, {xm, (ym + y1) / 2}};
        for (int digit = 0; digit < 10; ++digit) {
            SCOPED_TRACE(digit);
            const std::vector<uint8_t> core = id_pixels(digit, overlay_layer::marker_b);
            const std::vector<uint8_t> halo = id_pixels(digit, overlay_layer::halo);
            for (int s = 0; s < 7; ++s)
                EXPECT_EQ(at(core, w, middles[s].x, middles[s].y),
                          (overlay_digit_segments(digit) >> s & 1) != 0)
                    << "segment " << static_cast<char>('a' + s);
            for (const overlay_point &p : holes)
                EXPECT_FALSE(at(halo, w, p.x, p.y)) << "hole filled";
        }
    }
}

TEST(OverlayDigits, IdsReadLeftToRightAndUnknownIdsShowDashes) {
    const int32_t w = 1280, h = 720;
    const float t = overlay_line_thickness(w, h);
    const auto label = [&](int32_t id) {
        overlay_data d = picture(w, h);
        add(d, make_marker(marker_role::other, id, 600, 400, 160));
        std::vector<overlay_stroke> strokes;
        for (const overlay_stroke &s : build(d).strokes)
            if (s.to.y < 400 - 80 - t)
                strokes.push_back(s);
        return strokes;
    };
    // "12": the "1" (two strokes on the right of its cell) precedes the five of "2".
    const std::vector<overlay_stroke> twelve = label(12);
    ASSERT_EQ(twelve.size(), 7u);
    const float left = std::min(twelve[2].from.x, twelve[2].to.x);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_LT(std::max(twelve[i].from.x, twelve[i].to.x), left);
    // Out of range: three middle bars.
    for (const int32_t id : {1000, -1}) {
        const std::vector<overlay_stroke> dashes = label(id);
        ASSERT_EQ(dashes.size(), overlay_max_id_digits) << id;
        for (const overlay_stroke &s : dashes)
            EXPECT_FLOAT_EQ(s.from.y, s.to.y);
    }
    EXPECT_EQ(label(999).size(), 18u) << "six segments in each 9";
}

TEST(OverlayLabels, SitBesideTheMarkerAndInsideThePicture) {
    struct row {
        const char *name;
        float cx, cy;
        bool above;
    };
    const int32_t w = 640, h = 360;
    const float t = overlay_line_thickness(w, h), side = 60;
    const row rows[] = {
        {.name = "middle", .cx = 320, .cy = 180, .above = true},
        {.name = "at the top", .cx = 320, .cy = 32, .above = false},
        {.name = "at the right", .cx = 620, .cy = 180, .above = true},
        {.name = "at the left", .cx = 20, .cy = 180, .above = true},
        {.name = "top right corner", .cx = 630, .cy = 20, .above = false},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        overlay_data d = picture(w, h);
        add(d, make_marker(marker_role::a, 88, r.cx, r.cy, side));
        std::vector<uint8_t> id = layer_mask(build(d), overlay_layer::marker_a, w, h);
        // Without the outline's pixels.
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (std::fabs(x + 0.5f - r.cx) <= side / 2 + t &&
                    std::fabs(y + 0.5f - r.cy) <= side / 2 + t)
                    id[static_cast<size_t>(y) * w + x] = 0;
        const std::array<int, 4> box = mask_box(id, w, h);
        ASSERT_LE(box[0], box[2]) << "no id drawn";
        EXPECT_NEAR(box[2] - box[0] + 1, (2 * overlay_digit_advance - 2) * t, 1.0f);
        EXPECT_GE(box[0], 0);
        EXPECT_LT(box[2], w);
        if (r.above) {
            EXPECT_LT(box[3], r.cy - side / 2 - t);
            EXPECT_GT(box[3], r.cy - side / 2 - 6 * t);
        } else {
            EXPECT_GT(box[1], r.cy + side / 2 + t);
            EXPECT_LT(box[1], r.cy + side / 2 + 6 * t);
        }
        // Next to the marker horizontally too, unless the edge pushed it in.
        EXPECT_LT(std::fabs((box[0] + box[2]) / 2.0f - r.cx),
                  side / 2 + 4 * overlay_digit_advance * t);
    }
}

TEST(OverlayRectangles, TargetIsASolidFrameAndTheCurrentCropADashedOneInsideThem) {
    const int32_t w = 1920, h = 1080;
    const float t = overlay_line_thickness(w, h), m = overlay_halo_margin(t);
    struct row {
        overlay_layer layer;
        overlay_rect rect;
        bool dashed;
    };
    const row rows[] = {
        {.layer = overlay_layer::target, .rect = {true, 400, 200, 960, 540}, .dashed = false},
        {.layer = overlay_layer::current_crop, .rect = {true, 300, 150, 1200, 675}, .dashed = true},
        {.layer = overlay_layer::current_crop, .rect = {true, 0, 0, 1920, 1080}, .dashed = true},
        {.layer = overlay_layer::target, .rect = {true, 0, 0, 1920, 1080}, .dashed = false}};
    for (const row &r : rows) {
        SCOPED_TRACE(static_cast<int>(r.layer));
        overlay_data d = picture(w, h);
        (r.layer == overlay_layer::target ? d.target : d.current_crop) = r.rect;
        const overlay_mesh mesh = build(d);
        const std::vector<uint8_t> core = layer_mask(mesh, r.layer, w, h);
        const std::vector<uint8_t> halo = layer_mask(mesh, overlay_layer::halo, w, h);
        const float l = r.rect.left, top = r.rect.top, rr = l + r.rect.width,
                    b = top + r.rect.height;
        // The band (halo, core, halo) lies inside the rectangle; closed at the corners, dashed or
        // not.
        const float core_in = m + t / 2, out = m + 0.5f;
        for (const overlay_point p :
             {overlay_point{l + out, top + out}, overlay_point{rr - out, top + out},
              overlay_point{rr - out, b - out}, overlay_point{l + out, b - out}})
            EXPECT_TRUE(at(core, w, p.x, p.y)) << "corner " << p.x << "," << p.y;
        const float mid_y = (top + b) / 2;
        EXPECT_TRUE(at(core, w, l + core_in, mid_y) || r.dashed);
        EXPECT_TRUE(at(halo, w, l + m / 2, mid_y) || r.dashed);
        EXPECT_FALSE(at(core, w, l + t + m + 1.0f, mid_y));
        if (l >= 1.0f) {
            EXPECT_FALSE(at(halo, w, l - 1.0f, mid_y)) << "outside the rectangle";
        }
        // Along the top edge: one run when solid, several when dashed.
        int runs = 0;
        bool inside = false;
        for (float x = l + core_in; x < rr - core_in; x += 1.0f) {
            const bool c = at(core, w, x, top + core_in);
            runs += c && !inside;
            inside = c;
        }
        if (r.dashed)
            EXPECT_GE(runs, 5);
        else
            EXPECT_EQ(runs, 1);
    }
}

// Once the crop has arrived at the target, its dashes show over the target's line, and the
// target's line between them.
TEST(OverlayRectangles, WhereTheCropHasArrivedBothShow) {
    const int32_t w = 640, h = 360;
    overlay_data d = picture(w, h);
    d.target = d.current_crop = {true, 100, 50, 320, 180};
    const raster_view view = rasterise(build(d), w, h);
    const float t = overlay_line_thickness(w, h), m = overlay_halo_margin(t);
    const int32_t y = static_cast<int32_t>(d.target.top + m + t / 2);
    size_t dashes = 0, target = 0;
    for (int32_t x = 120; x < 400; ++x) {
        const int8_t layer = view.layer[static_cast<size_t>(y) * w + x];
        dashes += layer == static_cast<int8_t>(overlay_layer::current_crop);
        target += layer == static_cast<int8_t>(overlay_layer::target);
    }
    EXPECT_GT(dashes, 100u);
    EXPECT_GT(target, 60u);
}

TEST(OverlayNoneFound, FramesAndCrossesThePictureOnlyWhenFlagged) {
    for (const auto &[wide, high] : {std::pair{640, 360}, std::pair{1920, 1080}}) {
        const int w = wide, h = high;
        for (const bool flagged : {true, false}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << (flagged ? " flagged" : ""));
            overlay_data d = picture(w, h);
            d.none_found = flagged;
            d.current_crop = {true, 0, 0, static_cast<float>(w), static_cast<float>(h)};
            add(d, make_marker(marker_role::other, 4, w / 3.0f, h / 2.0f, h / 5.0f));
            const overlay_mesh mesh = build(d);
            const std::vector<uint8_t> sign = layer_mask(mesh, overlay_layer::none_found, w, h);
            const float t = overlay_line_thickness(w, h), m = overlay_halo_margin(t);
            if (!flagged) {
                EXPECT_EQ(std::count(sign.begin(), sign.end(), 1), 0);
                continue;
            }
            ASSERT_GT(mesh.batch_count, 0u);
            EXPECT_EQ(mesh.batches[mesh.batch_count - 1].layer, overlay_layer::none_found)
                << "drawn over everything";
            // The border twice as thick as a line, all around; the cross through the middle.
            const float band = m + t;
            for (float x = band; x < w - band; x += 7.0f) {
                EXPECT_TRUE(at(sign, w, x, band));
                EXPECT_TRUE(at(sign, w, x, h - band));
            }
            for (float y = band; y < h - band; y += 7.0f) {
                EXPECT_TRUE(at(sign, w, band, y));
                EXPECT_TRUE(at(sign, w, w - band, y));
            }
            EXPECT_FALSE(at(sign, w, band + t + 1.0f, h / 2.0f)) << "twice as thick, no more";
            EXPECT_TRUE(at(sign, w, w / 2.0f, h / 2.0f));
            EXPECT_TRUE(at(sign, w, w / 4.0f, h / 4.0f));
            EXPECT_TRUE(at(sign, w, 3 * w / 4.0f, h / 4.0f));
            EXPECT_FALSE(at(sign, w, w / 2.0f, h / 4.0f));
        }
    }
}

TEST(OverlayBuild, DrawsHalosFirstThenEachLayerInOrder) {
    overlay_data d = picture(1280, 720);
    add(d, make_marker(marker_role::b, 1, 900, 300, 100));
    add(d, make_marker(marker_role::a, 0, 300, 300, 100));
    add(d, make_marker(marker_role::other, 2, 600, 500, 100));
    d.target = {true, 200, 150, 800, 450};
    d.current_crop = {true, 100, 100, 1000, 560};
    d.none_found = true;
    const overlay_mesh mesh = build(d);
    ASSERT_EQ(mesh.batch_count, overlay_layer_count);
    for (size_t b = 0; b < overlay_layer_count; ++b)
        EXPECT_EQ(mesh.batches[b].layer, static_cast<overlay_layer>(b));
    // Batches tile the vertex list, three vertices per triangle.
    uint32_t next = 0;
    for (uint32_t b = 0; b < mesh.batch_count; ++b) {
        EXPECT_EQ(mesh.batches[b].first_vertex, next);
        EXPECT_EQ(mesh.batches[b].vertex_count % 3, 0u);
        next += mesh.batches[b].vertex_count;
    }
    EXPECT_EQ(next, mesh.vertices.size());
    // Every core pixel is wrapped in halo.
    const std::vector<uint8_t> halo = layer_mask(mesh, overlay_layer::halo, 1280, 720);
    for (size_t l = 1; l < overlay_layer_count; ++l) {
        const std::vector<uint8_t> core =
            layer_mask(mesh, static_cast<overlay_layer>(l), 1280, 720);
        for (size_t i = 0; i < core.size(); ++i)
            ASSERT_TRUE(!core[i] || halo[i]) << "layer " << l << " pixel " << i;
    }
}

TEST(OverlayColours, CoresDifferAndStandOutFromTheirHalo) {
    const auto luminance = [](overlay_colour c) {
        const auto lin = [](uint8_t v) {
            const double s = v / 255.0;
            return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(c.r) + 0.7152 * lin(c.g) + 0.0722 * lin(c.b);
    };
    const double halo = luminance(overlay_layer_colour(overlay_layer::halo));
    EXPECT_LT(halo, 0.01) << "the halo darkens light pictures";
    std::set<std::array<uint8_t, 3>> seen;
    for (size_t l = 1; l < overlay_layer_count; ++l) {
        const overlay_colour c = overlay_layer_colour(static_cast<overlay_layer>(l));
        seen.insert({c.r, c.g, c.b});
        // Contrast ratio against the halo, as for readable text.
        EXPECT_GE((luminance(c) + 0.05) / (halo + 0.05), 4.5) << "layer " << l;
    }
    EXPECT_EQ(seen.size(), overlay_layer_count - 1);
}

// Markers and rectangles anywhere, partly or wholly outside the picture: every vertex stays
// inside it, and the reserved storage is never replaced.
TEST(OverlayBuild, KeepsEveryVertexInsideThePictureAndWithinItsReserve) {
    std::mt19937 rng(19);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    overlay_mesh mesh;
    const overlay_point *vertices = mesh.vertices.data();
    const overlay_stroke *strokes = mesh.strokes.data();
    const std::pair<int, int> sizes[] = {{640, 360}, {1920, 1080}, {64, 48},
                                         {8000, 60}, {360, 640},   {5, 5}};
    for (int round = 0; round < 300; ++round) {
        const auto [w, h] = sizes[round % std::size(sizes)];
        overlay_data d = picture(w, h);
        while (d.markers.count < overlay_max_markers)
            add(d, make_marker(static_cast<marker_role>(round % 3),
                               static_cast<int32_t>(unit(rng) * 1200) - 100,
                               (unit(rng) * 1.4f - 0.2f) * w, (unit(rng) * 1.4f - 0.2f) * h,
                               unit(rng) * h, unit(rng) * 6.3f));
        d.target = {true, (unit(rng) - 0.3f) * w, (unit(rng) - 0.3f) * h, unit(rng) * w,
                    unit(rng) * h};
        d.current_crop = {true, (unit(rng) - 0.3f) * w, (unit(rng) - 0.3f) * h,
                          unit(rng) * 1.5f * w, unit(rng) * h};
        d.none_found = round % 2;
        build_overlay(d, w, h, mesh);
        for (const overlay_point &p : mesh.vertices) {
            ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
            ASSERT_GE(p.x, -1e-3f);
            ASSERT_GE(p.y, -1e-3f);
            ASSERT_LE(p.x, w + 1e-3f);
            ASSERT_LE(p.y, h + 1e-3f);
        }
    }
    EXPECT_EQ(mesh.vertices.data(), vertices);
    EXPECT_EQ(mesh.strokes.data(), strokes);
}

TEST(OverlayBuild, TheFullestViewFitsTheReserveWithoutDroppingALine) {
    // Every marker with the most strokes an id can have; pictures whose every edge takes the
    // most dashes, and one so thin that its short edges take few.
    struct row {
        int32_t w, h;
        bool fullest;
    };
    const row rows[] = {{.w = 1920, .h = 1080, .fullest = true},
                        {.w = 1080, .h = 1920, .fullest = true},
                        {.w = 8000, .h = 60, .fullest = false}};
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.w << "x" << r.h);
        overlay_data d = picture(r.w, r.h);
        while (d.markers.count < overlay_max_markers)
            add(d, make_marker(marker_role::other, 888, r.w / 2.0f, r.h / 2.0f, r.h / 4.0f));
        d.target = {true, 0, 0, static_cast<float>(r.w), static_cast<float>(r.h)};
        d.current_crop = d.target;
        d.none_found = true;
        const overlay_mesh mesh = build(d);
        EXPECT_EQ(mesh.dropped, 0u);
        if (r.fullest) {
            EXPECT_EQ(mesh.strokes.size(), overlay_max_strokes);
        }
        // Nothing here reaches the picture's edges, so each stroke gives a halo and a core quad.
        EXPECT_EQ(mesh.vertices.size(), mesh.strokes.size() * 12);
    }
}

} // namespace

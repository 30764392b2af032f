#include "detect/tag_selection.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The quad's centre x tells which candidate was chosen; 0 means none.
tag_candidate cand(int id, int hamming, float margin, float marker) {
    return {id, hamming, margin, {marker, 0, {}}};
}

} // namespace

TEST(SelectTagPair, AcceptsAndPicksByRule) {
    struct {
        const char *name;
        std::vector<tag_candidate> list;
        float a, b;
    } const cases[] = {
        {"empty", {}, 0, 0},
        {"margin just below", {cand(0, 0, 19.99f, 1)}, 0, 0},
        {"margin exactly at the threshold", {cand(0, 0, 20.0f, 1)}, 1, 0},
        {"NaN margin", {cand(0, 0, NAN, 1)}, 0, 0},
        {"one corrected bit", {cand(1, 1, 90.0f, 1)}, 0, 0},
        {"both", {cand(1, 0, 50, 2), cand(0, 0, 50, 1)}, 1, 2},
        {"other ids", {cand(2, 0, 50, 1), cand(-1, 0, 50, 2)}, 0, 0},
        {"last accepted wins", {cand(0, 0, 80, 1), cand(0, 0, 25, 2), cand(0, 0, 10, 3)}, 2, 0},
        {"rejected later entry", {cand(1, 0, 30, 4), cand(1, 2, 99, 5)}, 0, 4},
    };
    for (const auto &c : cases) {
        const tag_pair_selection s = select_tag_pair(c.list.data(), c.list.size(), 0, 1);
        EXPECT_EQ(s.has_a ? s.a.center_x : 0, c.a) << c.name;
        EXPECT_EQ(s.has_b ? s.b.center_x : 0, c.b) << c.name;
    }
}

TEST(SelectTagPair, IdsComeFromTheSettingsAndAIsCheckedFirst) {
    const tag_candidate list[] = {cand(0, 0, 50, 1), cand(1, 0, 50, 2)};
    const tag_pair_selection swapped = select_tag_pair(list, 2, 1, 0);
    EXPECT_EQ(swapped.a.center_x, 2.0f);
    EXPECT_EQ(swapped.b.center_x, 1.0f);
    const tag_pair_selection same = select_tag_pair(list, 2, 0, 0);
    EXPECT_TRUE(same.has_a && !same.has_b);
    EXPECT_FALSE(select_tag_pair(nullptr, 3, 0, 1).has_a);
}

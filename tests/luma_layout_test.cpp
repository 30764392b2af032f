#include "intake/luma_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LumaLayout, EveryHostFormatValue) {
    struct row {
        int format;
        const char *name;
        std::optional<luma_layout> layout;
    };
    const row rows[] = {
        {0, "None", std::nullopt},  {1, "I420", LUMA_PLANE8},     {2, "NV12", LUMA_PLANE8},
        {3, "YVYU", LUMA_YVYU},     {4, "YUY2", LUMA_YUY2},       {5, "UYVY", LUMA_UYVY},
        {6, "RGBA", LUMA_RGBA},     {7, "BGRA", LUMA_BGRA},       {8, "BGRX", LUMA_BGRX},
        {9, "Y800", LUMA_PLANE8},   {10, "I444", LUMA_PLANE8},    {11, "BGR3", std::nullopt},
        {12, "I422", LUMA_PLANE8},  {13, "I40A", std::nullopt},   {14, "I42A", std::nullopt},
        {15, "YUVA", std::nullopt}, {16, "AYUV", std::nullopt},   {17, "I010", std::nullopt},
        {18, "P010", std::nullopt}, {19, "I210", std::nullopt},   {20, "I412", std::nullopt},
        {21, "YA2L", std::nullopt}, {22, "P216", std::nullopt},   {23, "P416", std::nullopt},
        {24, "v210", std::nullopt}, {25, "R10l", std::nullopt},   {26, "None", std::nullopt},
        {-1, "None", std::nullopt}, {1000, "None", std::nullopt},
    };
    for (const row &r : rows) {
        EXPECT_EQ(luma_layout_for_format(r.format), r.layout) << "format " << r.format;
        EXPECT_STREQ(video_format_short_name(r.format), r.name) << "format " << r.format;
    }
}

} // namespace

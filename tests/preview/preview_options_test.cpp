#include "preview_options.h"

#include <gtest/gtest.h>

namespace {

options_result parse(std::vector<std::string> args) {
    return parse_preview_options(args);
}

TEST(PreviewOptions, DefaultsAreTheFiltersOwn) {
    const options_result r = parse({});
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.options.input.empty());
    EXPECT_EQ(r.options.scene_width, 1280);
    EXPECT_EQ(r.options.scene_height, 720);
    EXPECT_EQ(r.options.out_dir, "preview-out");
    EXPECT_EQ(r.options.tag_family, 0);
    EXPECT_EQ(r.options.tag_id_a, 0);
    EXPECT_EQ(r.options.tag_id_b, 1);
    EXPECT_EQ(r.options.detect_width, 960);
    EXPECT_DOUBLE_EQ(r.options.detect_fps, 5.0);
    EXPECT_DOUBLE_EQ(r.options.half_life_ms, 250.0);
    EXPECT_DOUBLE_EQ(r.options.padding, 0.0);
    EXPECT_FALSE(r.options.hide_without_both);
    EXPECT_FALSE(r.options.fast);
}

TEST(PreviewOptions, ReadsEverySettingInBothSpellings) {
    const options_result r = parse({"--input",
                                    "clip.mp4",
                                    "--size=640x360",
                                    "--seconds",
                                    "4.5",
                                    "--out",
                                    "o",
                                    "--family=circle21h7",
                                    "--ids",
                                    "1,0",
                                    "--detect-width=640",
                                    "--detect-fps",
                                    "10",
                                    "--half-life-ms=0",
                                    "--padding",
                                    "12.5",
                                    "--hide-without-both",
                                    "--perf",
                                    "--fast",
                                    "--module",
                                    "m.so",
                                    "--data=d"});
    ASSERT_TRUE(r.ok) << r.error;
    const preview_options &o = r.options;
    EXPECT_EQ(o.input, "clip.mp4");
    EXPECT_EQ(o.scene_width, 640);
    EXPECT_EQ(o.scene_height, 360);
    EXPECT_DOUBLE_EQ(o.seconds, 4.5);
    EXPECT_EQ(o.out_dir, "o");
    EXPECT_EQ(o.tag_family, 1);
    EXPECT_EQ(o.tag_id_a, 1);
    EXPECT_EQ(o.tag_id_b, 0);
    EXPECT_EQ(o.detect_width, 640);
    EXPECT_DOUBLE_EQ(o.detect_fps, 10.0);
    EXPECT_DOUBLE_EQ(o.half_life_ms, 0.0);
    EXPECT_DOUBLE_EQ(o.padding, 12.5);
    EXPECT_TRUE(o.hide_without_both);
    EXPECT_TRUE(o.perf);
    EXPECT_TRUE(o.fast);
    EXPECT_EQ(o.module_path, "m.so");
    EXPECT_EQ(o.data_dir, "d");
}

TEST(PreviewOptions, RefusesWhatTheFilterWouldQuietlyChange) {
    // The filter normalises out-of-range settings; the tool says so instead of
    // previewing something other than what was asked.
    const std::vector<std::vector<std::string>> refused = {
        {"--ids", "0,0"},         {"--ids", "0,2"},          {"--ids", "0"},
        {"--family", "tag36h11"}, {"--detect-width", "100"}, {"--detect-width", "4000"},
        {"--detect-fps", "0.5"},  {"--half-life-ms", "-1"},  {"--padding", "nan"},
        {"--size", "641x360"},    {"--size", "64x36"},       {"--size", "1280"},
        {"--seconds", "0"},       {"--seconds", "x"},        {"--input"},
        {"--fast=yes"},           {"--frobnicate"},
    };
    for (const auto &args : refused) {
        const options_result r = parse(args);
        EXPECT_FALSE(r.ok) << args.front();
        EXPECT_NE(r.error.find(args.front().substr(0, args.front().find('='))), std::string::npos)
            << r.error;
    }
}

TEST(PreviewOptions, HelpExplainsWhatFastChanges) {
    const std::string usage = preview_usage("pinvaler-preview");
    EXPECT_NE(usage.find("--fast"), std::string::npos);
    EXPECT_NE(usage.find("fewer frames"), std::string::npos);
}

} // namespace

// Create and destroy leaving nothing behind, also when create fails part-way, and a filter drawn
// after it lost its source.
#include "host_harness.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

// A shipped effect with a name replaced throughout.
std::string shipped_effect(const std::string &name, const std::string &from, const char *to) {
    std::stringstream shipped;
    shipped << std::ifstream(PINVALER_DATA_DIR "/effects/" + name + ".effect").rdbuf();
    std::string text = shipped.str();
    for (size_t at; (at = text.find(from)) != std::string::npos;)
        text.replace(at, from.size(), to);
    return text;
}

TEST(FilterLifecycle, CreatedAndDestroyedThroughTheHostOrRightAwayLeavesNothing) {
    // The host keeps every effect file it loaded, and its first source of a type leaves lasting
    // records: made once beforehand, they stay out of the counts.
    data_ptr settings = default_settings();
    create_instance(settings.get());
    obs_source_release(obs_source_create_private("pinvaler_filter", "warm-up", nullptr));
    wait_for_quiet_host();
    const int threads_before = process_thread_count();
    const long allocs_before = bnum_allocs();

    obs_source_t *filter = obs_source_create_private("pinvaler_filter", "lifecycle", nullptr);
    ASSERT_NE(obs_obj_get_data(filter), nullptr);
    EXPECT_EQ(process_thread_count(), threads_before + 1) << "one worker per instance";
    obs_source_release(filter);
    obs_wait_for_destroy_queue();
    // Destroyed while its worker waits, some with a wake still pending.
    for (int i = 0; i < 25; ++i) {
        instance_ptr direct = create_instance(settings.get());
        ASSERT_NE(direct, nullptr);
        if (i % 2)
            direct->detect_event.signal();
    }
    EXPECT_TRUE(wait_until([&] { return process_thread_count() == threads_before; }));
    EXPECT_TRUE(wait_until([&] { return bnum_allocs() == allocs_before; }))
        << bnum_allocs() - allocs_before << " host allocations left";
    filter_destroy(nullptr);
}

TEST(FilterLifecycle, CreateFailsCleanlyOnABadEffect) {
    // Still compiles.
    const std::string no_visibility = shipped_effect("pinvaler", "visibility", "brightness");
    // Each case's error lines; "@" stands for the effect file's path, "..." for the loader's text.
    const std::pair<const char *, std::string> cases[] = {
        {nullptr, "Pinvale: crop effect is missing from plugin resources\n"},
        {no_visibility.c_str(), "Pinvale: crop effect is missing a required parameter\n"
                                "Pinvale: failed to load crop effect @\n"},
        {"this is not an effect {", "Pinvale: failed to load crop effect @: ...\n"},
    };
    // Twice: the host caches an effect file that compiled, so only the second run shows
    // whether create itself left anything behind.
    for (int run = 0; run < 2; ++run)
        for (size_t i = 0; i < std::size(cases); ++i) {
            module_data_dir dir("effect-" + std::to_string(i));
            const std::string path = dir.file("effects/pinvaler.effect").string();
            if (cases[i].first) {
                std::filesystem::create_directories(dir.file("effects"));
                std::ofstream(path) << cases[i].first;
            }
            const int threads_before = process_thread_count();
            const long allocs_before = bnum_allocs();
            const size_t mark = log_mark();
            EXPECT_FALSE(create_instance(default_settings().get()));
            EXPECT_EQ(process_thread_count(), threads_before);
            EXPECT_TRUE(run == 0 || bnum_allocs() == allocs_before) << "case " << i;
            std::string errors;
            for (const log_line &line : log_since(mark)) {
                if (line.level != LOG_ERROR || !line.text.starts_with("Pinvale: "))
                    continue;
                std::string text = line.text;
                if (const size_t at = text.find(path); at != std::string::npos)
                    text = text.substr(0, at) + "@" + text.substr(at + path.size());
                if (const size_t at = text.find("@: "); at != std::string::npos)
                    text = text.substr(0, at + 3) + (text.size() > at + 3 ? "..." : "");
                errors += text + '\n';
            }
            EXPECT_EQ(errors, cases[i].second);
        }
}

// A filter the host draws after it was taken off its source (a user removed it during a frame,
// or the host draws the filter on its own) draws nothing, and does not ask the host to skip it.
TEST(FilterLifecycle, DetachedFilterIsDrawnAsNothingWithoutHarm) {
    obs_source_t *filter = obs_source_create_private("pinvaler_filter", "detached", nullptr);
    const size_t mark = log_mark();
    obs_enter_graphics();
    obs_source_video_render(filter);
    obs_source_video_render(filter);
    obs_leave_graphics();
    EXPECT_EQ(count_log_since(mark, LOG_INFO, "filter 'detached' being processed with no target!"),
              2u)
        << "the host refused to begin the filter";
    obs_source_release(filter);
    obs_wait_for_destroy_queue();
}

// The GPU intake is an addition: without a usable luma effect, create still succeeds, says so
// once, raw frames are still tracked, and a source without them is shown whole, even while
// hiding, with a warning naming why.
TEST(FilterLifecycle, CreateSucceedsWithoutTheLumaEffect) {
    const std::string no_width = shipped_effect("luma", "luma_width", "luma_depth");
    const std::pair<const char *, const char *> cases[] = {
        {nullptr, "Pinvale: luma effect is missing from plugin resources; only sources with "
                  "readable raw frames can be tracked"},
        {"this is not an effect {", "Pinvale: failed to load luma effect "},
        {no_width.c_str(), "Pinvale: failed to load luma effect "},
    };
    const rgba_image picture = tag_picture(tag_family_kind::tag16h5, tag_scene::pair, 320, 180);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        module_data_dir dir("luma-" + std::to_string(i));
        std::filesystem::create_directories(dir.file("effects"));
        std::filesystem::copy_file(PINVALER_DATA_DIR "/effects/pinvaler.effect",
                                   dir.file("effects/pinvaler.effect"));
        if (cases[i].first)
            std::ofstream(dir.file("effects/luma.effect")) << cases[i].first;
        const size_t mark = log_mark();
        data_ptr settings = default_settings();
        obs_data_set_bool(settings.get(), key_hide_without_both_tags, true);
        obs_source_t *parent = create_picture_source("no luma", picture);
        obs_source_t *filter =
            obs_source_create_private("pinvaler_filter", "no luma", settings.get());
        ASSERT_NE(obs_obj_get_data(filter), nullptr) << "create failed";
        obs_source_filter_add(parent, filter);
        obs_set_output_source(0, parent);
        ASSERT_TRUE(wait_for_host_frames(4));
        const filter_state state = read_filter_state(*instance_of(filter));
        EXPECT_FALSE(state.frame_usable);
        EXPECT_EQ(state.crop.crop_visibility, 1.0f) << "hidden though nothing can be tracked";
        EXPECT_EQ(state.crop.crop_scale_x, 1.0f);
        EXPECT_EQ(count_log_since(mark, LOG_WARNING, cases[i].second), 1u);
        EXPECT_EQ(count_log_since(mark, LOG_WARNING,
                                  "Pinvale: cannot read the picture as drawn (the source draws on "
                                  "the GPU and hands over no raw frames: its effect did not "
                                  "load); tracking remains pass-through"),
                  1u);
        EXPECT_EQ(count_log_since(mark, LOG_WARNING, "Pinvale: "), 2u);
        EXPECT_EQ(count_log_since(mark, LOG_ERROR, "Pinvale: "), 0u);
        obs_set_output_source(0, nullptr);
        obs_source_filter_remove(parent, filter);
        obs_source_release(filter);
        obs_source_release(parent);
        obs_wait_for_destroy_queue();

        // Raw frames are still read.
        const instance_ptr raw = create_instance(default_settings().get());
        host_frame frame(VIDEO_FORMAT_BGRA, picture);
        filter_video(raw.get(), &frame.frame);
        EXPECT_TRUE(wait_until([&] { return read_filter_state(*raw).status.target_valid; }));
    }
}

} // namespace

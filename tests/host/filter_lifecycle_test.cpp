// Create and destroy, through the real host and directly, including failures part-way.
#include "filter_fixture.h"
#include "host_environment.h"
#include "module_data_dir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

TEST(FilterLifecycle, HostCreatesAWorkingInstanceAndDestroysItWithoutTrace) {
    // The host keeps every effect file it loaded, and its first source of a type leaves lasting
    // records: made once beforehand, they stay out of the counts.
    create_instance(default_settings().get());
    obs_source_release(obs_source_create_private("pinvaler_filter", "warm-up", nullptr));
    wait_for_quiet_host();
    const int threads_before = process_thread_count();
    const long allocs_before = bnum_allocs();

    obs_source_t *filter = obs_source_create_private("pinvaler_filter", "lifecycle", nullptr);
    ASSERT_NE(filter, nullptr);
    const auto *instance = static_cast<filter_instance *>(obs_obj_get_data(filter));
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->source, filter);
    EXPECT_TRUE(instance->config_mutex_ready && instance->frame_mutex_ready &&
                instance->detector_mutex_ready && instance->render_mutex_ready &&
                instance->perf_mutex_ready && instance->detect_event_ready &&
                instance->worker_started && instance->crop_effect && instance->param_visibility);
    EXPECT_STREQ(instance->family->name, "tag16h5");
    const apriltag_detector_t *d = instance->detector;
    EXPECT_EQ(zarray_size(d->tag_families), 1);
    EXPECT_EQ(std::tuple(d->quad_decimate, d->quad_sigma, d->refine_edges, d->decode_sharpening,
                         d->qtp.deglitch, d->qtp.min_white_black_diff, d->nthreads),
              std::tuple(1.0f, 0.0f, false, 0.25, 0, 5, instance->worker_threads));
    EXPECT_TRUE(instance->worker_threads >= 1 && instance->worker_threads <= 4);
    EXPECT_EQ(std::tuple(instance->crop.crop_scale_x, instance->crop.crop_visibility,
                         instance->frame_usable, instance->canvas_width, instance->canvas_height),
              std::tuple(1.0f, 1.0f, true, host_setup::canvas_width, host_setup::canvas_height));
    EXPECT_EQ(process_thread_count(), threads_before + 1) << "one worker per instance";

    obs_source_release(filter);
    obs_wait_for_destroy_queue();
    EXPECT_TRUE(wait_until([&] { return process_thread_count() == threads_before; }));
    EXPECT_TRUE(wait_until([&] { return bnum_allocs() == allocs_before; }))
        << bnum_allocs() - allocs_before << " host allocations left";
}

TEST(FilterLifecycle, DestroyRightAfterCreateStopsTheWaitingWorker) {
    data_ptr settings = default_settings();
    create_instance(settings.get());
    wait_for_quiet_host();
    const int threads_before = process_thread_count();
    const long allocs_before = bnum_allocs();
    for (int i = 0; i < 25; ++i) {
        instance_ptr instance = create_instance(settings.get());
        ASSERT_NE(instance, nullptr);
        if (i % 2)
            event_signal(instance->detect_event); // a pending wake must not outlive destroy
    }
    EXPECT_EQ(process_thread_count(), threads_before);
    EXPECT_EQ(bnum_allocs(), allocs_before);
    filter_destroy(nullptr);
}

TEST(FilterLifecycle, CreateFailsCleanlyOnABadEffect) {
    // The shipped effect with its `visibility` parameter renamed still compiles.
    std::stringstream shipped;
    shipped << std::ifstream(PINVALER_DATA_DIR "/effects/pinvaler.effect").rdbuf();
    std::string no_visibility = shipped.str();
    for (size_t at; (at = no_visibility.find("visibility")) != std::string::npos;)
        no_visibility.replace(at, 10, "brightness");
    const struct {
        const char *effect; // null: no effect file
        // "@" stands for the effect file's path; ": " at the end, for the loader's own text.
        std::vector<std::string> errors;
    } cases[] = {
        {nullptr, {"Pinvale: crop effect is missing from plugin resources"}},
        {no_visibility.c_str(),
         {"Pinvale: crop effect is missing a required parameter",
          "Pinvale: failed to load crop effect @"}},
        {"this is not an effect {", {"Pinvale: failed to load crop effect @: "}},
    };
    // Twice: the host caches an effect file that compiled, so only the second run shows
    // whether create itself left anything behind.
    for (int run = 0; run < 2; ++run)
        for (size_t i = 0; i < std::size(cases); ++i) {
            SCOPED_TRACE(i);
            module_data_dir dir("effect-" + std::to_string(i));
            if (cases[i].effect)
                dir.write("effects/pinvaler.effect", cases[i].effect);
            const int threads_before = process_thread_count();
            const long allocs_before = bnum_allocs();
            const size_t mark = log_mark();
            EXPECT_FALSE(create_instance(default_settings().get()));
            EXPECT_EQ(process_thread_count(), threads_before);
            if (run == 1) {
                EXPECT_EQ(bnum_allocs(), allocs_before);
            }

            std::vector<std::string> errors;
            for (const log_line &line : captured_log_since(mark))
                if (line.level == LOG_ERROR && line.text.rfind("Pinvale: ", 0) == 0)
                    errors.push_back(line.text);
            ASSERT_EQ(errors.size(), cases[i].errors.size());
            for (size_t e = 0; e < errors.size(); ++e) {
                std::string want = cases[i].errors[e];
                if (const size_t at = want.find('@'); at != std::string::npos)
                    want.replace(at, 1, dir.file("effects/pinvaler.effect").string());
                if (want.ends_with(": ")) {
                    EXPECT_TRUE(errors[e].starts_with(want) && errors[e].size() > want.size())
                        << errors[e];
                } else {
                    EXPECT_EQ(errors[e], want);
                }
            }
        }
}

} // namespace

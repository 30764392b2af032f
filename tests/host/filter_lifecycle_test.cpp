// Create and destroy, through the real host and directly, including failures part-way.
#include "filter_fixture.h"
#include "host_environment.h"
#include "module_data_dir.h"
#include "module/module_entry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

filter_instance *instance_of(obs_source_t *source) {
    return static_cast<filter_instance *>(obs_obj_get_data(source));
}

// The host keeps every effect it loaded from a file until it shuts down; one
// instance made beforehand keeps that cache out of the allocation counts.
void warm_effect_cache() {
    data_ptr settings = default_settings();
    create_instance(settings.get());
}

// The host's first source of a type also leaves lasting records of its own.
void warm_host_source_type() {
    obs_source_release(obs_source_create_private("pinvaler_filter", "warm-up", nullptr));
    obs_wait_for_destroy_queue();
}

TEST(FilterLifecycle, HostCreatesAWorkingInstanceAndDestroysItWithoutTrace) {
    warm_effect_cache();
    warm_host_source_type();
    wait_for_quiet_host();
    const int threads_before = process_thread_count();
    const long allocs_before = bnum_allocs();

    obs_source_t *filter = obs_source_create_private("pinvaler_filter", "lifecycle", nullptr);
    ASSERT_NE(filter, nullptr);
    filter_instance *instance = instance_of(filter);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->source, filter);
    EXPECT_TRUE(instance->config_mutex_ready && instance->frame_mutex_ready &&
                instance->detector_mutex_ready && instance->render_mutex_ready &&
                instance->perf_mutex_ready && instance->detect_event_ready &&
                instance->worker_started);
    EXPECT_NE(instance->crop_effect, nullptr);
    EXPECT_NE(instance->param_visibility, nullptr);
    EXPECT_STREQ(instance->family->name, "tag16h5");
    EXPECT_EQ(zarray_size(instance->detector->tag_families), 1);
    EXPECT_GE(instance->worker_threads, 1);
    EXPECT_LE(instance->worker_threads, 4);
    EXPECT_EQ(instance->detector->nthreads, instance->worker_threads);
    EXPECT_EQ(instance->detector->quad_decimate, 1.0f);
    EXPECT_EQ(instance->detector->quad_sigma, 0.0f);
    EXPECT_FALSE(instance->detector->refine_edges);
    EXPECT_EQ(instance->detector->decode_sharpening, 0.25);
    EXPECT_EQ(instance->detector->qtp.deglitch, 0);
    EXPECT_EQ(instance->detector->qtp.min_white_black_diff, 5);
    EXPECT_EQ(instance->crop.crop_scale_x, 1.0f);
    EXPECT_EQ(instance->crop.crop_visibility, 1.0f);
    EXPECT_TRUE(instance->frame_usable);
    EXPECT_EQ(instance->canvas_width, host_setup::canvas_width);
    EXPECT_EQ(instance->canvas_height, host_setup::canvas_height);
    EXPECT_EQ(process_thread_count(), threads_before + 1) << "one worker per instance";

    obs_source_release(filter);
    obs_wait_for_destroy_queue();
    EXPECT_TRUE(wait_until([&] { return process_thread_count() == threads_before; }));
    EXPECT_TRUE(wait_until([&] { return bnum_allocs() == allocs_before; }))
        << bnum_allocs() - allocs_before << " host allocations left";
}

TEST(FilterLifecycle, DestroyRightAfterCreateStopsTheWaitingWorker) {
    warm_effect_cache();
    wait_for_quiet_host();
    const int threads_before = process_thread_count();
    const long allocs_before = bnum_allocs();
    {
        data_ptr settings = default_settings();
        for (int i = 0; i < 25; ++i) {
            instance_ptr instance = create_instance(settings.get());
            ASSERT_NE(instance, nullptr);
            if (i % 2)
                event_signal(instance->detect_event); // a pending wake must not outlive destroy
        }
    }
    EXPECT_EQ(process_thread_count(), threads_before);
    EXPECT_EQ(bnum_allocs(), allocs_before);
}

TEST(FilterLifecycle, CircleFamilyChosenAtCreate) {
    data_ptr settings = default_settings();
    obs_data_set_int(settings.get(), "tag_family", 1);
    instance_ptr instance = create_instance(settings.get());
    ASSERT_NE(instance, nullptr);
    EXPECT_STREQ(instance->family->name, "tagCircle21h7");
}

const std::string effect_file = "effects/pinvaler.effect";

struct create_failure_case {
    const char *name;
    const char *effect_text; // null: no effect file at all
    std::vector<std::string> errors;
};

const char *const effect_without_visibility = R"(
uniform float4x4 ViewProj;
uniform texture2d image;
uniform float2 mul_val;
uniform float2 add_val;
sampler_state s { Filter = Linear; AddressU = Clamp; AddressV = Clamp; };
struct V { float4 pos : POSITION; float2 uv : TEXCOORD0; };
V VS(V v) { V o; o.pos = mul(float4(v.pos.xyz, 1.0), ViewProj); o.uv = v.uv * mul_val + add_val; return o; }
float4 PS(V v) : TARGET { return image.Sample(s, v.uv); }
technique Draw { pass { vertex_shader = VS(v); pixel_shader = PS(v); } }
)";

TEST(FilterLifecycle, CreateFailsCleanlyOnABadEffect) {
    const create_failure_case cases[] = {
        {"no effect file", nullptr, {"Pinvale: crop effect is missing from plugin resources"}},
        {"no visibility parameter",
         effect_without_visibility,
         {"Pinvale: crop effect is missing a required parameter",
          "Pinvale: failed to load crop effect @PATH@"}},
        {"effect that does not compile", "this is not an effect {", {"@PREFIX@"}},
    };
    // Each case runs twice: the host caches an effect file that compiled, so
    // only the second run shows whether create itself left anything behind.
    for (int run = 0; run < 2; ++run)
        for (size_t index = 0; index < std::size(cases); ++index) {
            const create_failure_case &c = cases[index];
            SCOPED_TRACE(c.name);
            module_data_dir dir("effect-" + std::to_string(index));
            if (c.effect_text)
                dir.write(effect_file, c.effect_text);
            const std::string effect_path = dir.file(effect_file).string();

            const int threads_before = process_thread_count();
            const long allocs_before = bnum_allocs();
            const size_t mark = log_mark();
            data_ptr settings = default_settings();
            EXPECT_EQ(filter_create(settings.get(), nullptr), nullptr);
            EXPECT_EQ(process_thread_count(), threads_before);
            settings.reset();
            if (run == 1) {
                EXPECT_EQ(bnum_allocs(), allocs_before);
            }

            std::vector<std::string> errors;
            for (const log_line &line : captured_log_since(mark))
                if (line.level == LOG_ERROR && line.text.rfind("Pinvale: ", 0) == 0)
                    errors.push_back(line.text);
            if (std::string(c.errors[0]) == "@PREFIX@") {
                ASSERT_EQ(errors.size(), 1u);
                const std::string prefix =
                    "Pinvale: failed to load crop effect " + effect_path + ": ";
                EXPECT_EQ(errors[0].rfind(prefix, 0), 0u) << errors[0];
                EXPECT_GT(errors[0].size(), prefix.size()) << "the loader's error text is shown";
                continue;
            }
            std::vector<std::string> expected = c.errors;
            for (std::string &line : expected)
                if (const size_t at = line.find("@PATH@"); at != std::string::npos)
                    line.replace(at, 6, effect_path);
            EXPECT_EQ(errors, expected);
        }
}

} // namespace

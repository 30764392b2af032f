// The module as the host sees it: entry points, registration, its name through the locale and
// its log prefix.
#include "host_harness.h"
#include "module/module.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <obs.h>
#include <set>

namespace {

TEST(Module, LoadsOnceAndRegistersTheFilterType) {
    size_t loaded = 0;
    for (const log_line &line : log_since(0))
        loaded += line.level == LOG_INFO &&
                  line.text == "[pinvaler-filter] Pinvale filter plugin loaded (version 1.0.0-rc4)";
    EXPECT_EQ(loaded, 1u);
    bool found = false;
    const char *id = nullptr;
    for (size_t i = 0; obs_enum_filter_types(i, &id); ++i)
        found = found || std::string(id) == "pinvaler_filter";
    EXPECT_TRUE(found);
    EXPECT_EQ(obs_get_source_output_flags("pinvaler_filter"), uint32_t{OBS_SOURCE_VIDEO});
    EXPECT_STREQ(obs_source_get_display_name("pinvaler_filter"), "Pinvale Marker Zoom");
}

TEST(Module, ExportsExactlyTheTenEntryPoints) {
    FILE *nm = popen("nm -D --defined-only --format=just-symbols '" PINVALER_MODULE_PATH "'", "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> exported;
    for (char name[256]; std::fscanf(nm, "%255s", name) == 1;)
        exported.insert(name);
    ASSERT_EQ(pclose(nm), 0);
    EXPECT_EQ(exported, (std::set<std::string>{"obs_module_set_pointer", "obs_module_ver",
                                               "obs_module_set_locale", "obs_module_free_locale",
                                               "obs_module_get_string", "obs_module_author",
                                               "obs_module_name", "obs_module_description",
                                               "obs_module_load", "obs_module_unload"}));
}

} // namespace

// The module as the host sees it: entry points, registration, texts and logging.
#include "host_environment.h"
#include "module/filter_registration.h"
#include "module/module_entry.h"
#include "module/module_text.h"
#include "module/plugin_log.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <obs.h>
#include <set>

namespace {

TEST(Module, LoadsOnceAndRegistersTheFilterType) {
    const std::vector<log_line> log = captured_log_since(0);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const log_line &line) {
                                return line.level == LOG_INFO &&
                                       line.text == "[pinvaler-filter] Pinvale filter plugin "
                                                    "loaded (version 1.0.0-rc4)";
                            }),
              1);
    bool found = false;
    const char *id = nullptr;
    for (size_t i = 0; obs_enum_filter_types(i, &id); ++i)
        found = found || std::string(id) == "pinvaler_filter";
    EXPECT_TRUE(found);
    EXPECT_EQ(obs_get_source_output_flags("pinvaler_filter"),
              static_cast<uint32_t>(OBS_SOURCE_VIDEO));
    EXPECT_STREQ(obs_source_get_display_name("pinvaler_filter"), "Pinvale Marker Zoom");
}

TEST(Module, ExportsExactlyTheTenEntryPoints) {
    FILE *nm = popen(("nm -D --defined-only '" PINVALER_MODULE_PATH "'"), "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> exported;
    char address[64], type[8], name[256];
    while (std::fscanf(nm, "%63s %7s %255s", address, type, name) == 3)
        exported.insert(name);
    ASSERT_EQ(pclose(nm), 0);
    EXPECT_EQ(exported, (std::set<std::string>{"obs_module_set_pointer", "obs_module_ver",
                                               "obs_module_set_locale", "obs_module_free_locale",
                                               "obs_module_get_string", "obs_module_author",
                                               "obs_module_name", "obs_module_description",
                                               "obs_module_load", "obs_module_unload"}));
}

// The tests' own copy of the module code starts with no locale loaded.
TEST(ModuleText, FallsBackToKeysAndFollowsTheLocale) {
    obs_module_free_locale();
    obs_module_free_locale(); // twice in a row: a null lookup is fine
    EXPECT_STREQ(obs_module_name(), "Pinvale.ModuleName");
    EXPECT_STREQ(filter_get_name(nullptr), "Pinvale.FilterName");
    const char *text = "untouched";
    EXPECT_FALSE(obs_module_get_string("Pinvale.FilterName", &text));

    obs_module_set_locale("de-DE");
    obs_module_set_locale("en-US"); // replaces the first lookup
    EXPECT_STREQ(obs_module_name(), "Pinvale marker zoom");
    EXPECT_STREQ(module_text("Pinvale.NoSuchKey"), "Pinvale.NoSuchKey");
    EXPECT_TRUE(obs_module_get_string("Pinvale.FilterName", &text));
    EXPECT_STREQ(text, "Pinvale Marker Zoom");
    obs_module_free_locale();
    EXPECT_STREQ(obs_module_description(), "Pinvale.ModuleDescription");
}

TEST(PluginLog, PrefixesTheModuleNameAndKeepsConversions) {
    const size_t mark = log_mark();
    plugin_log(LOG_INFO, "100%% of %s", "frames");
    plugin_log(LOG_WARNING, "plain");
    const std::vector<log_line> lines = captured_log_since(mark);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(std::tuple(lines[0].level, lines[0].text),
              std::tuple(LOG_INFO, "[pinvaler-filter] 100% of frames"));
    EXPECT_EQ(std::tuple(lines[1].level, lines[1].text),
              std::tuple(LOG_WARNING, "[pinvaler-filter] plain"));
}

} // namespace

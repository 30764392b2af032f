// The module as the host sees it: entry points, registration, texts and logging.
#include "host_environment.h"
#include "module/module_entry.h"
#include "module/module_text.h"
#include "module/plugin_log.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <obs.h>
#include <set>

namespace {

TEST(Module, LoadsOnceAndRegistersTheFilterType) {
    size_t loaded = 0;
    for (const log_line &line : captured_log_since(0))
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

// The tests' own copy of the module code starts with no locale loaded.
TEST(ModuleText, FallsBackToKeysBeforeALocaleAndLogsWithThePrefix) {
    obs_module_free_locale();
    obs_module_free_locale(); // twice in a row: a null lookup is fine
    const char *text = "untouched";
    EXPECT_FALSE(obs_module_get_string("Pinvale.FilterName", &text));
    EXPECT_STREQ(module_text("Pinvale.ModuleName"), "Pinvale.ModuleName");
    obs_module_set_locale("de-DE");
    obs_module_set_locale("en-US"); // replaces the first lookup
    EXPECT_STREQ(module_text("Pinvale.ModuleName"), "Pinvale marker zoom");
    EXPECT_STREQ(module_text("Pinvale.NoSuchKey"), "Pinvale.NoSuchKey");
    obs_module_free_locale();

    const size_t mark = log_mark();
    plugin_log(LOG_WARNING, "100%% of %s", "frames");
    const std::vector<log_line> lines = captured_log_since(mark);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(std::tuple(lines[0].level, lines[0].text),
              std::tuple(LOG_WARNING, "[pinvaler-filter] 100% of frames"));
}

} // namespace

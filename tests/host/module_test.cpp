// The module as the host sees it: entry points, registration, texts and logging.
#include "host_environment.h"
#include "module/module_entry.h"
#include "module/filter_registration.h"
#include "module/module_text.h"
#include "module/plugin_log.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <obs.h>
#include <set>
#include <string>

namespace {

TEST(Module, LogsTheLoadLineOnce) {
    size_t exact = 0;
    for (const log_line &line : captured_log())
        if (line.level == LOG_INFO &&
            line.text == "[pinvaler-filter] Pinvale filter plugin loaded (version 1.0.0-rc4)")
            ++exact;
    EXPECT_EQ(exact, 1u);
}

TEST(Module, RegistersTheFilterType) {
    bool found = false;
    const char *id = nullptr;
    for (size_t i = 0; obs_enum_filter_types(i, &id); ++i)
        found = found || std::string(id) == "pinvaler_filter";
    EXPECT_TRUE(found);
    EXPECT_EQ(obs_get_source_output_flags("pinvaler_filter"),
              static_cast<uint32_t>(OBS_SOURCE_VIDEO));
    EXPECT_STREQ(obs_source_get_display_name("pinvaler_filter"), "Pinvale Marker Zoom");

    obs_data_t *defaults = obs_get_source_defaults("pinvaler_filter");
    ASSERT_NE(defaults, nullptr);
    EXPECT_STREQ(obs_data_get_string(defaults, "pv_version"), "1.0.0-rc4");
    obs_data_release(defaults);
}

TEST(Module, ExportsExactlyTheTenEntryPoints) {
    const std::string command = std::string("nm -D --defined-only '") + PINVALER_MODULE_PATH + "'";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof(line), pipe)) {
        std::string text(line);
        text.erase(text.find_last_not_of("\r\n") + 1);
        const size_t space = text.find_last_of(' ');
        exported.insert(text.substr(space + 1));
    }
    ASSERT_EQ(pclose(pipe), 0);
    const std::set<std::string> expected = {"obs_module_set_pointer", "obs_module_ver",
                                            "obs_module_set_locale",  "obs_module_free_locale",
                                            "obs_module_get_string",  "obs_module_author",
                                            "obs_module_name",        "obs_module_description",
                                            "obs_module_load",        "obs_module_unload"};
    EXPECT_EQ(exported, expected);
}

// The tests' own copy of the module code starts with no locale loaded.
TEST(ModuleText, FallsBackToKeysAndFollowsTheLocale) {
    obs_module_free_locale();
    obs_module_free_locale(); // twice in a row: a null lookup is fine
    EXPECT_STREQ(obs_module_name(), "Pinvale.ModuleName");
    EXPECT_STREQ(filter_get_name(nullptr), "Pinvale.FilterName");
    const char *text = "untouched";
    EXPECT_FALSE(obs_module_get_string("Pinvale.FilterName", &text));

    obs_module_set_locale("en-US");
    obs_module_set_locale("de-DE"); // replaces the first lookup
    obs_module_set_locale("en-US");
    EXPECT_STREQ(obs_module_name(), "Pinvale marker zoom");
    EXPECT_STREQ(obs_module_description(),
                 "Follows two printed AprilTag markers and crops the source to the region between "
                 "them.");
    EXPECT_STREQ(module_text("Pinvale.NoSuchKey"), "Pinvale.NoSuchKey");
    EXPECT_TRUE(obs_module_get_string("Pinvale.FilterName", &text));
    EXPECT_STREQ(text, "Pinvale Marker Zoom");

    obs_module_free_locale();
    EXPECT_STREQ(obs_module_description(), "Pinvale.ModuleDescription");
    EXPECT_EQ(obs_module_ver(), 0x1F010001u);
    EXPECT_STREQ(obs_module_author(), "The Pinvale developers");
}

TEST(PluginLog, PrefixesTheModuleNameAndKeepsConversions) {
    const size_t mark = log_mark();
    plugin_log(LOG_INFO, "100%% of %s", "frames");
    plugin_log(LOG_WARNING, "plain");
    const std::vector<log_line> lines = captured_log_since(mark);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, LOG_INFO);
    EXPECT_EQ(lines[0].text, "[pinvaler-filter] 100% of frames");
    EXPECT_EQ(lines[1].level, LOG_WARNING);
    EXPECT_EQ(lines[1].text, "[pinvaler-filter] plain");
}

} // namespace

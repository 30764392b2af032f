// The settings panel through the real host, and the button that opens the markers sheet.
#include "filter/filter_callbacks.h"
#include "host_environment.h"
#include "module/module_entry.h"
#include "module_data_dir.h"
#include "platform/open_default_app.h"
#include "stand_in_desktop.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

struct expected_property {
    const char *key;
    obs_property_type type;
    const char *label_key;
    std::vector<std::pair<const char *, long long>> list = {}; // label key or name, value
    double min = 0, max = 0, step = 0;                         // numbers only
};

const expected_property panel[] = {
    {"enable_tracking", OBS_PROPERTY_BOOL, "Pinvale.EnableTracking"},
    {"tag_family", OBS_PROPERTY_LIST, "Pinvale.TagFamily", {{"tag16h5", 0}, {"circle21h7", 1}}},
    {"tag_id_a", OBS_PROPERTY_INT, "Pinvale.TagIdA", {}, 0, 1, 1},
    {"tag_id_b", OBS_PROPERTY_INT, "Pinvale.TagIdB", {}, 0, 1, 1},
    {"padding", OBS_PROPERTY_FLOAT, "Pinvale.Padding", {}, 0, 500, 1},
    {"detect_width",
     OBS_PROPERTY_LIST,
     "Pinvale.DetectionDetail",
     {{"Pinvale.Detail640", 640},
      {"Pinvale.Detail960", 960},
      {"Pinvale.Detail1440", 1440},
      {"Pinvale.Detail1920", 1920},
      {"Pinvale.Detail2560", 2560},
      {"Pinvale.Detail3840", 3840}}},
    {"detect_fps",
     OBS_PROPERTY_LIST,
     "Pinvale.TrackingUpdates",
     {{"Pinvale.Rate3", 3},
      {"Pinvale.Rate5", 5},
      {"Pinvale.Rate10", 10},
      {"Pinvale.Rate15", 15},
      {"Pinvale.Rate30", 30}}},
    {"detection_help", OBS_PROPERTY_TEXT, "Pinvale.DetectionHelp"},
    {"follow_half_life_ms", OBS_PROPERTY_FLOAT, "Pinvale.Smoothing", {}, 0, 2000, 1},
    {"open_tags_pdf", OBS_PROPERTY_BUTTON, "Pinvale.PrintMarkers"},
    {"hide_without_both_tags", OBS_PROPERTY_BOOL, "Pinvale.HideWithoutBoth"},
    {"hide_without_both_help", OBS_PROPERTY_TEXT, "Pinvale.HideWithoutBothHelp"},
    {"pv_version", OBS_PROPERTY_TEXT, "Pinvale.Version"},
};

// `english`: the en-US file, read by the host's own lookup; null: no locale, keys are shown.
void expect_panel(obs_properties_t *props, lookup_t *english) {
    const auto text = [english](const char *key) {
        const char *shown = key;
        // Every locale key has its English text; the family names are shown as written.
        const bool found = text_lookup_getstr(english, key, &shown);
        EXPECT_EQ(found, english && std::string(key).starts_with("Pinvale.")) << key;
        return std::string(shown);
    };
    ASSERT_NE(props, nullptr);
    size_t index = 0;
    for (obs_property_t *p = obs_properties_first(props); p; obs_property_next(&p), ++index) {
        ASSERT_LT(index, std::size(panel)) << "more than thirteen properties";
        const expected_property &want = panel[index];
        SCOPED_TRACE(want.key);
        EXPECT_STREQ(obs_property_name(p), want.key);
        EXPECT_EQ(obs_property_get_type(p), want.type);
        EXPECT_EQ(obs_property_description(p), text(want.label_key));
        EXPECT_EQ(obs_property_long_description(p), nullptr);
        if (want.type == OBS_PROPERTY_INT) {
            EXPECT_EQ(std::tuple(obs_property_int_type(p), obs_property_int_min(p),
                                 obs_property_int_max(p), obs_property_int_step(p)),
                      std::tuple(OBS_NUMBER_SCROLLER, want.min, want.max, want.step));
        }
        if (want.type == OBS_PROPERTY_FLOAT) {
            EXPECT_EQ(std::tuple(obs_property_float_type(p), obs_property_float_min(p),
                                 obs_property_float_max(p), obs_property_float_step(p)),
                      std::tuple(want.max == 2000 ? OBS_NUMBER_SLIDER : OBS_NUMBER_SCROLLER,
                                 want.min, want.max, want.step));
        }
        if (want.type == OBS_PROPERTY_TEXT) {
            EXPECT_EQ(obs_property_text_type(p), OBS_TEXT_INFO);
        }
        if (want.type != OBS_PROPERTY_LIST)
            continue;
        EXPECT_EQ(obs_property_list_type(p), OBS_COMBO_TYPE_LIST);
        EXPECT_EQ(obs_property_list_format(p), OBS_COMBO_FORMAT_INT);
        ASSERT_EQ(obs_property_list_item_count(p), want.list.size());
        for (size_t i = 0; i < want.list.size(); ++i) {
            EXPECT_EQ(obs_property_list_item_name(p, i), text(want.list[i].first));
            EXPECT_EQ(obs_property_list_item_int(p, i), want.list[i].second);
        }
    }
    EXPECT_EQ(index, std::size(panel));
}

TEST(PropertiesPanel, HostShowsTheThirteenPropertiesInEnglishAndKeysWithoutALocale) {
    lookup_t *english = text_lookup_create(PINVALER_DATA_DIR "/locale/en-US.ini");
    ASSERT_NE(english, nullptr);
    obs_properties_t *props = obs_get_source_properties("pinvaler_filter");
    expect_panel(props, english);
    obs_properties_destroy(props);
    text_lookup_destroy(english);

    obs_module_free_locale(); // the tests' own copy of the module code
    props = filter_get_properties(nullptr);
    expect_panel(props, nullptr);
    obs_properties_destroy(props);
}

const std::string sheet = "tags/pinvaler-tags-tag16h5-circle21h7.pdf";

bool click_markers_button(obs_properties_t *props) {
    return obs_property_button_clicked(obs_properties_get(props, "open_tags_pdf"), nullptr);
}

TEST(TagsPdfButton, MissingOrUnopenableSheetWarnsOnEveryClickAndOpensNothing) {
    module_data_dir dir("no-pdf");
    fs::create_directories(dir.file("tags"));
    obs_properties_t *props = filter_get_properties(nullptr);
    const size_t mark = log_mark();
    for (size_t click = 1; click <= 2; ++click) {
        EXPECT_FALSE(click_markers_button(props));
        EXPECT_EQ(count_log_since(mark, LOG_WARNING, "Pinvale: tags PDF not found in module data"),
                  click);
    }
    EXPECT_EQ(captured_log_since(mark).size(), 2u);
    fs::create_directory(dir.file(sheet)); // found, but nothing opens a folder as a PDF
    EXPECT_FALSE(click_markers_button(props));
    EXPECT_EQ(count_log_since(mark, LOG_WARNING,
                              "Pinvale: failed to open tags PDF: " + dir.file(sheet).string()),
              1u);
    EXPECT_FALSE(open_request_pending());
    obs_properties_destroy(props);
}

TEST(TagsPdfButton, HostButtonOpensTheShippedSheetWithoutWaitingOrZombies) {
    obs_properties_t *props = obs_get_source_properties("pinvaler_filter");
    const size_t mark = log_mark();
    EXPECT_FALSE(click_markers_button(props));
    obs_properties_destroy(props);
    const std::optional<open_request> request = take_open_request();
    ASSERT_TRUE(request.has_value());
    EXPECT_TRUE(request->viewer_running) << "the click waited for the viewer";
    EXPECT_TRUE(request->uri.starts_with("file:///")) << request->uri;
    gchar *path = g_filename_from_uri(request->uri.c_str(), nullptr, nullptr);
    ASSERT_NE(path, nullptr) << request->uri;
    EXPECT_EQ(fs::path(path), (fs::absolute(PINVALER_DATA_DIR) / sheet).lexically_normal());
    g_free(path);
    EXPECT_EQ(captured_log_since(mark).size(), 0u);
    // Nothing to reap: no child is running and none has become a zombie.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
}

TEST(OpenDefaultApp, MakesRelativePathsAbsoluteAndEscapedAndRefusesTheRest) {
    const fs::path dir = fs::temp_directory_path() / ("pinvaler-open-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "a b#%\xc3\xbc.pdf") << "%PDF-1.4\n%%EOF\n";
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    const bool accepted = open_with_default_app("a b#%\xc3\xbc.pdf");
    fs::current_path(previous);
    const std::optional<open_request> request = take_open_request();
    fs::remove_all(dir);
    EXPECT_TRUE(accepted);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->uri, "file://" + dir.string() + "/a%20b%23%25%C3%BC.pdf");

    for (const char *path : {static_cast<const char *>(nullptr), "", "/nonexistent/pinvaler.pdf"})
        EXPECT_FALSE(open_with_default_app(path)) << (path ? path : "null");
    EXPECT_FALSE(open_request_pending());
}

} // namespace

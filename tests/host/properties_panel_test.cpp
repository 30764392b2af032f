// The settings panel through the real host, and the button that opens the markers sheet.
#include "host_harness.h"
#include "platform/open_default_app.h"

#include <fstream>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

// One line per property: key, type and label, then its number range, text kind or list items.
std::string describe(obs_properties_t *props) {
    const char *const types[] = {"?", "bool", "int", "float", "text", "path", "list", "", "button"};
    std::ostringstream out;
    const auto range = [&out](obs_number_type kind, double min, double max, double step) {
        out << (kind == OBS_NUMBER_SLIDER ? " slider " : " scroller ") << min << ".." << max
            << " step " << step;
    };
    for (obs_property_t *p = obs_properties_first(props); p; obs_property_next(&p)) {
        const obs_property_type type = obs_property_get_type(p);
        out << obs_property_name(p) << ' ' << types[type] << ' ' << obs_property_description(p);
        if (type == OBS_PROPERTY_INT)
            range(obs_property_int_type(p), obs_property_int_min(p), obs_property_int_max(p),
                  obs_property_int_step(p));
        if (type == OBS_PROPERTY_FLOAT)
            range(obs_property_float_type(p), obs_property_float_min(p), obs_property_float_max(p),
                  obs_property_float_step(p));
        if (type == OBS_PROPERTY_TEXT && obs_property_text_type(p) == OBS_TEXT_INFO)
            out << " info";
        if (type == OBS_PROPERTY_LIST && obs_property_list_type(p) != OBS_COMBO_TYPE_LIST)
            out << " editable";
        // An item's number reads 0 unless the list holds numbers.
        for (size_t i = 0; i < obs_property_list_item_count(p); ++i)
            out << ' ' << obs_property_list_item_name(p, i) << '='
                << obs_property_list_item_int(p, i);
        out << '\n';
    }
    return out.str();
}

TEST(PropertiesPanel, HostShowsTheThirteenPropertiesThenTheAddedOnesWithTheirKeysWithoutALocale) {
    obs_properties_t *props = nullptr;
    {
        // The loaded module finds no texts in an empty data folder.
        module_data_dir no_texts("no-texts");
        obs_set_locale("en-US");
        props = obs_get_source_properties("pinvaler_filter");
    }
    obs_set_locale("en-US");
    EXPECT_EQ(describe(props), R"(enable_tracking bool Pinvale.EnableTracking
tag_family list Pinvale.TagFamily tag16h5=0 circle21h7=1
tag_id_a int Pinvale.TagIdA scroller 0..1 step 1
tag_id_b int Pinvale.TagIdB scroller 0..1 step 1
padding float Pinvale.Padding scroller 0..500 step 1
detect_width list Pinvale.DetectionDetail Pinvale.Detail640=640 Pinvale.Detail960=960 Pinvale.Detail1440=1440 Pinvale.Detail1920=1920 Pinvale.Detail2560=2560 Pinvale.Detail3840=3840
detect_fps list Pinvale.TrackingUpdates Pinvale.Rate3=3 Pinvale.Rate5=5 Pinvale.Rate10=10 Pinvale.Rate15=15 Pinvale.Rate30=30
detection_help text Pinvale.DetectionHelp info
follow_half_life_ms float Pinvale.Smoothing slider 0..2000 step 1
open_tags_pdf button Pinvale.PrintMarkers
hide_without_both_tags bool Pinvale.HideWithoutBoth
hide_without_both_help text Pinvale.HideWithoutBothHelp info
pv_version text Pinvale.Version info
crop_shape list Pinvale.CropShape Pinvale.CropShapeCanvas=0 Pinvale.CropShapeSource=1
force_gpu_intake bool Pinvale.ForceGpuIntake
force_gpu_intake_help text Pinvale.ForceGpuIntakeHelp info
show_setup_view bool Pinvale.ShowSetupView
show_setup_view_help text Pinvale.ShowSetupViewHelp info
)");
    obs_properties_destroy(props);
}

bool click_markers_button() {
    obs_properties_t *props = obs_get_source_properties("pinvaler_filter");
    const bool changed =
        obs_property_button_clicked(obs_properties_get(props, "open_tags_pdf"), nullptr);
    obs_properties_destroy(props);
    return changed;
}

TEST(TagsPdfButton, WarnsWhileTheSheetIsMissingOrUnopenableAndOpensItWithoutWaiting) {
    const std::string sheet = "tags/pinvaler-tags-tag16h5-circle21h7.pdf";
    {
        module_data_dir dir("no-pdf");
        fs::create_directories(dir.file("tags"));
        const size_t mark = log_mark();
        for (size_t click = 1; click <= 2; ++click) {
            EXPECT_FALSE(click_markers_button());
            EXPECT_EQ(
                count_log_since(mark, LOG_WARNING, "Pinvale: tags PDF not found in module data"),
                click);
        }
        fs::create_directory(dir.file(sheet)); // found, but nothing opens a folder as a PDF
        EXPECT_FALSE(click_markers_button());
        EXPECT_EQ(count_log_since(mark, LOG_WARNING,
                                  "Pinvale: failed to open tags PDF: " + dir.file(sheet).string()),
                  1u);
        EXPECT_EQ(log_since(mark).size(), 3u);
        EXPECT_FALSE(open_request_pending());
    }
    const size_t mark = log_mark();
    EXPECT_FALSE(click_markers_button());
    const open_request request = take_open_request();
    EXPECT_TRUE(request.viewer_running) << "the click waited for the viewer";
    gchar *path = g_filename_from_uri(request.uri.c_str(), nullptr, nullptr);
    ASSERT_NE(path, nullptr) << request.uri;
    EXPECT_EQ(fs::path(path), (fs::absolute(PINVALER_DATA_DIR) / sheet).lexically_normal());
    g_free(path);
    EXPECT_EQ(log_since(mark).size(), 0u);
    // Nothing to reap: no child is running and none has become a zombie.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
}

TEST(OpenDefaultApp, MakesRelativePathsAbsoluteAndEscapedAndRefusesTheRest) {
    const fs::path dir = fs::temp_directory_path() / ("pinvaler-open-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "a b#%\xc3\xbc.pdf") << "%PDF-1.4\n%%EOF\n";
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    EXPECT_TRUE(open_with_default_app("a b#%\xc3\xbc.pdf"));
    fs::current_path(previous);
    EXPECT_EQ(take_open_request().uri, "file://" + dir.string() + "/a%20b%23%25%C3%BC.pdf");
    fs::remove_all(dir);
    for (const char *path : {static_cast<const char *>(nullptr), "", "/nonexistent/pinvaler.pdf"})
        EXPECT_FALSE(open_with_default_app(path)) << (path ? path : "null");
    EXPECT_FALSE(open_request_pending());
}

} // namespace

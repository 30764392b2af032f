#include "host_harness.h"
#include "module/module.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <png.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
const fs::path desktop =
    fs::temp_directory_path() / ("pinvaler-desktop-" + std::to_string(getpid()));

struct host_environment : ::testing::Environment {
    void SetUp() override {
        install_stand_in_desktop(); // before any thread or GIO use
        // The host unloads its graphics module and the GL driver at shutdown, after which leak
        // reports cannot name them; kept loaded, their start-up allocations can be told apart
        // from ours (see tests/lsan.supp).
        for (const char *library : {"libobs-opengl.so", "libGLX_mesa.so.0",
                                    "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"})
            dlopen(library, RTLD_NOW | RTLD_NODELETE);
        capture_host_log(std::getenv("PINVALER_TEST_LOG") != nullptr);
        std::string error;
        ASSERT_TRUE(
            start_host({.canvas_width = canvas_width, .canvas_height = canvas_height}, error))
            << error;
        obs_module_t *module = load_module(PINVALER_MODULE_PATH, PINVALER_DATA_DIR, error);
        ASSERT_NE(module, nullptr) << error;
        // The tests' own copy of the plug-in resolves data files through the same module.
        obs_module_set_pointer(module);
        wait_for_quiet_host();
    }

    void TearDown() override {
        obs_module_free_locale();
        stop_host();
        const long leaked = bnum_allocs();
        release_host_log();
        EXPECT_EQ(leaked, 0) << "host allocations still live after shutdown";
    }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new host_environment);

// Opening the module again is the host's only way to give it another data folder; it also moves
// the loaded module's own pointer.
void point_module_at(const fs::path &data) {
    obs_module_t *module = nullptr;
    EXPECT_EQ(obs_open_module(&module, PINVALER_MODULE_PATH, data.c_str()), MODULE_SUCCESS);
    obs_module_set_pointer(module);
}

} // namespace

int process_thread_count() {
    return static_cast<int>(
        std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

void wait_for_quiet_host() {
    obs_wait_for_destroy_queue();
    auto counts = std::pair(bnum_allocs(), process_thread_count());
    for (int steady = 0, tries = 0; steady < 4 && tries < 100; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto now = std::pair(bnum_allocs(), process_thread_count());
        steady = now == counts ? steady + 1 : 0;
        counts = now;
    }
}

module_data_dir::module_data_dir(const std::string &name)
    : root(fs::temp_directory_path() / ("pinvaler-data-" + std::to_string(getpid()) + "-" + name)) {
    fs::remove_all(root);
    fs::create_directories(root);
    point_module_at(root);
}

module_data_dir::~module_data_dir() {
    point_module_at(PINVALER_DATA_DIR);
    fs::remove_all(root);
}

void install_stand_in_desktop() {
    fs::remove_all(desktop);
    fs::create_directories(desktop / "data" / "applications");
    fs::create_directories(desktop / "config");
    // The system's MIME database, so that GIO still knows a PDF when it sees one.
    fs::create_directory_symlink("/usr/share/mime", desktop / "data" / "mime");
    // Stays open a while, as a viewer would: a click that waited for it would be seen.
    std::ofstream(desktop / "viewer") << "#!/bin/sh\necho \"$$ $1\" > \"$0.part\"\n"
                                         "mv \"$0.part\" \"$(dirname \"$0\")/opened\"\nsleep 2\n";
    fs::permissions(desktop / "viewer", fs::perms::owner_all);
    // NoFuse: GIO hands the URI over as given instead of turning it into a path.
    std::ofstream(desktop / "data" / "applications" / "pinvaler-viewer.desktop")
        << "[Desktop Entry]\nType=Application\nName=Stand-in viewer\nExec="
        << (desktop / "viewer").string() << " %u\nMimeType=application/pdf;\nX-GIO-NoFuse=true\n";
    std::ofstream(desktop / "config" / "mimeapps.list")
        << "[Default Applications]\napplication/pdf=pinvaler-viewer.desktop\n";
    // No system folders (no real viewer), no session bus (nothing autolaunched, no portal).
    for (const auto &[name, path] : {std::pair{"XDG_DATA_HOME", "data"},
                                     {"XDG_DATA_DIRS", "none"},
                                     {"XDG_CONFIG_HOME", "config"},
                                     {"XDG_CONFIG_DIRS", "none"}})
        setenv(name, (desktop / path).c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (desktop / "no-bus").string()).c_str(), 1);
    std::atexit([] { fs::remove_all(desktop); });
}

bool open_request_pending() {
    return fs::exists(desktop / "opened");
}

open_request take_open_request() {
    open_request request{"", false};
    pid_t viewer = 0;
    if (wait_until(open_request_pending) &&
        std::ifstream(desktop / "opened") >> viewer >> request.uri)
        request.viewer_running = kill(viewer, 0) == 0;
    fs::remove(desktop / "opened");
    return request;
}

rgba_image tag_picture(tag_family_kind family, tag_scene kind, int32_t width, int32_t height) {
    return rgba_image(make_tag_scene(family, kind, width, height).image);
}

rgba_image shifted_scene(tag_scene kind, int32_t width, int32_t height, int32_t shift, bool colour,
                         tag_family_kind family) {
    const grey_image image = make_tag_scene(family, kind, width, height).image;
    rgba_image picture(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t *p = picture.at(x, y);
            p[0] = p[1] = p[2] = x >= shift && y >= shift ? image.at(x - shift, y - shift) : 128;
            p[2] = colour ? static_cast<uint8_t>(255 - p[2]) : p[2];
            p[3] = 255;
        }
    return picture;
}

crop_parameters region_of(const crop_rect &t, int32_t frame_width, int32_t frame_height) {
    const float w = static_cast<float>(frame_width), h = static_cast<float>(frame_height);
    return {t.width / w, t.height / h, (t.center_x - t.width / 2) / w,
            (t.center_y - t.height / 2) / h, 1.0f};
}

float crop_distance(const crop_parameters &a, const crop_parameters &b) {
    return std::max({std::fabs(a.crop_scale_x - b.crop_scale_x),
                     std::fabs(a.crop_scale_y - b.crop_scale_y),
                     std::fabs(a.crop_offset_x - b.crop_offset_x),
                     std::fabs(a.crop_offset_y - b.crop_offset_y)});
}

bool crop_on_target(const filter_state &s, float within) {
    const tracking_status &t = s.status;
    return t.target_valid && t.target_frame_width > 0 &&
           crop_distance(s.crop, region_of(t.target_rect, t.target_frame_width,
                                           t.target_frame_height)) <= within;
}

int worst_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    int worst = a.size() == b.size() ? 0 : 256;
    for (size_t i = 0; worst < 256 && i < a.size(); ++i)
        worst = std::max(worst, std::abs(int{a[i]} - int{b[i]}));
    return worst;
}

int worst_difference(const rgba_image &a, const rgba_image &b) {
    return a.width == b.width && a.height == b.height ? worst_difference(a.pixels, b.pixels) : 256;
}

std::pair<uint64_t, int32_t> readback_counts(filter_instance *instance) {
    obs_enter_graphics();
    const graphics_part &graphics = instance->graphics;
    const auto counts = std::pair(graphics.stages, graphics.readback.pending());
    obs_leave_graphics();
    return counts;
}

void shown_filter::TearDown() {
    obs_set_output_source(0, nullptr);
    remove_filter();
    obs_source_release(parent);
    obs_wait_for_destroy_queue();
}

void shown_filter::add_filter(bool gpu) {
    if (!parent) {
        gpu_source = gpu;
        parent = gpu ? create_picture_source("shown", shifted_scene(tag_scene::empty, 640, 360))
                     : create_push_source("shown");
        ASSERT_NE(parent, nullptr);
        obs_set_output_source(0, parent);
    }
    filter = obs_source_create_private(filter_source_id, "shown filter", settings.get());
    ASSERT_NE(filter, nullptr);
    obs_source_filter_add(parent, filter);
}

void shown_filter::remove_filter() {
    if (parent && filter)
        obs_source_filter_remove(parent, filter);
    obs_source_release(filter);
    filter = nullptr;
}

void shown_filter::show(const rgba_image &picture, video_format format) const {
    if (gpu_source)
        set_source_picture(parent, picture);
    else
        host_frame(format, picture).push_to(parent);
}

rgba_image crop_reference(const rgba_image &picture, const crop_parameters &crop,
                          bool swap_red_blue) {
    const int32_t w = picture.width, h = picture.height;
    rgba_image out(w, h);
    // The source position of an output pixel's centre; texel centres sit at half-integers.
    const auto source_at = [](int32_t i, int32_t n, float scale, float offset) {
        const float u = (static_cast<float>(i) + 0.5f) / static_cast<float>(n);
        return std::clamp((u * scale + offset) * static_cast<float>(n) - 0.5f, 0.0f,
                          static_cast<float>(n - 1));
    };
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const float sx = source_at(x, w, crop.crop_scale_x, crop.crop_offset_x);
            const float sy = source_at(y, h, crop.crop_scale_y, crop.crop_offset_y);
            const int32_t x0 = static_cast<int32_t>(sx), y0 = static_cast<int32_t>(sy);
            const int32_t x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
            const float fx = sx - static_cast<float>(x0), fy = sy - static_cast<float>(y0);
            uint8_t *p = out.at(x, y);
            for (int c = 0; c < 3; ++c) {
                const float top = picture.at(x0, y0)[c] * (1 - fx) + picture.at(x1, y0)[c] * fx;
                const float bottom = picture.at(x0, y1)[c] * (1 - fx) + picture.at(x1, y1)[c] * fx;
                p[swap_red_blue ? 2 - c : c] = static_cast<uint8_t>(
                    std::lround((top * (1 - fy) + bottom * fy) * crop.crop_visibility));
            }
            p[3] = static_cast<uint8_t>(255 * crop.crop_visibility);
        }
    return out;
}

bool write_png(const std::string &path, const rgba_image &picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<uint32_t>(picture.width);
    image.height = static_cast<uint32_t>(picture.height);
    image.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&image, path.c_str(), 0, picture.pixels.data(), 0, nullptr) != 0;
}

void expect_crop_of_drawn_pair(const crop_rect &found, int detect_width, int detect_height,
                               int source_width, int source_height, tag_family_kind family) {
    const std::vector<placed_marker> drawn =
        make_tag_scene(family, tag_scene::pair, detect_width, detect_height).markers;
    const crop_target want = crop_target_from_pair(
        expected_tag_quad(family, drawn[0].grid), expected_tag_quad(family, drawn[1].grid),
        detect_width, detect_height, source_width, source_height, 0.0f, canvas_width, canvas_height,
        crop_shape_kind::canvas);
    // Detected corners lie within corner_tolerance detection pixels of the drawn ones: that
    // moves an edge by as many source pixels, the canvas-shaped size by 16/9 of two edges, and
    // whole-pixel rounding adds 1.
    const float edge = corner_tolerance * static_cast<float>(source_width) / detect_width;
    EXPECT_NEAR(found.center_x, want.center_x, edge + 1.0f);
    EXPECT_NEAR(found.center_y, want.center_y, edge + 1.0f);
    EXPECT_NEAR(found.width, want.width, 2.0f * edge * 16.0f / 9.0f + 2.0f);
    EXPECT_NEAR(found.height, want.height, 2.0f * edge * 16.0f / 9.0f + 2.0f);
    EXPECT_NEAR(found.width / found.height, 16.0f / 9.0f, 0.05f) << "the canvas's aspect";
}

#include "host_harness.h"
#include "module/module_entry.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstdarg>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <obs.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
const fs::path desktop =
    fs::temp_directory_path() / ("pinvaler-desktop-" + std::to_string(getpid()));
std::mutex log_mutex;
std::vector<log_line> log_lines;

const bool echo_log = std::getenv("PINVALER_TEST_LOG") != nullptr;

void capture_log(int level, const char *format, va_list args, void *) {
    char text[4096];
    std::vsnprintf(text, sizeof(text), format, args);
    std::lock_guard<std::mutex> lock(log_mutex);
    if (echo_log)
        std::fprintf(stderr, "host: %s\n", text);
    log_lines.push_back({level, text});
}

struct host_environment : ::testing::Environment {
    void SetUp() override {
        install_stand_in_desktop(); // before any thread or GIO use
        // The host unloads its graphics module and the GL driver at shutdown, after which leak
        // reports cannot name them; kept loaded, their start-up allocations can be told apart
        // from ours (see tests/lsan.supp).
        for (const char *library : {"libobs-opengl.so", "libGLX_mesa.so.0",
                                    "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"})
            dlopen(library, RTLD_NOW | RTLD_NODELETE);
        base_set_log_handler(capture_log, nullptr);
        ASSERT_TRUE(obs_startup("en-US", nullptr, nullptr)) << "is there an X display?";
        constexpr uint32_t w = canvas_width, h = canvas_height;
        // clang-format off
        obs_video_info video{"libobs-opengl", 30, 1, w, h, w, h, VIDEO_FORMAT_NV12, 0, true,
                             VIDEO_CS_709, VIDEO_RANGE_PARTIAL, OBS_SCALE_BICUBIC};
        // clang-format on
        ASSERT_EQ(obs_reset_video(&video), OBS_VIDEO_SUCCESS);
        obs_module_t *module = nullptr;
        ASSERT_EQ(obs_open_module(&module, PINVALER_MODULE_PATH, PINVALER_DATA_DIR),
                  MODULE_SUCCESS);
        ASSERT_TRUE(obs_init_module(module));
        // The tests' own copy of the plug-in resolves data files through the same module.
        obs_module_set_pointer(module);
        wait_for_quiet_host();
    }

    void TearDown() override {
        obs_module_free_locale();
        obs_shutdown();
        const long leaked = bnum_allocs();
        base_set_log_handler(nullptr, nullptr);
        EXPECT_EQ(leaked, 0) << "host allocations still live after shutdown";
    }
};

const auto *registered = ::testing::AddGlobalTestEnvironment(new host_environment);

} // namespace

size_t log_mark() {
    return captured_log_since(0).size();
}

std::vector<log_line> captured_log_since(size_t mark) {
    std::lock_guard<std::mutex> lock(log_mutex);
    return {log_lines.begin() + static_cast<long>(std::min(mark, log_lines.size())),
            log_lines.end()};
}

size_t count_log_since(size_t mark, int level, const std::string &needle) {
    const std::vector<log_line> lines = captured_log_since(mark);
    return std::count_if(lines.begin(), lines.end(), [&](const log_line &line) {
        return line.level == level && line.text.find(needle) != std::string::npos;
    });
}

bool wait_until(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
    for (const auto deadline = std::chrono::steady_clock::now() + timeout; !condition();
         std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
    return true;
}

int process_thread_count() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                          std::filesystem::directory_iterator()));
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

// Opening the module again is the host's only way to give it another data folder; it also moves
// the loaded module's own pointer.
static void point_module_at(const fs::path &data) {
    obs_module_t *module = nullptr;
    EXPECT_EQ(obs_open_module(&module, PINVALER_MODULE_PATH, data.c_str()), MODULE_SUCCESS);
    obs_module_set_pointer(module);
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

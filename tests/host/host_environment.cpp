#include "host_environment.h"
#include "module/module_entry.h"
#include "stand_in_desktop.h"

#include <cstdarg>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <obs.h>
#include <thread>

namespace {

std::mutex log_mutex;
std::vector<log_line> log_lines;

void capture_log(int level, const char *format, va_list args, void *) {
    char text[4096];
    std::vsnprintf(text, sizeof(text), format, args);
    std::lock_guard<std::mutex> lock(log_mutex);
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
        constexpr uint32_t w = host_setup::canvas_width, h = host_setup::canvas_height;
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

#include "host_environment.h"
#include "module/module_entry.h"
#include "stand_in_desktop.h"

#include <cstdarg>
#include <cstdio>
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <mutex>
#include <obs.h>
#include <thread>

namespace {

std::mutex log_mutex;
std::vector<log_line> log_lines;
obs_module_t *module_handle = nullptr;

void capture_log(int level, const char *format, va_list args, void *) {
    char text[4096];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(text, sizeof(text), format, copy);
    va_end(copy);
    if (std::getenv("PINVALER_TEST_LOG"))
        std::fprintf(stderr, "[host %d] %s\n", level, text);
    std::lock_guard<std::mutex> lock(log_mutex);
    log_lines.push_back({level, text});
}

// The host unloads its graphics module and the GL driver at shutdown, after
// which leak reports cannot name them. Kept loaded, their own start-up
// allocations can be told apart from ours (see tests/lsan.supp).
void keep_graphics_stack_resident() {
    for (const char *library :
         {"libobs-opengl.so", "libGLX_mesa.so.0", "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"})
        dlopen(library, RTLD_NOW | RTLD_NODELETE);
}

class host_environment : public ::testing::Environment {
public:
    void SetUp() override {
        install_stand_in_desktop(); // before any thread or GIO use
        keep_graphics_stack_resident();
        base_set_log_handler(capture_log, nullptr);
        ASSERT_TRUE(obs_startup("en-US", nullptr, nullptr)) << "is there an X display?";

        obs_video_info video{};
        video.graphics_module = "libobs-opengl";
        video.fps_num = 30;
        video.fps_den = 1;
        video.base_width = host_setup::canvas_width;
        video.base_height = host_setup::canvas_height;
        video.output_width = host_setup::canvas_width;
        video.output_height = host_setup::canvas_height;
        video.output_format = VIDEO_FORMAT_NV12;
        video.gpu_conversion = true;
        video.colorspace = VIDEO_CS_709;
        video.range = VIDEO_RANGE_PARTIAL;
        video.scale_type = OBS_SCALE_BICUBIC;
        ASSERT_EQ(obs_reset_video(&video), OBS_VIDEO_SUCCESS);

        ASSERT_EQ(obs_open_module(&module_handle, PINVALER_MODULE_PATH, PINVALER_DATA_DIR),
                  MODULE_SUCCESS);
        ASSERT_TRUE(obs_init_module(module_handle));
        // The tests' own copy of the plug-in resolves data files through the same module.
        obs_module_set_pointer(module_handle);
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

obs_module_t *loaded_module() {
    return module_handle;
}

std::vector<log_line> captured_log() {
    std::lock_guard<std::mutex> lock(log_mutex);
    return log_lines;
}

size_t log_mark() {
    std::lock_guard<std::mutex> lock(log_mutex);
    return log_lines.size();
}

std::vector<log_line> captured_log_since(size_t mark) {
    std::lock_guard<std::mutex> lock(log_mutex);
    if (mark >= log_lines.size())
        return {};
    return {log_lines.begin() + static_cast<std::ptrdiff_t>(mark), log_lines.end()};
}

size_t count_log_since(size_t mark, int level, const std::string &needle) {
    size_t n = 0;
    for (const log_line &line : captured_log_since(mark))
        if (line.level == level && line.text.find(needle) != std::string::npos)
            ++n;
    return n;
}

size_t count_log(int level, const std::string &needle) {
    return count_log_since(0, level, needle);
}

bool wait_until(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int process_thread_count() {
    int n = 0;
    if (DIR *dir = opendir("/proc/self/task")) {
        while (const dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                ++n;
        closedir(dir);
    }
    return n;
}

void wait_for_quiet_host() {
    obs_wait_for_destroy_queue();
    long allocs = bnum_allocs();
    int threads = process_thread_count();
    int steady = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (steady < 4 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const long now_allocs = bnum_allocs();
        const int now_threads = process_thread_count();
        steady = now_allocs == allocs && now_threads == threads ? steady + 1 : 0;
        allocs = now_allocs;
        threads = now_threads;
    }
}

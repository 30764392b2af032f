// pinvaler-preview: runs the plug-in in the real host over a clip or a built-in
// scene and shows what it did.
#include "module_location.h"
#include "preview_options.h"
#include "preview_run.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void on_interrupt(int) {
    interrupted.store(true);
}

bool exists(const std::string &path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::string absolute(const std::string &path) {
    char resolved[PATH_MAX] = {};
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::string find_in_path(const std::string &program) {
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t colon = dirs.find(':', start);
        const std::string dir =
            dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return {};
}

// The host draws with OpenGL through X. Without a display we start again under
// a virtual one; returns only when that is not possible.
void ensure_display(int argc, char **argv) {
    const char *display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0')
        return;
    if (std::getenv("PINVALER_PREVIEW_UNDER_XVFB") != nullptr)
        return; // xvfb-run gave us no display either; the host start-up says so
    const std::string xvfb_run = find_in_path("xvfb-run");
    if (xvfb_run.empty())
        return;
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0)
        return;
    setenv("PINVALER_PREVIEW_UNDER_XVFB", "1", 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    std::vector<char *> args = {const_cast<char *>(xvfb_run.c_str()), const_cast<char *>("-a"),
                                const_cast<char *>("-s"),
                                const_cast<char *>("-screen 0 1280x720x24 -nolisten tcp"), self};
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    std::fflush(stdout);
    execv(xvfb_run.c_str(), args.data());
    std::perror("pinvaler-preview: cannot start xvfb-run");
}

} // namespace

int main(int argc, char **argv) {
    const std::string program = "pinvaler-preview";
    const options_result parsed =
        parse_preview_options(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), parsed.error.c_str());
        return exit_usage;
    }
    const preview_options &options = parsed.options;
    if (options.help) {
        std::printf("%s", preview_usage(program).c_str());
        return exit_ok;
    }
    // The encoders' chatter is not for the user; their errors still show.
    av_log_set_level(options.host_log ? AV_LOG_INFO : AV_LOG_ERROR);
    if (!options.check_file.empty())
        return check_media_file(options.check_file);

    // A mistyped file name should not wait for a display to be started.
    if (!options.input.empty() && !exists(options.input)) {
        std::fprintf(stderr, "%s: %s: no such file\n", program.c_str(), options.input.c_str());
        return exit_input;
    }
    ensure_display(argc, argv);
    const char *display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        std::fprintf(stderr,
                     "%s: no X display for the host's OpenGL; run under `xvfb-run -a` or install "
                     "xvfb (scripts/setup does)\n",
                     program.c_str());
        return exit_plugin;
    }

    run_paths paths;
    // dlopen reads a bare file name as a library to search for, not a file here.
    paths.module_path =
        absolute(options.module_path.empty() ? PINVALER_BUILT_MODULE : options.module_path);
    if (!options.data_dir.empty()) {
        paths.data_dir = options.data_dir;
    } else {
        paths.data_dir = PINVALER_SOURCE_DATA_DIR;
        if (!options.module_path.empty())
            for (const std::string &dir : installed_data_dirs(paths.module_path))
                if (exists(dir)) {
                    paths.data_dir = dir;
                    break;
                }
    }
    paths.data_dir = absolute(paths.data_dir);

    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
    return run_preview(options, paths, interrupted);
}

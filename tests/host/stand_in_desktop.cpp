#include "stand_in_desktop.h"
#include "host_environment.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Stays open, as a viewer would, until the test has taken the record.
constexpr char viewer_script[] = R"(#!/bin/sh
record="$(dirname "$0")/opened"
printf '%s\n%s\n' "$$" "$1" > "$record.part" && mv "$record.part" "$record"
n=0
while [ -e "$record" ] && [ "$n" -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
)";

struct stand_in_desktop {
    fs::path root = fs::temp_directory_path() / ("pinvaler-desktop-" + std::to_string(getpid()));

    stand_in_desktop() {
        fs::remove_all(root);
        fs::create_directories(root / "data" / "applications");
        fs::create_directories(root / "config");
        fs::create_directories(root / "config-dirs");
        fs::create_directories(root / "data-dirs");
        // The system's MIME database, so that GIO still knows a PDF when it sees one.
        if (!fs::exists("/usr/share/mime/mime.cache"))
            std::fprintf(stderr, "stand-in desktop: no MIME database (shared-mime-info)\n");
        fs::create_directory_symlink("/usr/share/mime", root / "data" / "mime");
        std::ofstream(root / "viewer") << viewer_script;
        fs::permissions(root / "viewer", fs::perms::owner_all);
        // NoFuse: GIO hands the URI over as given instead of turning it into a path.
        std::ofstream(root / "data" / "applications" / "pinvaler-stand-in-viewer.desktop")
            << "[Desktop Entry]\nType=Application\nName=Stand-in viewer\nExec="
            << (root / "viewer").string() << " %u\nMimeType=application/pdf;\nX-GIO-NoFuse=true\n";
        std::ofstream(root / "config" / "mimeapps.list")
            << "[Default Applications]\napplication/pdf=pinvaler-stand-in-viewer.desktop\n";

        setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
        setenv("XDG_DATA_DIRS", (root / "data-dirs").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (root / "config-dirs").c_str(), 1);
        // No session bus: nothing autolaunched that outlives the tests, no portal.
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (root / "no-bus").string()).c_str(), 1);
    }
    ~stand_in_desktop() { fs::remove_all(root); }
};

stand_in_desktop &desktop() {
    static stand_in_desktop instance;
    return instance;
}

} // namespace

void install_stand_in_desktop() {
    desktop();
}

bool open_request_pending() {
    return fs::exists(desktop().root / "opened");
}

std::optional<open_request> take_open_request() {
    const fs::path record = desktop().root / "opened";
    if (!wait_until([&] { return fs::exists(record); }))
        return std::nullopt;
    std::ifstream in(record);
    pid_t viewer = 0;
    open_request request;
    in >> viewer;
    in.ignore(1);
    std::getline(in, request.uri);
    request.viewer_running = viewer > 0 && kill(viewer, 0) == 0;
    fs::remove(record);
    return request;
}

std::vector<int> child_processes() {
    std::vector<int> children;
    for (const fs::directory_entry &entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
            continue;
        // After the command name: state, then parent pid.
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        std::string state;
        int parent = 0;
        if (rest >> state >> parent && parent == getpid())
            children.push_back(std::stoi(entry.path().filename().string()));
    }
    return children;
}

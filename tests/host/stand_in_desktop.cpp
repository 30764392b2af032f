#include "stand_in_desktop.h"
#include "host_environment.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path root = fs::temp_directory_path() / ("pinvaler-desktop-" + std::to_string(getpid()));
const fs::path record = root / "opened";

// Stays open, as a viewer would, until the test has taken the record.
constexpr char viewer_script[] = R"(#!/bin/sh
record="$(dirname "$0")/opened"
printf '%s %s\n' "$$" "$1" > "$record.part" && mv "$record.part" "$record"
n=0
while [ -e "$record" ] && [ "$n" -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
)";

struct stand_in_desktop {
    stand_in_desktop() {
        fs::remove_all(root);
        fs::create_directories(root / "data" / "applications");
        fs::create_directories(root / "config");
        // The system's MIME database, so that GIO still knows a PDF when it sees one.
        fs::create_directory_symlink("/usr/share/mime", root / "data" / "mime");
        std::ofstream(root / "viewer") << viewer_script;
        fs::permissions(root / "viewer", fs::perms::owner_all);
        // NoFuse: GIO hands the URI over as given instead of turning it into a path.
        std::ofstream(root / "data" / "applications" / "pinvaler-viewer.desktop")
            << "[Desktop Entry]\nType=Application\nName=Stand-in viewer\nExec="
            << (root / "viewer").string() << " %u\nMimeType=application/pdf;\nX-GIO-NoFuse=true\n";
        std::ofstream(root / "config" / "mimeapps.list")
            << "[Default Applications]\napplication/pdf=pinvaler-viewer.desktop\n";
        // No system folders (no real viewer), no session bus (nothing autolaunched, no portal).
        setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
        setenv("XDG_DATA_DIRS", (root / "none").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (root / "none").c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (root / "no-bus").string()).c_str(), 1);
    }
    ~stand_in_desktop() { fs::remove_all(root); }
};

} // namespace

void install_stand_in_desktop() {
    static stand_in_desktop desktop;
}

bool open_request_pending() {
    return fs::exists(record);
}

std::optional<open_request> take_open_request() {
    if (!wait_until([] { return fs::exists(record); }))
        return std::nullopt;
    pid_t viewer = 0;
    open_request request;
    std::ifstream(record) >> viewer >> request.uri;
    request.viewer_running = viewer > 0 && kill(viewer, 0) == 0;
    fs::remove(record);
    return request;
}

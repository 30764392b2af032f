#include "stand_in_desktop.h"
#include "host_environment.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;
const fs::path root = fs::temp_directory_path() / ("pinvaler-desktop-" + std::to_string(getpid()));
} // namespace

void install_stand_in_desktop() {
    fs::remove_all(root);
    fs::create_directories(root / "data" / "applications");
    fs::create_directories(root / "config");
    // The system's MIME database, so that GIO still knows a PDF when it sees one.
    fs::create_directory_symlink("/usr/share/mime", root / "data" / "mime");
    // Stays open a while, as a viewer would: a click that waited for it would be seen.
    std::ofstream(root / "viewer") << "#!/bin/sh\necho \"$$ $1\" > \"$0.part\"\n"
                                      "mv \"$0.part\" \"$(dirname \"$0\")/opened\"\nsleep 2\n";
    fs::permissions(root / "viewer", fs::perms::owner_all);
    // NoFuse: GIO hands the URI over as given instead of turning it into a path.
    std::ofstream(root / "data" / "applications" / "pinvaler-viewer.desktop")
        << "[Desktop Entry]\nType=Application\nName=Stand-in viewer\nExec="
        << (root / "viewer").string() << " %u\nMimeType=application/pdf;\nX-GIO-NoFuse=true\n";
    std::ofstream(root / "config" / "mimeapps.list")
        << "[Default Applications]\napplication/pdf=pinvaler-viewer.desktop\n";
    // No system folders (no real viewer), no session bus (nothing autolaunched, no portal).
    for (const auto &[name, path] : {std::pair{"XDG_DATA_HOME", "data"},
                                     {"XDG_DATA_DIRS", "none"},
                                     {"XDG_CONFIG_HOME", "config"},
                                     {"XDG_CONFIG_DIRS", "none"}})
        setenv(name, (root / path).c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (root / "no-bus").string()).c_str(), 1);
    std::atexit([] { fs::remove_all(root); });
}

bool open_request_pending() {
    return fs::exists(root / "opened");
}

open_request take_open_request() {
    open_request request{"", false};
    pid_t viewer = 0;
    if (wait_until(open_request_pending) && std::ifstream(root / "opened") >> viewer >> request.uri)
        request.viewer_running = kill(viewer, 0) == 0;
    fs::remove(root / "opened");
    return request;
}

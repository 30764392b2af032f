#pragma once

#include <optional>
#include <string>
#include <vector>

// A desktop of our own for GIO, so that no test ever starts a real viewer:
// PDFs open with a stand-in viewer that records what it was asked to open.
// Constraint: GIO reads the XDG variables once per process, at its first
// application lookup, and setenv is unsafe once other threads run, so this is
// installed once at the very start of the host test binary, before the host
// starts (the host environment does it). Later calls do nothing.
void install_stand_in_desktop();

struct open_request {
    std::string uri;
    bool viewer_running; // still open when the request was taken
};

// Waits for the stand-in viewer's next request and lets the viewer close.
std::optional<open_request> take_open_request();
// True when a request is waiting, without waiting for one.
bool open_request_pending();

// Processes whose parent is this process; a zombie left behind shows here.
std::vector<int> child_processes();

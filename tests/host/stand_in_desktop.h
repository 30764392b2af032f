#pragma once

#include <string>

// A desktop of our own for GIO, so that no test ever starts a real viewer: PDFs open with a
// stand-in viewer that records what it was asked to open. GIO reads the XDG variables once, and
// setenv is unsafe once other threads run, so the host environment installs it before the host.
void install_stand_in_desktop();

struct open_request {
    std::string uri;     // empty: no request came
    bool viewer_running; // still open when the request was taken
};

// Waits for the stand-in viewer's next request.
open_request take_open_request();
// True when a request is waiting, without waiting for one.
bool open_request_pending();

#pragma once

// Asks the desktop to open a file with the user's default application.
// True when the request was accepted; does not wait for the application.
// A null or empty path fails.
bool open_with_default_app(const char *utf8_path);

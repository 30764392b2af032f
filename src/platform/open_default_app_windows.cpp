#include "platform/open_default_app.h"

#include <windows.h>
#include <shellapi.h>

namespace {
constexpr int wide_path_units = 4096; // terminator included
}

bool open_with_default_app(const char *utf8_path) {
    if (!utf8_path || !*utf8_path)
        return false;
    // Zero also when the path with its terminator does not fit.
    wchar_t wide_path[wide_path_units];
    if (MultiByteToWideChar(CP_UTF8, 0, utf8_path, -1, wide_path, wide_path_units) <= 0)
        return false;
    // The shell hands the file to its viewer and returns without waiting for it.
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", wide_path, nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

#include "platform/open_default_app.h"

#include <CoreFoundation/CoreFoundation.h>
#include <CoreServices/CoreServices.h>
#include <cstring>

bool open_with_default_app(const char *utf8_path) {
    if (!utf8_path || !*utf8_path)
        return false;
    // A relative path is based on the working directory; resolved whole before the hand-over.
    CFURLRef relative = CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(utf8_path),
        static_cast<CFIndex>(std::strlen(utf8_path)), false);
    if (!relative)
        return false;
    CFURLRef url = CFURLCopyAbsoluteURL(relative);
    CFRelease(relative);
    if (!url)
        return false;
    // Launch Services hands the file to its viewer and returns without waiting for it.
    const OSStatus status = LSOpenCFURLRef(url, nullptr);
    CFRelease(url);
    return status == noErr;
}

// Shared helpers of the Win32 backend: the Windows headers, and UTF-8 paths
// turned into extended-length UTF-16 within the library's path limit.
#ifndef KATRACE_WIN32_UTIL_H
#define KATRACE_WIN32_UTIL_H

#ifndef WIN32_LEAN_AND_MEAN
#  define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#  define NOMINMAX
#endif
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

// Paths of more than this many UTF-8 bytes or UTF-16 units are refused.
const int PLAT_MAX_PATH_UNITS = static_cast<int>(PLAT_MAX_PATH);

// Attributes of an entry that is not a regular file: a directory, a reparse
// point (symbolic link, junction, mount point) or a device.
const DWORD PLAT_NOT_REGULAR_ATTRIBUTES =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

// True when a regular file stands at path (GetFileAttributesW reports a
// reparse point itself, not its target); otherwise false with the last error
// set, ERROR_CANT_ACCESS_FILE for an entry of another kind.
inline bool plat_regular_entry(const wchar_t* path) {
    const DWORD attrs = GetFileAttributesW(path);
    if (attrs == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attrs & PLAT_NOT_REGULAR_ATTRIBUTES)) return true;
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
}

// A UTF-16 text (terminated) converted into buf (size bytes); false, with
// buf empty, when it does not fit.
inline bool plat_utf8_out(const wchar_t* wide, char* buf, size_t size) {
    const int limit = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    if (plat_utf16_to_utf8(wide, buf, limit) != 0) return true;
    buf[0] = 0;
    return false;
}

// A UTF-8 path converted to UTF-16 in a buffer of its own, full paths in
// their extended-length form (plat_long_path) so that the system's 260-unit
// limit does not apply. ok() is false for a null, overlong or unconvertible
// path, with the last error set accordingly.
class wide_path_c {
public:
    explicit wide_path_c(const char* path) : ok_(false) {
        buf_[0] = 0;
        char long_form[PLAT_MAX_PATH];
        if (!path) {
            SetLastError(ERROR_INVALID_PARAMETER);
        } else if (!plat_long_path(path, long_form, sizeof long_form) ||
                   plat_utf8_to_utf16(long_form, buf_, PLAT_MAX_PATH_UNITS + 1) == 0) {
            buf_[0] = 0;
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        } else {
            ok_ = true;
        }
    }
    wide_path_c(const wide_path_c&) = delete;
    wide_path_c& operator=(const wide_path_c&) = delete;
    bool ok() const { return ok_; }
    const wchar_t* get() const { return buf_; }

private:
    wchar_t buf_[PLAT_MAX_PATH_UNITS + 1];
    bool ok_;
};

#endif

// The running executable: its module image and its path.
#include "platform/win32/win32_util.h"

// The module handle of the executable is the address of its image.
const unsigned char* plat_exe_image() {
    return reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
}

// GetModuleFileNameW converted to UTF-8; false (buf empty) when either
// does not fit.
bool plat_exe_path(char* buf, size_t size) {
    if (!buf || size == 0) return false;
    buf[0] = 0;
    wchar_t wide[PLAT_MAX_PATH_UNITS + 1];
    const DWORD n = GetModuleFileNameW(nullptr, wide, PLAT_MAX_PATH_UNITS + 1);
    if (n == 0 || n > static_cast<DWORD>(PLAT_MAX_PATH_UNITS)) return false;
    return plat_utf8_out(wide, buf, size);
}

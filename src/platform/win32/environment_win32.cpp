// Environment variables of the process, read as UTF-16 and converted.
#include "platform/win32/win32_util.h"

bool plat_environment(const char* name, char* buf, size_t size) {
    if (!buf || size == 0) return false;
    buf[0] = 0;
    if (!name) return false;
    wchar_t wide_name[64];
    if (plat_utf8_to_utf16(name, wide_name, 64) == 0) return false;
    wchar_t value[PLAT_MAX_PATH_UNITS + 1];
    const DWORD n = GetEnvironmentVariableW(wide_name, value, PLAT_MAX_PATH_UNITS + 1);
    if (n == 0 || n > static_cast<DWORD>(PLAT_MAX_PATH_UNITS)) return false;
    return plat_utf8_out(value, buf, size);
}

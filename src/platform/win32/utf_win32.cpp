// UTF-8 <-> UTF-16 through the system's conversion functions, code page
// 65001, flags 0, with the terminator counted as for NUL-terminated input.
#include "platform/win32/win32_util.h"

#include <climits>

// Converts the text without its terminator and adds the terminator itself:
// some implementations let an incomplete sequence just before the end
// swallow the terminator. A null target is a size query, as a size of 0 is;
// a target that is too small stays untouched.
int plat_utf8_to_utf16(const char* src, katr_wchar_t* dst, int dst_units) {
    if (!src || dst_units < 0) return 0;
    const size_t len = strlen(src);
    if (len >= static_cast<size_t>(INT_MAX)) return 0;
    int n = 0;
    if (len > 0) {
        n = MultiByteToWideChar(CP_UTF8, 0, src, static_cast<int>(len), nullptr, 0);
        if (n <= 0 || n == INT_MAX) return 0;
    }
    if (!dst || dst_units == 0) return n + 1;
    if (n + 1 > dst_units) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (len > 0 && MultiByteToWideChar(CP_UTF8, 0, src, static_cast<int>(len), dst, n) != n) return 0;
    dst[n] = 0;
    return n + 1;
}

// Length -1: the terminator is converted and counted. No default character:
// code page 65001 does not accept one.
int plat_utf16_to_utf8(const katr_wchar_t* src, char* dst, int dst_bytes) {
    if (!src || dst_bytes < 0) return 0;
    if (!dst) dst_bytes = 0;
    return WideCharToMultiByte(CP_UTF8, 0, src, -1, dst, dst_bytes, nullptr, nullptr);
}

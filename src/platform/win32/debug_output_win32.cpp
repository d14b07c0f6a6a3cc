// Debugger output on Windows: OutputDebugStringW, always available.
#include "platform/win32/win32_util.h"

bool plat_debug_output_active() {
    return true;
}

// Widens the text (on the stack when short) for OutputDebugStringW; the
// last error is kept as the caller left it.
void plat_debug_output(const char* text, size_t length) {
    if (!text || !length) return;
    const void* nul = memchr(text, 0, length);
    size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length;
    if (!n) return;
    if (n > 0x7FFFFFFF) n = 0x7FFFFFFF;
    const DWORD saved = GetLastError();
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0);
    wchar_t local[2048];
    wchar_t* wide = units < static_cast<int>(sizeof local / sizeof local[0])
                        ? local
                        : static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (static_cast<size_t>(units) + 1) * sizeof(wchar_t)));
    if (units > 0 && wide) {
        MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(n), wide, units);
        wide[units] = 0;
        OutputDebugStringW(wide);
    }
    if (wide && wide != local) HeapFree(GetProcessHeap(), 0, wide);
    SetLastError(saved);
}

// Windows has no viewer endpoint of ours.
const char* plat_debug_endpoint() {
    return "";
}

void plat_set_debug_endpoint(const char* path) {
    (void)path;
}

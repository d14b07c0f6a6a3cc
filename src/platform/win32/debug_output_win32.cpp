// Debugger output on Windows: OutputDebugStringW, always available.
#include "platform/win32/win32_util.h"

bool plat_debug_output_active() {
    return true;
}

void plat_debug_output(const katr_wchar_t* text) {
    if (text) OutputDebugStringW(text);
}

// Windows has no viewer endpoint of ours.
const char* plat_debug_endpoint() {
    return "";
}

void plat_set_debug_endpoint(const char* path) {
    (void)path;
}

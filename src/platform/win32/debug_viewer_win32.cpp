// The viewer end of the debugger output does not exist on Windows: texts go
// to OutputDebugStringW, which the system's own debuggers read.
#include "platform/win32/win32_util.h"

intptr_t plat_debug_viewer_open(const char* endpoint) {
    (void)endpoint;
    SetLastError(ERROR_NOT_SUPPORTED);
    return -1;
}

int plat_debug_viewer_receive(intptr_t viewer, char* buf, size_t size, unsigned timeout_ms) {
    (void)viewer;
    (void)timeout_ms;
    if (buf && size) buf[0] = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return -1;
}

void plat_debug_viewer_close(intptr_t viewer) {
    (void)viewer;
}

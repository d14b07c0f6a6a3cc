// Links to the newest log file are not made on Windows: a symbolic link
// needs a right (or developer mode) that a service account may not have,
// and a log that fails with it would be worse than a log without the link.
// The atomic exchange has no Win32 counterpart either: callers fall back to
// separate moves.
#include "platform/win32/win32_util.h"

bool plat_replace_link(const char*, const char*) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool plat_read_link(const char*, char* target, size_t size) {
    if (target && size) target[0] = 0;
    return false;
}

bool plat_delete_link(const char*) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

// MoveFileEx cannot swap two names in one step.
int plat_exchange_files(const char*, const char*) {
    return 0;
}

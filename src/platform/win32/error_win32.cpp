// The last system error code of the calling thread.
#include "platform/win32/win32_util.h"

unsigned long plat_last_error() {
    return GetLastError();
}

void plat_set_last_error(unsigned long code) {
    SetLastError(code);
}

bool plat_error_in_use(unsigned long code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

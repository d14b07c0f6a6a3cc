// The last system error code of the calling thread.
#include "platform/win32/win32_util.h"

unsigned long plat_last_error() {
    return GetLastError();
}

void plat_set_last_error(unsigned long code) {
    SetLastError(code);
}
